// The window's controls: names, captions, start-up contents, tab order, and a layout in which
// nothing overlaps and every number fits its field.
#include "WindowFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <cstdio>

namespace {

using StartUp = WindowTest;

TEST_F(StartUp, GridsHaveTheirHeadersAndEmptyBodies)
{
    TStringGrid* keys = window->GrKeys;
    ASSERT_EQ(keys->rowCount(), 14);
    ASSERT_EQ(keys->colCount(), 10);
    const QStringList headers {"Key", "Pos", "Lenght", "Flags", "NumKeys", "ExtType", "NullVal",
        "Reserv", "NumManual", "NumACS"};
    EXPECT_EQ(rowTexts(0), headers);
    for (int c = 0; c < 10; ++c)
        EXPECT_EQ(keys->horizontalHeaderItem(c)->text(), headers[c]);
    for (int r = 1; r < 14; ++r)
        EXPECT_EQ(rowTexts(r).join(QString()), QString()) << r;
    EXPECT_LE(keys->columnWidth(TVarnok::ColReserv), 3);

    TStringGrid* acs = window->ACSGrid;
    ASSERT_EQ(acs->rowCount(), 9);
    ASSERT_EQ(acs->colCount(), 33);
    for (int c = 0; c <= 32; ++c)
        EXPECT_EQ(acs->cell(c, 0), QString::number(c));
    for (int r = 1; r <= 8; ++r) {
        EXPECT_EQ(acs->cell(0, r), QString::number(r));
        for (int c = 1; c <= 32; ++c)
            EXPECT_TRUE(acs->cell(c, r).isEmpty());
    }
    EXPECT_TRUE(acs->tabKeyNavigation());
    EXPECT_FALSE(window->AcsShowsChars);
}

TEST_F(StartUp, ControlsCarryTheirNamesAndTexts)
{
    const std::pair<const char*, const char*> buttons[] = {{"BOpen", "Open"}, {"BDelete", "Delete"},
        {"BCreate", "Create"}, {"BCopy", "Copy"}, {"BMode", "Mode"}, {"BFileACS", "ACS to file"}};
    for (const auto& [name, text] : buttons) {
        auto* button = window->findChild<QPushButton*>(QString::fromLatin1(name));
        ASSERT_TRUE(button) << name;
        EXPECT_EQ(button->text(), QString::fromLatin1(text));
    }
    const char* const checkBoxes[][2] = {{"ChVarLen", "VarLen"}, {"ChBlankTranc", "BlankTranc"},
        {"ChPreAlloc", "PreAlloc"}, {"ChDataCompres", "DataCompres"}, {"ChKeyOnly", "KeyOnly"},
        {"ChIndexBalan", "IndexBalan"}, {"Ch10Free", "10Free"}, {"Ch20Free", "20Free"},
        {"ChDuplPoint", "DuplPoint"}, {"ChReserv", "Reserv"}, {"ChKeyNumSpec", "KeyNumSpec"},
        {"ChUseVATs", "UseVATs"}, {"ChDuplicates", "Duplicates"}, {"ChModifiable", "Modifiable"},
        {"ChBinary", "Binary"}, {"ChNullKey_AllSeg", "NullKeyAllSeg"}, {"ChSegmented", "Segmented"},
        {"ChACS", "ACS"}, {"ChDescending", "Descending"}, {"ChRepeatDupl", "RepeatDupl"},
        {"ChExtType", "ExtType"}, {"ChNullKey_AnySeg", "NullKeyAnySeg"},
        {"ChCaseInsens", "CaseInsens"}};
    for (const auto& box : checkBoxes) {
        auto* check = window->findChild<QCheckBox*>(QString::fromLatin1(box[0]));
        ASSERT_TRUE(check) << box[0];
        EXPECT_EQ(check->text(), QString::fromLatin1(box[1]));
        EXPECT_FALSE(check->isChecked());
    }
    const char* const edits[] = {"ETo", "ERecLen", "EPgSize", "ENIndex", "ENRec", "EFlags",
        "EExtraDupl", "EReserv", "ENPage", "EACSName"};
    for (const char* name : edits) {
        auto* edit = window->findChild<QLineEdit*>(QString::fromLatin1(name));
        ASSERT_TRUE(edit) << name;
        EXPECT_TRUE(edit->text().isEmpty()) << name;
    }
    EXPECT_EQ(window->findChild<QLineEdit*>("EFrom")->text(), QStringLiteral("*.BTR"));
    for (const char* name : {"GrKeys", "ACSGrid"})
        EXPECT_TRUE(window->findChild<QTableWidget*>(QString::fromLatin1(name))) << name;
    for (const char* name : {"BExtKey", "DriveComboBox", "FilterComboBox1"})
        EXPECT_TRUE(window->findChild<QComboBox*>(QString::fromLatin1(name))) << name;
    for (const char* name : {"DirectoryListBox", "FileListBox"})
        EXPECT_TRUE(window->findChild<QListWidget*>(QString::fromLatin1(name))) << name;
    auto* progress = window->findChild<QProgressBar*>("ProgressBar");
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->minimum(), 0);
    EXPECT_EQ(progress->maximum(), 100);
    EXPECT_EQ(progress->value(), 0);
    auto* size = window->findChild<QLabel*>("LSizeFile");
    ASSERT_TRUE(size);
    EXPECT_TRUE(size->text().isEmpty());

