#include "CodePageTexts.h"

#include <cerrno>
#include <iconv.h>

namespace testsupport {

const std::vector<LanguageSamples>& codePageSamples()
{
    static const std::vector<LanguageSamples> samples {
        {"German",
            {"Jörg Böhm", "Straße der Einheit", "Bäckerei Müller", "Günther Weiß, Fürstenfeld",
                "Grüne Äpfel", "Lößnitz", "Öl und Gewürze", "Größe: Übergröße"},
            "Protokoll der Jahreshauptversammlung. Der Vorsitzende begrüßte die anwesenden "
            "Mitglieder und stellte fest, dass die Versammlung ordnungsgemäß einberufen wurde. "
            "Anschließend berichtete der Kassenwart über die Einnahmen und Ausgaben des "
            "vergangenen Jahres; die Kassenprüfer bestätigten eine einwandfreie Buchführung. "
            "Für das kommende Jahr sind ein Sommerfest, eine Fahrt nach Würzburg und die "
            "Erneuerung der Heizungsanlage im Vereinsheim geplant. Die Beiträge bleiben "
            "unverändert. Unter Verschiedenes wurde angeregt, die Öffnungszeiten der Bücherei "
            "zu verlängern und die Grünfläche hinter dem Gebäude zu pflegen."},
        {"French",
            {"Pâtisserie Hébert", "Élodie Lemaître", "Château de Fontainebleau", "Crème brûlée",
                "François Bézier", "Forêt noire, pièce", "Hôtel de la Gare, Nîmes",
                "Réglé le 12 août"},
            "Compte rendu de la réunion du conseil. Le président a ouvert la séance en "
            "remerciant les membres présents, puis a rappelé l'ordre du jour. Le trésorier a "
            "présenté le bilan de l'exercice écoulé : les recettes ont légèrement augmenté "
            "grâce aux cotisations, tandis que les dépenses d'entretien du bâtiment sont restées "
            "stables. Il a été décidé à l'unanimité de repeindre la façade, de remplacer les "
            "fenêtres du rez-de-chaussée et d'organiser une fête de quartier au mois de "
            "septembre. La prochaine réunion aura lieu le premier mercredi d'octobre."},
        {"Spanish",
            {"Muñoz Peña", "Jesús Cortés", "Cigüeña, calle Mayor", "Azúcar moreno",
                "Señora Begoña Núñez", "Almacén de Cádiz", "Camión frigorífico",
                "Información general"},
            "Acta de la reunión de la junta directiva. El presidente abrió la sesión dando la "
            "bienvenida a los asistentes y recordó el orden del día. A continuación, el tesorero "
            "presentó las cuentas del ejercicio anterior, que fueron aprobadas por unanimidad. "
            "Se acordó renovar la calefacción del local social, pintar la fachada y organizar "
            "una excursión a Córdoba en primavera. También se habló de la necesidad de "
            "contratar a un técnico informático para mantener los ordenadores de la oficina. "
            "Sin más asuntos que tratar, se levantó la sesión a las nueve y media."},
        {"Portuguese",
            {"Conceição Brandão", "Padaria São João", "Avenida da Liberdade, Lisboa",
                "Açúcar e limão", "Sebastião Magalhães", "Pão de ló", "Peças de reposição",
                "Endereço: Belém"},
            "Ata da reunião da direção. O presidente abriu a sessão cumprimentando os presentes "
            "e leu a ordem de trabalhos. Em seguida, o tesoureiro apresentou as contas do ano "
            "anterior, que foram aprovadas por unanimidade. Decidiu-se renovar o aquecimento da "
            "sede, pintar a fachada e organizar uma excursão ao Porto na primavera. Também se "
            "discutiu a contratação de um técnico para manter os computadores do escritório e a "
            "substituição das cadeiras da sala de reuniões. Não havendo mais assuntos, a sessão "
            "foi encerrada às nove e meia da noite."},
        {"Italian",
            {"Niccolò Caffè", "Pasticceria Santoro, Forlì", "Perché no?", "Attività commerciale",
                "Via Libertà", "Società cooperativa", "Ciò che è dovuto", "Università di Cantù"},
            "Verbale della riunione del consiglio direttivo. Il presidente ha aperto la seduta "
            "salutando i presenti e ha letto l'ordine del giorno. Il tesoriere ha poi illustrato "
            "il bilancio dell'anno precedente, che è stato approvato all'unanimità. Si è deciso "
            "di rinnovare l'impianto di riscaldamento della sede, di ridipingere la facciata e "
            "di organizzare una gita a Firenze in primavera. È stata inoltre discussa la "
            "possibilità di assumere un tecnico per la manutenzione dei computer dell'ufficio. "
            "Non essendovi altro da discutere, la seduta è stata tolta alle ventuno e trenta."},
        {"Dutch",
            {"Coördinator inkoop", "Café België", "Reünie der oud-leerlingen", "Financiële zaken",
                "Geïnteresseerde klanten", "Ideeën en plannen", "Zeeën en rivieren",
                "Knieën en enkels"},
            "Verslag van de ledenvergadering. De voorzitter opende de vergadering en heette alle "
            "aanwezigen welkom. De penningmeester lichtte de financiële stukken toe; de "
            "kascommissie had de boeken gecontroleerd en geen onregelmatigheden gevonden. Het "
            "bestuur stelde voor de contributie ongewijzigd te laten en in het voorjaar een "
            "reünie te organiseren voor alle oud-leden. Verder werd besloten de verwarming van "
            "het clubhuis te vernieuwen. Na de rondvraag sloot de voorzitter de vergadering om "
            "tien uur en bedankte iedereen voor de inbreng en de geïnteresseerde vragen."},
        {"Swedish",
            {"Åsa Lindbäck", "Järnvägsgatan, Växjö", "Smörgåsbord", "Björn Sjögren",
                "Kött och fläsk", "Fönsterputs AB", "Räkor och ägg", "Göran Ödmark"},
            "Protokoll från årsmötet. Ordföranden hälsade alla välkomna och förklarade mötet "
            "öppnat. Kassören redogjorde för föreningens ekonomi under det gångna året; "
            "revisorerna hade granskat räkenskaperna och föreslog att styrelsen skulle beviljas "
            "ansvarsfrihet, vilket mötet beslutade. Styrelsen föreslog att medlemsavgiften "
            "skulle höjas med tjugo kronor och att en studieresa till Göteborg skulle anordnas "
            "i höst. Under övriga frågor diskuterades renoveringen av föreningslokalens kök. "
            "Ordföranden tackade för visat intresse och avslutade mötet."},
        {"Danish",
            {"Søren Kjær", "Fløde og smør", "Ærø Rederi", "Bøgevej, Hørsholm", "Jørgen Møller",
                "Blåbærgrød", "Kålhoved og æbler", "Sønderjysk kaffebord"},
            "Referat af generalforsamlingen. Formanden bød velkommen og konstaterede, at "
            "generalforsamlingen var lovligt indkaldt. Kassereren fremlagde det reviderede "
            "regnskab, som blev godkendt uden bemærkninger. Bestyrelsen foreslog, at "
            "kontingentet forblev uændret, og at der i foråret skulle arrangeres en udflugt til "
            "Skagen. Desuden blev det besluttet at udskifte de gamle vinduer i klubhuset og male "
            "facaden. Under eventuelt blev der spurgt til mulighederne for at låne lokalerne ud "
            "til private fester. Formanden takkede for god ro og orden."},
        {"Norwegian",
            {"Øyvind Sæther", "Bjørnstjerne vei, Tønsberg", "Blåbærsyltetøy", "Kjøttkaker og løk",
                "Ørjan Hølaas", "Fiskesuppe på kjøkkenet", "Sjøfartsdirektoratet",
                "Gården på Tjøme"},
            "Protokoll fra årsmøtet. Styrelederen ønsket velkommen og konstaterte at møtet var "
            "lovlig innkalt. Kassereren la fram regnskapet for det forløpne året, som ble "
            "godkjent uten merknader. Styret foreslo at kontingenten skulle være uendret, og at "
            "det i løpet av høsten skulle arrangeres en tur til Trondheim. Videre ble det "
            "vedtatt å skifte ut de gamle vinduene i klubbhuset og male fasaden. Under "
            "eventuelt ble det spurt om muligheten for å leie ut lokalene til private "
            "selskaper. Styrelederen takket for et godt møte."},
        {"Finnish",
            {"Jääskeläinen Päivi", "Kärkkäisen kauppa", "Hämeenlinna, Äänekoski", "Sähkötyöt Oy",
                "Pöytä ja tuolit", "Ylöjärven kirjasto", "Mäkelä Tuomas", "Kylmälaukku"},
            "Vuosikokouksen pöytäkirja. Puheenjohtaja avasi kokouksen ja toivotti läsnäolijat "
            "tervetulleiksi. Rahastonhoitaja esitteli edellisen vuoden tilinpäätöksen, jonka "
            "tilintarkastajat olivat tarkastaneet. Kokous vahvisti tilinpäätöksen ja myönsi "
            "hallitukselle vastuuvapauden. Hallitus ehdotti, että jäsenmaksu pidetään ennallaan "
            "ja että syksyllä järjestetään retki Tampereelle. Lisäksi päätettiin uusia "
            "kerhotalon lämmitysjärjestelmä. Muissa asioissa keskusteltiin tilojen "
            "vuokraamisesta yksityistilaisuuksiin. Puheenjohtaja päätti kokouksen."},
        {"Czech",
            {"Jiří Řezníček", "Tř. Svobody, Plzeň", "Kožená obuv", "Přímá úhrada", "Věra Šťastná",
                "Účetní doklad", "Hořčice a ocet", "Ústí nad Orlicí"},
            "Zápis z výroční členské schůze. Předseda zahájil schůzi, přivítal přítomné členy a "
            "konstatoval, že schůze je usnášeníschopná. Pokladník přednesl zprávu o hospodaření "
            "za uplynulý rok; revizní komise nezjistila žádné nedostatky. Výbor navrhl ponechat "
            "členské příspěvky beze změny a na jaře uspořádat zájezd do Českého Krumlova. Dále "
            "bylo rozhodnuto opravit střechu klubovny a vyměnit okna v přízemí. V diskusi se "
            "hovořilo o možnosti pronajímat sál na soukromé oslavy. Předseda poděkoval všem za "
            "účast a schůzi ukončil."},
        {"Slovak",
            {"Ľudovít Štúr", "Kováčska ulica, Košice", "Mäsiarstvo Ďurica", "Päť jabĺk",
                "Dôchodkové poistenie", "Ťažká technika", "Žilinská mliekáreň", "Čaj a káva"},
            "Zápisnica z výročnej členskej schôdze. Predseda otvoril schôdzu, privítal "
            "prítomných členov a skonštatoval, že schôdza je uznášaniaschopná. Pokladník "
            "predniesol správu o hospodárení za uplynulý rok; revízna komisia nezistila žiadne "
            "nedostatky. Výbor navrhol ponechať členské príspevky bez zmeny a na jar "
            "zorganizovať zájazd do Vysokých Tatier. Ďalej sa rozhodlo opraviť strechu "
            "klubovne a vymeniť okná na prízemí. V diskusii sa hovorilo o možnosti prenajímať "
            "sálu na súkromné oslavy. Predseda poďakoval všetkým za účasť."},
        {"Polish",
            {"Grzegorz Brzęczyszczykiewicz", "Łódź, ul. Piotrkowska", "Źródło wiedzy",
                "Mąka pszenna", "Jędrzej Śliwiński", "Żółć i miód", "Książka kucharska",
                "Gęś pieczona"},
            "Protokół z walnego zebrania członków. Przewodniczący otworzył zebranie, powitał "
            "obecnych i stwierdził, że zebranie jest prawomocne. Skarbnik przedstawił "
            "sprawozdanie finansowe za ubiegły rok; komisja rewizyjna nie wniosła zastrzeżeń. "
            "Zarząd zaproponował, aby składki członkowskie pozostały bez zmian, a wiosną "
            "zorganizowano wycieczkę do Zakopanego. Postanowiono również wymienić okna w "
            "świetlicy i odmalować elewację budynku. W wolnych wnioskach rozmawiano o "
            "możliwości wynajmowania sali na prywatne uroczystości. Przewodniczący podziękował "
            "wszystkim za udział."},
        {"Hungarian",
            {"Szőlősi Ödön", "Kőbánya, Fő utca", "Hűtőszekrény", "Gyümölcsös kert",
                "Tűzoltó egyesület", "Bőrkabát", "Üzletvezető", "Őrség"},
            "Jegyzőkönyv az éves közgyűlésről. Az elnök megnyitotta az ülést, köszöntötte a "
            "megjelenteket, és megállapította, hogy a közgyűlés határozatképes. A pénztáros "
            "beszámolt az elmúlt év gazdálkodásáról; a felügyelőbizottság nem talált "
            "hiányosságot. Az elnökség javasolta, hogy a tagdíj változatlan maradjon, és "
            "tavasszal kirándulást szervezzenek Egerbe. Döntöttek továbbá a klubház tetejének "
            "felújításáról és a földszinti ablakok cseréjéről. Az egyebek között szó esett a "
            "terem bérbeadásának lehetőségéről. Az elnök megköszönte a részvételt."},
        {"Slovenian",
            {"Žiga Šuštar", "Čevljarna Kočevje", "Šolski center", "Jožef Stanič",
                "Pečenka in žganci", "Ulica Črnuče", "Živilska trgovina", "Češnje in breskve"},
            "Zapisnik letnega občnega zbora. Predsednik je odprl sejo, pozdravil navzoče in "
            "ugotovil, da je zbor sklepčen. Blagajnik je predstavil finančno poročilo za "
            "preteklo leto; nadzorni odbor ni imel pripomb. Upravni odbor je predlagal, da "
            "članarina ostane nespremenjena in da se spomladi organizira izlet na Bled. Sklenili "
            "so tudi, da obnovijo streho društvenega doma in zamenjajo okna v pritličju. Pod "
            "razno so govorili o možnosti oddaje dvorane za zasebne prireditve. Predsednik se je "
            "vsem zahvalil za udeležbo."},
        {"Croatian",
            {"Đuro Čović", "Šibenska ulica, Zadar", "Ćevabdžinica Žarko", "Pečenjara",
                "Dražen Šimunić", "Košarkaški klub", "Čaša vode", "Zelje i grah"},
            "Zapisnik s godišnje skupštine. Predsjednik je otvorio sjednicu, pozdravio nazočne i "
            "utvrdio da skupština ima kvorum. Blagajnik je podnio financijsko izvješće za "
            "prošlu godinu; nadzorni odbor nije imao primjedbi. Upravni odbor predložio je da "
            "članarina ostane nepromijenjena te da se u proljeće organizira izlet u Dubrovnik. "
            "Odlučeno je i da se obnovi krov društvenog doma te zamijene prozori u prizemlju. "
            "Pod razno se razgovaralo o mogućnosti iznajmljivanja dvorane za privatne "
            "proslave. Predsjednik je svima zahvalio na sudjelovanju."},
        {"Romanian",
            {"Ştefan Mureşan", "Strada Ţepeş, Braşov", "Brânză de vaci", "Pâine şi ţuică",
                "Găină friptă", "Şcoala Gimnazială", "Mărţişor", "Învăţământ superior"},
            "Procesul-verbal al adunării generale. Preşedintele a deschis şedinţa, i-a salutat "
            "pe cei prezenţi şi a constatat că adunarea este statutară. Trezorierul a prezentat "
            "raportul financiar pentru anul trecut; comisia de cenzori nu a avut obiecţii. "
            "Consiliul director a propus ca cotizaţia să rămână neschimbată şi ca în primăvară "
            "să se organizeze o excursie la Sibiu. S-a hotărât de asemenea repararea "
            "acoperişului sediului şi înlocuirea ferestrelor de la parter. La diverse s-a "
            "discutat despre închirierea sălii pentru petreceri private."},
        {"Russian",
            {"Сидоренко Анна", "ул. Гагарина, д. 5", "Молоко пастеризованное", "Жёлтый",
                "ЗАО Восход", "Щербаков Юрий", "Цемент М500", "Счёт № 17"},
            "Протокол общего собрания членов товарищества. Председатель открыл собрание, "
            "поприветствовал присутствующих и сообщил, что кворум имеется. Казначей "
            "представил отчёт о расходовании средств за прошедший год; ревизионная комиссия "
            "замечаний не имела. Правление предложило оставить размер членских взносов без "
            "изменений и весной организовать поездку в Суздаль. Кроме того, решено "
            "отремонтировать крышу клуба и заменить окна на первом этаже. В разном обсуждали "
            "возможность сдачи зала в аренду для частных праздников. Председатель поблагодарил "
            "всех за участие."},
        {"Ukrainian",
            {"Гнатюк Ірина", "вул. Європейська", "Їдальня «Ґражда»", "Олійник Євген",
                "Пшеничне борошно", "Юрій Ющенко", "Будівельні матеріали", "Сільпо"},
            "Протокол загальних зборів членів товариства. Голова відкрив збори, привітав "
            "присутніх і повідомив, що кворум є. Скарбник представив звіт про витрачання "
            "коштів за минулий рік; ревізійна комісія зауважень не мала. Правління "
            "запропонувало залишити розмір членських внесків без змін і навесні організувати "
            "поїздку до Чернігова. Крім того, вирішено відремонтувати дах клубу та замінити "
            "вікна на першому поверсі. У різному обговорювали можливість здачі залу в оренду "
            "для приватних свят. Голова подякував усім за участь."},
        {"Belarusian",
            {"Шчаўлёў Янка", "вул. Ўсходняя", "Мясакамбінат", "Рэчыцкі раён", "Краўчук Алеся",
                "Хлебазавод", "Лідскае піва", "Гродзенская вобласць"},
            "Пратакол агульнага сходу членаў таварыства. Старшыня адкрыў сход, павітаў "
            "прысутных і паведаміў, што кворум ёсць. Скарбнік прадставіў справаздачу аб "
            "выдатках за мінулы год; рэвізійная камісія заўваг не мела. Праўленне прапанавала "
            "пакінуць памер членскіх узносаў без змен і вясной арганізаваць паездку ў "
            "Нясвіж. Акрамя таго, вырашана адрамантаваць дах клуба і замяніць вокны на першым "
            "паверсе. Старшыня падзякаваў усім за ўдзел."},
        {"Bulgarian",
            {"Стоянов Пъстрен", "ул. „Шипка“ 14", "Кисело мляко", "Ъгълова маса", "Щерьо Ганчев",
                "Хлебозавод Дружба", "Жълт кашкавал", "Тютюн и вино"},
            "Протокол от общото събрание на сдружението. Председателят откри събранието, "
            "поздрави присъстващите и съобщи, че има кворум. Касиерът представи отчет за "
            "разходите през изминалата година; контролният съвет нямаше забележки. "
            "Управителният съвет предложи членският внос да остане непроменен и през пролетта "
            "да се организира екскурзия до Мелник. Освен това беше решено да се ремонтира "
            "покривът на читалището и да се сменят прозорците на първия етаж. Председателят "
            "благодари на всички за участието."},
        {"Serbian",
            {"Ђорђевић Љубица", "Улица Његошева", "Ћевапџиница Џигерица", "Шљивовица",
                "Јовановић Ђуро", "Чачак, Жичка", "Хлеб и со", "Њушка"},
            "Записник са годишње скупштине удружења. Председник је отворио седницу, поздравио "
            "присутне и утврдио да постоји кворум. Благајник је поднео финансијски извештај за "
            "прошлу годину; надзорни одбор није имао примедби. Управни одбор је предложио да "
            "чланарина остане непромењена и да се у пролеће организује излет у Сремске "
            "Карловце. Одлучено је и да се поправи кров дома и замене прозори у приземљу. "
            "Председник се свима захвалио на учешћу."},
    };
    return samples;
}

bool encodeText(const std::string& utf8, const std::string& encoding, std::vector<uint8_t>& out)
{
    const iconv_t cd = ::iconv_open(encoding.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) // NOLINT(performance-no-int-to-ptr)
        return false;
    out.assign(utf8.size() * 4 + 16, 0);
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* to = reinterpret_cast<char*>(out.data());
    size_t toLeft = out.size();
    const bool ok = ::iconv(cd, &in, &inLeft, &to, &toLeft) != size_t(-1);
    ::iconv_close(cd);
    out.resize(out.size() - toLeft);
    return ok;
}

} // namespace testsupport
