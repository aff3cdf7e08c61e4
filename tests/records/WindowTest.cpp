// The records window driven through its named controls, offscreen, with a recorder in place of
// its message boxes.
#include "RecordFiles.h"
#include "RecordPane.h"
#include "Recorder.h"
#include "RecordsWindow.h"

#include "DictionaryRecords.h"
#include "ScratchDir.h"
#include "TestFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include <gtest/gtest.h>

#include <fstream>
#include <set>

namespace {

using records::RecordsWindow;
using recordstest::Recorder;

class Window : public testing::Test
{
protected:
    Window() { window.setPresenter(std::make_unique<Recorder>(log)); }

    template <class T> T* control(const char* name)
    {
        T* found = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QTableView* table() { return control<QTableView>("recordsTable"); }
    int column(const char* name)
    {
        for (size_t c = 0; c < window.model()->layout().fields.size(); ++c)
            if (window.model()->layout().fields[c].name == name)
                return int(c);
        ADD_FAILURE() << "no column " << name;
        return 0;
    }
    QString cell(int row, int col)
    {
        return window.model()->data(window.model()->index(row, col), Qt::DisplayRole).toString();
    }
    QString label(const char* name) { return control<QLabel>(name)->text(); }

    testsupport::ScratchDir dir;
    Recorder::Log log;
    RecordsWindow window;
};

TEST_F(Window, EveryControlHasItsName)
{
    for (const char* name : {"recordsTable", "recordPane", "orderCombo", "descendingCheck",
             "findKeyCombo", "findEdit", "findButton", "encodingCombo", "layoutSourceLabel",
             "readOnlyLabel", "recordCountLabel"})
        EXPECT_NE(window.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
    for (const char* name :
        {"actionOpen", "actionExport", "actionQuit", "actionAutomaticLayout", "actionKeyLayout",
            "actionLoadLayout", "actionInsertBlank", "actionInsertCopy", "actionDelete"})
        EXPECT_NE(window.findChild<QAction*>(QString::fromLatin1(name)), nullptr) << name;
}

TEST_F(Window, OurOwnFileOpensEditableWithItsKeysToOrderBy)
{
    const std::string path = dir.file("CUSTOMER.BTR");
    recordstest::makeOwnFile(path, 200);
    ASSERT_TRUE(window.openFile(QString::fromStdString(path)));
    EXPECT_TRUE(log.errors.isEmpty()) << log.errors.join("\n").toStdString();
    EXPECT_EQ(table()->model()->rowCount(), 200);
    EXPECT_EQ(label("readOnlyLabel"), QStringLiteral("Editable"));
    EXPECT_TRUE(label("layoutSourceLabel").startsWith(QStringLiteral("Fields inferred")))
        << label("layoutSourceLabel").toStdString();
    EXPECT_EQ(label("recordCountLabel"), QStringLiteral("200 records"));
    auto* order = control<QComboBox>("orderCombo");
    ASSERT_EQ(order->count(), 3);
    EXPECT_EQ(order->itemText(0), QStringLiteral("Physical order"));
    EXPECT_TRUE(order->itemText(1).startsWith(QStringLiteral("Key 0 (")));
    EXPECT_TRUE(control<QAction>("actionInsertBlank")->isEnabled());

    window.useKeyLayout();
    EXPECT_EQ(label("layoutSourceLabel").left(21), QStringLiteral("Fields from the keys;"));
    const int id = column("key0");
    EXPECT_EQ(cell(0, id), QStringLiteral("0"));
    // Room for 20 letters of name beside an integer's digits.
    EXPECT_GT(table()->columnWidth(column("key1")), table()->columnWidth(id) * 3 / 2);
    control<QCheckBox>("descendingCheck")->setChecked(true);
    EXPECT_EQ(cell(0, id), QStringLiteral("199"));
    order->setCurrentIndex(0);
    EXPECT_EQ(window.model()->order().key, -1);
    EXPECT_EQ(cell(0, id), QString::number(recordstest::idOf(199, 200)));
}

TEST_F(Window, TheDictionaryBesideTheFileNamesItsColumns)
{
    const std::string path = dir.file("CUST.BTR");
    recordstest::makeOwnFile(path, 30);
    testsupport::createFile(dir.file("FILE.DDF"), testsupport::fileDdfDefinition());
    testsupport::insertRecords(
        dir.file("FILE.DDF"), {testsupport::tableRecord(1, "Clients", "CUST.BTR")});
    testsupport::createFile(dir.file("FIELD.DDF"), testsupport::fieldDdfDefinition());
    testsupport::insertRecords(dir.file("FIELD.DDF"),
        {testsupport::fieldRecord(1, 1, "ClientId", btr::exttype::Integer, 0, 4),
            testsupport::fieldRecord(2, 1, "Surname", btr::exttype::String, 4, 20),
            testsupport::fieldRecord(3, 1, "Joined", btr::exttype::Date, 24, 4)});
    testsupport::createFile(dir.file("INDEX.DDF"), testsupport::indexDdfDefinition());
    ASSERT_TRUE(window.openFile(QString::fromStdString(path)));
    EXPECT_TRUE(label("layoutSourceLabel").startsWith(QStringLiteral("Fields from the dictionary")))
        << label("layoutSourceLabel").toStdString();
    EXPECT_EQ(cell(4, column("Surname")), QStringLiteral("NAME 0004"));
    EXPECT_EQ(cell(4, column("Joined")), QStringLiteral("2004-05-05"));
    const QString tip
        = window.model()->headerData(column("Surname"), Qt::Horizontal, Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.contains(QStringLiteral("source: dictionary"))) << tip.toStdString();
}

TEST_F(Window, FindMovesToTheKeyValueAndSaysWhatWentWrong)
{
    const std::string path = dir.file("FIND.BTR");
    recordstest::makeOwnFile(path, 500);
    ASSERT_TRUE(window.openFile(QString::fromStdString(path)));
    window.useKeyLayout();
    auto* keys = control<QComboBox>("findKeyCombo");
    auto* edit = control<QLineEdit>("findEdit");
    auto* go = control<QPushButton>("findButton");
    struct Case
    {
        int key;
        const char* text;
        int row;            // -1: not moved
        const char* status; // the start of what the status bar says
    } cases[] = {
        {0, "321", 321, "Found at row 322"},
        {0, " 17 ", 17, "Found at row 18"},
        {0, "99999", -1, "Not found"},
        {0, "abc", -1, "Cannot find \"abc\""},
        {0, "5000000000", -1, "Cannot find"},
        {1, "NAME 0002", 20, "Found at row 21"},
        {1, "NAME 00025", 30, "Found at row 31"},
        {1, "ZZZ", -1, "Not found"},
    };
    for (const Case& c : cases) {
        table()->setCurrentIndex(window.model()->index(0, 0));
        keys->setCurrentIndex(keys->findData(c.key));
        edit->setText(QString::fromLatin1(c.text));
        go->click();
        EXPECT_TRUE(window.statusText().startsWith(QString::fromLatin1(c.status)))
            << c.text << ": " << window.statusText().toStdString();
        if (c.row >= 0) {
            EXPECT_EQ(table()->currentIndex().row(), c.row) << c.text;
            EXPECT_EQ(window.model()->order().key, c.key);
        }
    }
    EXPECT_TRUE(log.errors.isEmpty());
}

TEST_F(Window, ThePaneMarksTheColumnsBytesAndAByteChoosesItsColumn)
{
    const std::string path = dir.file("PANE.BTR");
    recordstest::makeOwnFile(path, 10);
    ASSERT_TRUE(window.openFile(QString::fromStdString(path)));
    window.useKeyLayout();
    auto* pane = control<records::RecordPane>("recordPane");
    const int name = column("key1");
    table()->setCurrentIndex(window.model()->index(3, name));
    ASSERT_EQ(pane->recordLength(), int(recordstest::RecordLength));
    // Bytes 4 to 23 marked: on the first line bytes 4-15, on the second 16-23, hex and text.
    const QList<QTextEdit::ExtraSelection> marks = pane->extraSelections();
    ASSERT_EQ(marks.size(), 4);
    EXPECT_EQ(marks[0].cursor.selectionStart(), pane->hexCharacter(4));
    EXPECT_EQ(marks[1].cursor.selectedText(), QStringLiteral("NAME 0003   "));
    EXPECT_EQ(marks[2].cursor.selectionStart(), pane->hexCharacter(16));
    EXPECT_EQ(marks[3].cursor.selectedText(), QStringLiteral("        "));

    // A click on the hex of byte 1, then on the letter of byte 30: their columns are chosen.
    QTextCursor cursor = pane->textCursor();
    cursor.setPosition(pane->hexCharacter(1) + 1);
    pane->setTextCursor(cursor);
    EXPECT_EQ(table()->currentIndex().column(), column("key0"));
    EXPECT_EQ(table()->currentIndex().row(), 3);
    cursor.setPosition(pane->textCharacter(30));
    pane->setTextCursor(cursor);
    const fields::Field& f
        = window.model()->layout().fields[size_t(table()->currentIndex().column())];
    EXPECT_TRUE(f.offset <= 30 && 30 < f.offset + f.length) << f.name;
    // A drag over bytes 2 to 5 selects those bytes.
    cursor.setPosition(pane->hexCharacter(2));
    cursor.setPosition(pane->hexCharacter(5) + 2, QTextCursor::KeepAnchor);
    pane->setTextCursor(cursor);
    EXPECT_EQ(pane->selectedOffset(), 2);
    EXPECT_EQ(pane->selectedLength(), 4);
}

TEST_F(Window, InsertAndDeleteAskAndCount)
{
    const std::string path = dir.file("ROWS.BTR");
    recordstest::makeOwnFile(path, 5);
    ASSERT_TRUE(window.openFile(QString::fromStdString(path)));
    window.useKeyLayout();
    table()->setCurrentIndex(window.model()->index(4, 0));
    log.answer = false;
    control<QAction>("actionDelete")->trigger();
    EXPECT_EQ(log.questions.size(), 1);
    EXPECT_EQ(window.model()->rowCount(), 5);
    log.answer = true;
    control<QAction>("actionDelete")->trigger();
    EXPECT_EQ(window.model()->rowCount(), 4);
    EXPECT_EQ(label("recordCountLabel"), QStringLiteral("4 records"));
    table()->setCurrentIndex(window.model()->index(0, 0));
    control<QAction>("actionInsertCopy")->trigger();
    EXPECT_TRUE(window.statusText().contains(QStringLiteral("status 5")))
        << window.statusText().toStdString();
    EXPECT_EQ(testsupport::readRecords(path, 0).size(), 4u);
}

TEST_F(Window, AFileOfTheVendorsEngineIsReadOnly)
{
    const std::string path = dir.file("LEGACY.DAT");
    recordstest::makeLegacyFile(path, 100, legacytest::Version60, true);
    const std::vector<char> before = recordstest::fileBytes(path);
    ASSERT_TRUE(window.openFile(QString::fromStdString(path)));
    EXPECT_TRUE(label("readOnlyLabel").startsWith(QStringLiteral("Read-only")));
    for (const char* action : {"actionInsertBlank", "actionInsertCopy", "actionDelete"})
        EXPECT_FALSE(control<QAction>(action)->isEnabled()) << action;
    EXPECT_EQ(table()->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(table()->model()->rowCount(), 100);
    window.close();
    EXPECT_EQ(recordstest::fileBytes(path), before);
}

TEST_F(Window, AMissingFileIsToldAndNothingOpens)
{
    EXPECT_FALSE(window.openFile(QString::fromStdString(dir.file("NONE.DAT"))));
    ASSERT_EQ(log.errors.size(), 1);
    EXPECT_TRUE(log.errors[0].startsWith(QStringLiteral("Cannot open NONE.DAT: file not found")))
        << log.errors[0].toStdString();
    EXPECT_EQ(window.model(), nullptr);
    std::ofstream(dir.file("TEXT.DAT")) << "just some text, no data file at all\n";
    EXPECT_FALSE(window.openFile(QString::fromStdString(dir.file("TEXT.DAT"))));
    ASSERT_EQ(log.errors.size(), 2);
    EXPECT_TRUE(log.errors[1].contains(QStringLiteral("status 30"))) << log.errors[1].toStdString();
}

TEST_F(Window, ADamagedFileIsOfferedTheSalvageMode)
{
    const std::string path = dir.file("DAMAGED.DAT");
    const legacytest::WrittenLayout written
        = recordstest::makeLegacyFile(path, 400, legacytest::Version60);
    legacytest::damage(path, written, legacytest::Damage::EntryToOtherType);
    log.answer = false;
    EXPECT_FALSE(window.openFile(QString::fromStdString(path)));
    ASSERT_EQ(log.questions.size(), 1);
    EXPECT_TRUE(log.questions[0].contains(QStringLiteral("salvage mode")));
    EXPECT_EQ(window.model(), nullptr);

    log.answer = true;
    ASSERT_TRUE(window.openFile(QString::fromStdString(path)));
    EXPECT_TRUE(window.salvaging());
    ASSERT_EQ(log.reports.size(), 1);
    EXPECT_TRUE(log.reports[0].contains(QStringLiteral("Records that can be read:")));
    EXPECT_TRUE(label("readOnlyLabel").contains(QStringLiteral("salvage")));
    EXPECT_EQ(control<QComboBox>("orderCombo")->count(), 1);
    EXPECT_FALSE(control<QPushButton>("findButton")->isEnabled());
    // Every record the salvage gives is a row, each once.
    const int rows = window.model()->rowCount();
    EXPECT_GT(rows, 0);
    EXPECT_TRUE(log.reports[0].contains(QStringLiteral("Records that can be read: %1\n").arg(rows)))
        << log.reports[0].toStdString();
    std::set<uint32_t> ids;
    for (int row = 0; row < rows; ++row) {
        const std::vector<uint8_t>* r = window.model()->recordAt(row);
        ASSERT_NE(r, nullptr) << row;
        ids.insert(recordstest::idIn(*r));
    }
    EXPECT_EQ(ids.size(), size_t(rows));
}

TEST_F(Window, ALayoutFileThatDoesNotFitIsRefusedAndOneThatDoesIsShown)
{
    const std::string path = dir.file("LAYOUT.BTR");
    recordstest::makeOwnFile(path, 10);
    ASSERT_TRUE(window.openFile(QString::fromStdString(path)));
    const std::string bad = dir.file("bad.json");
    std::ofstream(bad) << "{ not json";
    EXPECT_FALSE(window.loadLayout(QString::fromStdString(bad)));
    ASSERT_EQ(log.errors.size(), 1);
    EXPECT_TRUE(log.errors[0].startsWith(QStringLiteral("Cannot use the layout")));
    const std::string good = dir.file("good.json");
    std::ofstream(good) << R"({"recordLength": 40, "variableLength": false, "fields": [
        {"name": "id", "position": 1, "length": 4, "type": "integer", "decimals": 0},
        {"name": "customer", "position": 5, "length": 20, "type": "string", "decimals": 0},
        {"name": "joined", "position": 25, "length": 4, "type": "date", "decimals": 0}]})";
    ASSERT_TRUE(window.loadLayout(QString::fromStdString(good)));
    EXPECT_TRUE(label("layoutSourceLabel").startsWith(QStringLiteral("Fields from a layout file")));
    EXPECT_EQ(cell(2, column("customer")), QStringLiteral("NAME 0002"));
    EXPECT_EQ(cell(2, column("joined")), QStringLiteral("2002-03-03"));
}

TEST_F(Window, AnEncryptedFileAsksForItsOwnerName)
{
    const std::string path = dir.file("SECRET.DAT");
    legacytest::LegacyFileSpec spec;
    spec.version = legacytest::Version60;
    spec.records = 20;
    spec.rule = [](uint32_t i, std::vector<uint8_t>& r) { r = recordstest::record(i, 20); };
    spec.definition.pageSize = 1024;
    spec.definition.recordLength = recordstest::RecordLength;
    recman::Key ids;
    ids.segments.push_back(
        {1, 4, recman::keyflag::ExtendedType, 20, btr::exttype::Integer, 0, 0, 0, 0});
    spec.definition.keys = {ids};
    spec.owner.set = true;
    spec.owner.mode = 2;
    legacytest::writeLegacyFile(path, spec);
    EXPECT_FALSE(window.openFile(QString::fromStdString(path)));
    EXPECT_EQ(log.ownerAsked.size(), 1);
    log.owner = QStringLiteral("ANYNAME");
    ASSERT_TRUE(window.openFile(QString::fromStdString(path)));
    EXPECT_EQ(log.ownerAsked.size(), 2);
    EXPECT_EQ(window.fileRef().owner, "ANYNAME");
    const std::vector<uint8_t>* first = window.model()->recordAt(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(recordstest::idIn(*first), 0u);
}

} // namespace