    QStringList items;
    for (int i = 0; i < window->BExtKey->count(); ++i)
        items << window->BExtKey->itemText(i);
    EXPECT_EQ(items,
        QStringList(
            {"String", "Integer", "Float", "Date", "Time", "Decimal", "Money", "Logical", "Numeric",
                "BFloat", "LString", "ZString", "Unsigned", "Autoincrement", "SignSeparate"}));
    EXPECT_TRUE(window->BExtKey->isEditable());
    EXPECT_TRUE(window->BExtKey->currentText().isEmpty());

    QStringList filters;
    for (int i = 0; i < window->FilterComboBox1->count(); ++i)
        filters << window->FilterComboBox1->itemText(i);
    EXPECT_EQ(
        filters, QStringList({"Btrive Files (*.BTR)", "DDF Files (*.DDF)", "All Files (*.*)"}));
    EXPECT_EQ(window->FilterComboBox1->currentIndex(), 0);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Varnok"));
}

TEST_F(StartUp, LabelsAreBoundToTheirControls)
{
    const std::pair<const char*, const char*> labels[]
        = {{"Source File", "EFrom"}, {"Destination File", "ETo"}, {"RecLen", "ERecLen"},
            {"PgSize", "EPgSize"}, {"NumIndex", "ENIndex"}, {"NRec", "ENRec"}, {"Flags", "EFlags"},
            {"ExtraDupl", "EExtraDupl"}, {"Reserv", "EReserv"}, {"NumPage", "ENPage"},
            {"Supplemental(V5.X)", "ChRepeatDupl"}, {"ExtKeyType", "BExtKey"},
            {"Name ACS", "EACSName"}};
    const QList<QLabel*> all = window->findChildren<QLabel*>();
    for (const auto& [text, buddy] : labels) {
        const QString caption = QString::fromLatin1(text);
        const auto it
            = std::find_if(all.begin(), all.end(), [&](QLabel* l) { return l->text() == caption; });
        ASSERT_NE(it, all.end()) << text;
        ASSERT_TRUE((*it)->buddy()) << text;
        EXPECT_EQ((*it)->buddy()->objectName(), QString::fromLatin1(buddy));
    }
    EXPECT_TRUE(std::any_of(all.begin(), all.end(),
        [](QLabel* l) { return l->text() == QStringLiteral("Open Size :"); }));
}

TEST_F(StartUp, FocusStartsInEFromAndTabFollowsTheControlOrder)
{
    QApplication::setActiveWindow(window.get());
    EXPECT_EQ(QApplication::focusWidget(), window->EFrom);
    const QStringList expected {"EFrom", "ETo", "BOpen", "BDelete", "BCreate", "BCopy", "ERecLen",
        "EPgSize", "ENIndex", "ENRec", "EFlags", "EExtraDupl", "EReserv", "ENPage", "ChVarLen",
        "ChBlankTranc", "ChPreAlloc", "ChDataCompres", "ChKeyOnly", "ChIndexBalan", "Ch10Free",
        "Ch20Free", "ChDuplPoint", "ChReserv", "ChKeyNumSpec", "ChUseVATs", "GrKeys",
        "ChDuplicates", "ChModifiable", "ChBinary", "ChNullKey_AllSeg", "ChSegmented", "ChACS",
        "ChDescending", "ChRepeatDupl", "ChExtType", "ChNullKey_AnySeg", "ChCaseInsens", "BExtKey",
        "DriveComboBox", "DirectoryListBox", "FileListBox", "FilterComboBox1", "ProgressBar",
        "ACSGrid", "EACSName", "BMode", "BFileACS"};
    QStringList chain;
    QWidget* w = window->EFrom;
    for (int i = 0; i < expected.size(); ++i) {
        // A combo box's line edit stands for the combo box in the chain.
        QWidget* named = w;
        while (named && named->objectName().isEmpty())
            named = named->parentWidget();
        chain << (named ? named->objectName() : QString());
        do
            w = w->nextInFocusChain();
        while (
            w->focusPolicy() == Qt::NoFocus || w->isHidden() || w->parentWidget() != window.get());
    }
    EXPECT_EQ(chain, expected);
}

