// The window's controls and where they stand: building them, their geometry and tab order, and
// placing the window at the centre of its screen. The wiring, editing and commands are in
// Unit1.cpp.
#include "Unit1.h"

#include "ProgressBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

namespace {

constexpr const char* FileFilter
    = "Btrive Files (*.BTR)|*.BTR|DDF Files (*.DDF)|*.DDF|All Files (*.*)|*.*";
// The widest text each kind of number can take.
const QString Widest8 = QStringLiteral("255");
const QString Widest16 = QStringLiteral("-32768");
const QString Widest32 = QStringLiteral("-2147483648");

template <class W> W* named(W* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// One check box per flag bit, bit 0 first, captioned and named as the bit table says.
template <size_t N>
void buildFlagBoxes(
    QWidget* parent, std::array<QCheckBox*, N>& boxes, const std::array<spec::FlagBit, N>& bits)
{
    for (size_t i = 0; i < N; ++i)
        boxes[i]
            = named(new QCheckBox(QString::fromLatin1(bits[i].caption), parent), bits[i].checkBox);
}

} // namespace

void TVarnok::buildControls()
{
    EFrom = named(new QLineEdit(QStringLiteral("*.BTR"), this), "EFrom");
    ETo = named(new QLineEdit(this), "ETo");
    BOpen = named(new QPushButton(QStringLiteral("Open"), this), "BOpen");
    BDelete = named(new QPushButton(QStringLiteral("Delete"), this), "BDelete");
    BCreate = named(new QPushButton(QStringLiteral("Create"), this), "BCreate");
    BCopy = named(new QPushButton(QStringLiteral("Copy"), this), "BCopy");
    ERecLen = named(new QLineEdit(this), "ERecLen");
    EPgSize = named(new QLineEdit(this), "EPgSize");
    ENIndex = named(new QLineEdit(this), "ENIndex");
    ENRec = named(new QLineEdit(this), "ENRec");
    EFlags = named(new QLineEdit(this), "EFlags");
    EExtraDupl = named(new QLineEdit(this), "EExtraDupl");
    EReserv = named(new QLineEdit(this), "EReserv");
    ENPage = named(new QLineEdit(this), "ENPage");

    buildFlagBoxes(this, FileFlagBoxes, spec::FileFlagBits);
    ChVarLen = FileFlagBoxes[0];
    ChBlankTranc = FileFlagBoxes[1];
    ChPreAlloc = FileFlagBoxes[2];
    ChDataCompres = FileFlagBoxes[3];
    ChKeyOnly = FileFlagBoxes[4];
    ChIndexBalan = FileFlagBoxes[5];
    Ch10Free = FileFlagBoxes[6];
    Ch20Free = FileFlagBoxes[7];
    ChDuplPoint = FileFlagBoxes[8];
    ChReserv = FileFlagBoxes[9];
    ChKeyNumSpec = FileFlagBoxes[10];
    ChUseVATs = FileFlagBoxes[11];

    // Two rows as the window is built; start-up sets the working size.
    GrKeys = named(new TStringGrid(KeyColumnCount, 2, false, this), "GrKeys");
    GrKeys->setEditorAlwaysShown(true);
    GrKeys->setTabKeyNavigation(false);

    buildFlagBoxes(this, KeyFlagBoxes, spec::KeyFlagBits);
    ChDuplicates = KeyFlagBoxes[0];
    ChModifiable = KeyFlagBoxes[1];
    ChBinary = KeyFlagBoxes[2];
    ChNullKey_AllSeg = KeyFlagBoxes[3];
    ChSegmented = KeyFlagBoxes[4];
    ChACS = KeyFlagBoxes[5];
    ChDescending = KeyFlagBoxes[6];
    ChRepeatDupl = KeyFlagBoxes[7];
    ChExtType = KeyFlagBoxes[8];
    ChNullKey_AnySeg = KeyFlagBoxes[9];
    ChCaseInsens = KeyFlagBoxes[10];

    BExtKey = named(new QComboBox(this), "BExtKey");
    BExtKey->setEditable(true);
    BExtKey->setInsertPolicy(QComboBox::NoInsert);
    // No completion: what the user types is the text, item or not.
    BExtKey->setCompleter(nullptr);
    for (const spec::ExtType& type : spec::ExtTypes)
        BExtKey->addItem(QString::fromLatin1(type.text));
    BExtKey->setCurrentIndex(-1);
    BExtKey->setEditText(QString());

    DriveComboBox = named(new TDriveComboBox(this), "DriveComboBox");
    DirectoryListBox = named(new TDirectoryListBox(this), "DirectoryListBox");
    FileListBox = named(new TFileListBox(this), "FileListBox");
    FilterComboBox1 = named(new TFilterComboBox(this), "FilterComboBox1");
    FilterComboBox1->setFilter(QString::fromLatin1(FileFilter));
    DriveComboBox->setDirList(DirectoryListBox);
    DirectoryListBox->setFileList(FileListBox);
    FilterComboBox1->setFileList(FileListBox);
    FileListBox->setMask(FilterComboBox1->mask());
    FileListBox->setFileEdit(EFrom);

    ProgressBar = named(new TProgressBar(this), "ProgressBar");
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);