TEST_F(StartUp, ClosingWithoutAnOpenFileMakesNoRecordManagerCall)
{
    ASSERT_TRUE(window->BtrFile);
    EXPECT_FALSE(window->BtrFile->IsOpen);
    // No call went out at start-up: the object still holds its initial status and operation.
    EXPECT_EQ(window->BtrFile->Status, 0);
    EXPECT_EQ(window->BtrFile->LastOp, 0);
    window->OnDestroy();
    EXPECT_FALSE(window->BtrFile);
}

// Rectangles of the window's direct children that a user sees.
std::vector<std::pair<QString, QRect>> visibleControls(QWidget* window)
{
    std::vector<std::pair<QString, QRect>> controls;
    for (QObject* child : window->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (w && w->isVisible())
            controls.emplace_back(w->objectName(), w->geometry());
    }
    return controls;
}

TEST_F(StartUp, NoTwoControlsOverlapAndAllLieInsideTheWindow)
{
    const auto controls = visibleControls(window.get());
    ASSERT_GT(controls.size(), 60u);
    const QRect client = window->rect();
    for (size_t i = 0; i < controls.size(); ++i) {
        EXPECT_TRUE(client.contains(controls[i].second)) << controls[i].first.toStdString();
        for (size_t j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE(controls[i].second.intersects(controls[j].second))
                << controls[i].first.toStdString() << " overlaps "
                << controls[j].first.toStdString();
    }
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
}

TEST_F(StartUp, EveryNumberAFieldCanHoldIsLegible)
{
    const auto fits = [](QWidget* w, const QString& text, int room) {
        return w->fontMetrics().horizontalAdvance(text) + 4 <= room;
    };
    const std::pair<QLineEdit*, const char*> edits[]
        = {{window->ERecLen, "-32768"}, {window->EPgSize, "-32768"}, {window->ENIndex, "-32768"},
            {window->ENRec, "-2147483648"}, {window->EFlags, "-32768"}, {window->EExtraDupl, "255"},
            {window->EReserv, "255"}, {window->ENPage, "-32768"}};
    for (const auto& [edit, widest] : edits) {
        const QRect room
            = edit->style()->subElementRect(QStyle::SE_LineEditContents, nullptr, edit);
        const int inner
            = edit->width() - 2 * edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
        (void)room;
        EXPECT_TRUE(fits(edit, QString::fromLatin1(widest), inner - 4))
            << edit->objectName().toStdString();
    }
    const char* const widest[]
        = {"119", "-32768", "-32768", "-32768", "-2147483648", "255", "255", nullptr, "255", "255"};
    for (int c = 0; c < 10; ++c) {
        if (!widest[c])
            continue;
        EXPECT_TRUE(fits(
            window->GrKeys, QString::fromLatin1(widest[c]), window->GrKeys->columnWidth(c) - 6))
            << c;
    }
    for (int c = 1; c <= 32; ++c)
        EXPECT_TRUE(
            fits(window->ACSGrid, QStringLiteral("255"), window->ACSGrid->columnWidth(c) - 4));
}

// The corner where ACSGrid's two headers meet shows the corner cell's text, "0", as the header
// sections beside it show theirs.
TEST_F(StartUp, TheCornerOfACSGridShowsItsHeaderText)
{
    auto* corner
        = window->ACSGrid->findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_NE(corner, nullptr);
    ASSERT_TRUE(corner->isVisible());
    ASSERT_GT(corner->width(), 4);
    ASSERT_EQ(window->ACSGrid->cell(0, 0), QStringLiteral("0"));
    const QImage shown = corner->grab().toImage();
    window->ACSGrid->setCell(0, 0, QString());
    const QImage blank = corner->grab().toImage();
    EXPECT_NE(shown, blank);
    window->ACSGrid->setCell(0, 0, QStringLiteral("0"));
    EXPECT_EQ(corner->grab().toImage(), shown);
}

TEST_F(StartUp, RendersToAPicture)
{
    window->GrKeys->setCell(4, 1, QStringLiteral("-2147483648"));
    window->GrKeys->setCell(1, 1, QStringLiteral("-32768"));
    window->ENRec->setText(QStringLiteral("-2147483648"));
    window->ERecLen->setText(QStringLiteral("-32768"));
    window->EExtraDupl->setText(QStringLiteral("255"));
    for (int i = 0; i < 256; ++i)
        window->ACSGrid->setCell(i % 32 + 1, i / 32 + 1, QString::number(i));
    const QString path = QDir(QString::fromUtf8(VARNOK_TEST_OUTPUT_DIR))
                             .absoluteFilePath(QStringLiteral("varnok-window.png"));
    ASSERT_TRUE(window->grab().save(path));
    std::printf("window picture: %s\n", qPrintable(path));
}

} // namespace