    ACSGrid = named(new TStringGrid(AcsColumns, 2, true, this), "ACSGrid");
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(11);
    ACSGrid->setFont(mono);
    ACSGrid->setEditorAlwaysShown(false);
    ACSGrid->setTabKeyNavigation(true);
    ACSGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    EACSName = named(new QLineEdit(this), "EACSName");
    BMode = named(new QPushButton(QStringLiteral("Mode"), this), "BMode");
    BFileACS = named(new QPushButton(QStringLiteral("ACS to file"), this), "BFileACS");
    LSizeFile = named(new QLabel(this), "LSizeFile");

    // Tab order as the controls were listed above.
    QWidget* const order[] = {EFrom, ETo, BOpen, BDelete, BCreate, BCopy, ERecLen, EPgSize, ENIndex,
        ENRec, EFlags, EExtraDupl, EReserv, ENPage, ChVarLen, ChBlankTranc, ChPreAlloc,
        ChDataCompres, ChKeyOnly, ChIndexBalan, Ch10Free, Ch20Free, ChDuplPoint, ChReserv,
        ChKeyNumSpec, ChUseVATs, GrKeys, ChDuplicates, ChModifiable, ChBinary, ChNullKey_AllSeg,
        ChSegmented, ChACS, ChDescending, ChRepeatDupl, ChExtType, ChNullKey_AnySeg, ChCaseInsens,
        BExtKey, DriveComboBox, DirectoryListBox, FileListBox, FilterComboBox1, ProgressBar,
        ACSGrid, EACSName, BMode, BFileACS};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    ProgressBar->setFocusPolicy(Qt::TabFocus);
}

void TVarnok::arrangeControls()
{
    const QFontMetrics fm(font());
    const auto textWidth = [&fm](const QString& text) { return fm.horizontalAdvance(text); };
    const auto label = [this](const char* name, const char* text, QWidget* buddy) {
        auto* l = named(new QLabel(QString::fromLatin1(text), this), name);
        l->setBuddy(buddy);
        l->setTextFormat(Qt::PlainText);
        l->adjustSize();
        return l;
    };
    const int lineHeight = 22;
    const int editPad = 14;

    // Column of the file-selection controls.
    const int xA = 4;
    const int wA = 150;
    DriveComboBox->setGeometry(xA, 6, wA, lineHeight);
    DirectoryListBox->setGeometry(xA, 30, wA, 92);
    FileListBox->setGeometry(xA, 126, wA, 160);
    auto* openSize = label("LOpenSize", "Open Size :", nullptr);
    openSize->move(xA, 292);
    LSizeFile->setGeometry(
        xA + openSize->width() + 4, 292, wA - openSize->width() - 4, openSize->height());

    // Column of the eight header edits, each wide enough for every value of its field.
    const int xB = xA + wA + 10;
    struct HeaderEdit
    {
        QLineEdit* edit;
        const char* labelName;
        const char* caption;
        const QString& widest;
        int y;
    };
    const HeaderEdit headerEdits[] = {
        {ERecLen, "LRecLen", "RecLen", Widest16, 59},
        {EPgSize, "LPgSize", "PgSize", Widest16, 86},
        {ENIndex, "LNIndex", "NumIndex", Widest16, 114},
        {ENRec, "LNRec", "NRec", Widest32, 141},
        {EFlags, "LFlags", "Flags", Widest16, 169},
        {EExtraDupl, "LExtraDupl", "ExtraDupl", Widest8, 196},
        {EReserv, "LReserv", "Reserv", Widest8, 224},
        {ENPage, "LNPage", "NumPage", Widest16, 251},
    };
    const int labelX = xB + textWidth(Widest32) + editPad + 6;
    int xC = 0;
    for (const HeaderEdit& h : headerEdits) {
        h.edit->setGeometry(xB, h.y, textWidth(h.widest) + editPad, lineHeight);
        auto* l = label(h.labelName, h.caption, h.edit);
        l->move(labelX, h.y + (lineHeight - l->height()) / 2);
        xC = std::max(xC, labelX + l->width() + 10);
    }
    auto* fromLabel = label("LFrom", "Source File", EFrom);
    auto* toLabel = label("LTo", "Destination File", ETo);
    fromLabel->move(xB, 4 + (lineHeight - fromLabel->height()) / 2);
    toLabel->move(xB, 30 + (lineHeight - toLabel->height()) / 2);
    xC = std::max(xC, xB + toLabel->width() + 10);

    // Column of the file-flag boxes. Each box is as wide as its caption, so that a click
    // anywhere on it toggles it.
    int wC = 0;
    for (QCheckBox* box : FileFlagBoxes)
        wC = std::max(wC, box->sizeHint().width());
    for (size_t i = 0; i < FileFlagBoxes.size(); ++i)
        FileFlagBoxes[i]->setGeometry(
            xC, 58 + 18 * static_cast<int>(i), FileFlagBoxes[i]->sizeHint().width(), 18);
    FilterComboBox1->setGeometry(
        xB, 284, std::max(FilterComboBox1->sizeHint().width(), xC + wC - xB), lineHeight);

    // The key segment grid: every column as wide as its widest number or its header.
    const QString widest[KeyColumnCount] = {Widest8, Widest16, Widest16, Widest16, Widest32,
        Widest8, Widest8, QString(), Widest8, Widest8};
    int gridWidth = 2 * GrKeys->frameWidth()
        + GrKeys->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, GrKeys);
    for (int c = 0; c < KeyColumnCount; ++c) {
        // The reserved column is all but hidden: it is passed through, never edited.
        const int w = c == ColReserv
            ? 3
            : std::max(textWidth(widest[c]), textWidth(QString::fromLatin1(KeyHeaders[c]))) + 12;
        GrKeys->setColumnWidth(c, w);
        gridWidth += w;
    }
    GrKeys->verticalHeader()->setDefaultSectionSize(18);
    GrKeys->horizontalHeader()->setFixedHeight(20);
    GrKeys->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    GrKeys->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const int xD = xC + wC + 6;
    GrKeys->setGeometry(xD, 62, gridWidth, 246);

    // Column of the key-flag boxes and the extended type.
    const int xE = xD + gridWidth + 8;
    // Eight boxes, the "Supplemental(V5.X)" label, then the last three boxes.
    const int keyFlagY[] = {59, 76, 93, 110, 127, 144, 161, 178, 213, 230, 247};
    int wE = 0;
    for (QCheckBox* box : KeyFlagBoxes)
        wE = std::max(wE, box->sizeHint().width());
    wE = std::max(wE, BExtKey->sizeHint().width());
    for (size_t i = 0; i < KeyFlagBoxes.size(); ++i)
        KeyFlagBoxes[i]->setGeometry(xE, keyFlagY[i], KeyFlagBoxes[i]->sizeHint().width(), 17);
    auto* supplemental = label("LSupplemental", "Supplemental(V5.X)", ChRepeatDupl);
    supplemental->move(xE + 8, 196);
    auto* extKeyType = label("LExtKeyType", "ExtKeyType", BExtKey);
    extKeyType->move(xE + 8, 267);
    BExtKey->setGeometry(xE, 284, wE, lineHeight);
    wE = std::max(wE, supplemental->width() + 8);

    // Names and buttons along the top.
    const int buttonWidth = 76;
    const int xButtons = xD + gridWidth - 2 * (buttonWidth + 6) - buttonWidth + 40;
    EFrom->setGeometry(xC, 4, xButtons - xC - 12, lineHeight);
    ETo->setGeometry(xC, 30, xButtons - xC - 12, lineHeight);
    BOpen->setGeometry(xButtons, 4, buttonWidth, lineHeight + 2);
    BDelete->setGeometry(xButtons + buttonWidth + 6, 4, buttonWidth, lineHeight + 2);
    BFileACS->setGeometry(xButtons + 2 * (buttonWidth + 6), 4, buttonWidth + 10, lineHeight + 2);
    BCreate->setGeometry(xButtons, 30, buttonWidth, lineHeight + 2);
    BCopy->setGeometry(xButtons + buttonWidth + 6, 30, buttonWidth, lineHeight + 2);

    int width = std::max(xE + wE, BFileACS->geometry().right() + 1) + 6;

    // The collating sequence: its name, the Mode button and the 8 x 32 grid, all rows in view.
    const int yBottom = 316;
    auto* acsName = label("LACSName", "Name ACS", EACSName);
    acsName->move(xA, yBottom);
    const int wName = std::max(textWidth(QStringLiteral("WWWWWWWW")) + editPad, 80);
    EACSName->setGeometry(xA, yBottom + 18, wName, lineHeight);
    BMode->setGeometry(xA, yBottom + 46, wName, 26);
    const QFontMetrics mono(ACSGrid->font());
    const int acsRow = 18;
    const int xAcs = xA + wName + 8;
    const int acsHeaderWidth = mono.horizontalAdvance(QStringLiteral("88")) + 8;
    const int acsFixedWidth = 2 * ACSGrid->frameWidth() + acsHeaderWidth;
    // Room for a three-digit code in every cell; wider when the window is wider anyway.
    const int acsColumn = std::max(
        mono.horizontalAdvance(Widest8) + 8, (width - 4 - xAcs - acsFixedWidth) / (AcsColumns - 1));
    ACSGrid->horizontalHeader()->setDefaultSectionSize(acsColumn);
    ACSGrid->verticalHeader()->setDefaultSectionSize(acsRow);
    ACSGrid->horizontalHeader()->setFixedHeight(acsRow);
    ACSGrid->verticalHeader()->setFixedWidth(acsHeaderWidth);
    const int acsWidth = acsFixedWidth + (AcsColumns - 1) * acsColumn;
    const int acsHeight = 2 * ACSGrid->frameWidth() + AcsRows * acsRow;
    ACSGrid->setGeometry(xAcs, yBottom, acsWidth, acsHeight);
    width = std::max(width, xAcs + acsWidth + 4);

    const int yProgress = yBottom + acsHeight + 6;
    ProgressBar->setGeometry(0, yProgress, width, 16);
    setFixedSize(width, yProgress + 16);
}

void TVarnok::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (centred_)
        return;
    centred_ = true;
    if (const QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}
