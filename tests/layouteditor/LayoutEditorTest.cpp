// The layout editor as a person drives it: a field defined from bytes through its form, renamed,
// retyped and removed, each undone and redone to exactly the layout before and after; a refused
// edit that changes nothing and says why; the count of invalid values arriving from the
// background for the field changed, a newer edit superseding an older count; and a layout saved,
// loaded back the same, and driving varnok-cli's export unchanged.
#include "LayoutEditor.h"

#include "DefinitionImage.h"
#include "LayoutFile.h"
#include "LittleEndian.h"
#include "ScratchDir.h"
#include "TestFiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

using records::LayoutEditor;
using testsupport::Bytes;
using testsupport::DefinitionImage;
using testsupport::ScratchDir;
using testsupport::SegmentEntry;

namespace {

constexpr uint16_t RecordLength = 16;

// Records of an id, a date whose month is 13 in every fifth record, and a name.
std::string makeFile(const ScratchDir& dir, uint32_t records)
{
    DefinitionImage d;
    d.recordLength = RecordLength;
    d.pageSize = 1024;
    d.addKey({SegmentEntry {1, 4, testsupport::ExtendedTypeKey, 0, btr::exttype::Integer}});
    const std::string path = dir.file("PEOPLE.BTR");
    testsupport::createFile(path, d);
    std::vector<Bytes> rows;
    for (uint32_t i = 0; i < records; ++i) {
        Bytes r(RecordLength, ' ');
        btr::le::put32(r.data(), i);
        r[4] = uint8_t(1 + i % 28);
        r[5] = uint8_t(i % 5 == 0 ? 13 : 1 + i % 12);
        btr::le::put16(r.data() + 6, 1990);
        // Appended: GCC 12 at -O3 reports a false -Wrestrict on a literal + std::to_string.
        std::string name = "N";
        name += std::to_string(i);
        std::copy(name.begin(), name.end(), r.begin() + 8);
        rows.push_back(r);
    }
    testsupport::insertRecords(path, rows);
    return path;
}

fields::Layout keysLayout()
{
    fields::Layout l;
    l.recordLength = RecordLength;
    l.origin = "keys";
    fields::Field id;
    id.name = "id";
    id.length = 4;
    id.type.type = btr::exttype::Integer;
    id.source = fields::Source::Key;
    l.fields = {id};
    fields::completeLayout(l);
    return l;
}

fields::FieldForm form(const std::string& name, int offset, int length, const std::string& type)
{
    fields::FieldForm f;
    f.name = name;
    f.offset = offset;
    f.length = length;
    f.type = type;
    return f;
}

std::string json(const fields::Layout& l)
{
    return fields::layoutJson(l, "PEOPLE.BTR").dump();
}

// The fields alone, as a layout file gives them back (its origin names the file it came from).
std::string fieldsJson(const fields::Layout& l)
{
    return fields::layoutJson(l, "PEOPLE.BTR")["fields"].dump();
}

int indexOf(const LayoutEditor& editor, const std::string& name)
{
    const auto& fs = editor.layout().fields;
    for (size_t i = 0; i < fs.size(); ++i) {
        if (fs[i].name == name)
            return int(i);
    }
    return -1;
}

class LayoutEditorTest : public testing::Test
{
protected:
    void SetUp() override
    {
        path = makeFile(dir, 40);
        editor = std::make_unique<LayoutEditor>();
        editor->resize(720, 480);
        editor->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(editor.get()));
        editor->setFile({path, "", btr::mode::ReadOnly}, keysLayout(), "CP437");
        waitForCounts();
    }
    void TearDown() override { editor.reset(); }

    // Until the counts running have arrived: an event-loop wait, which the arrival ends.
    void waitForCounts()
    {
        while (editor->counting()) {
            QSignalSpy arrived(editor.get(), &LayoutEditor::invalidCounted);
            ASSERT_TRUE(arrived.wait(30000));
        }
    }

    template <typename T> T* child(const char* name)
    {
        T* w = editor->findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    QDialog* openForm()
    {
        for (QDialog* d : editor->findChildren<QDialog*>(QStringLiteral("layoutEditorForm"))) {
            if (d->isVisible())
                return d;
        }
        return nullptr;
    }

    ScratchDir dir;
    std::string path;
    std::unique_ptr<LayoutEditor> editor;
};

TEST_F(LayoutEditorTest, EveryControlHasItsName)
{
    for (const char* name : {"layoutEditorFields", "layoutEditorDefine", "layoutEditorChange",
             "layoutEditorRename", "layoutEditorRemove", "layoutEditorUndo", "layoutEditorRedo",
             "layoutEditorSave", "layoutEditorLoad", "layoutEditorCountStatus"})
        EXPECT_NE(editor->findChild<QWidget*>(QLatin1String(name)), nullptr) << name;
    editor->defineFieldAt(4, 4);
    QDialog* f = openForm();
    ASSERT_NE(f, nullptr);
    for (const char* name : {"layoutEditorFormName", "layoutEditorFormType",
             "layoutEditorFormPosition", "layoutEditorFormLength", "layoutEditorFormDecimals",
             "layoutEditorFormSigned", "layoutEditorFormError", "layoutEditorFormButtons",
             "layoutEditorFormOk", "layoutEditorFormCancel"})
        EXPECT_NE(f->findChild<QWidget*>(QLatin1String(name)), nullptr) << name;
    f->reject();
}

TEST_F(LayoutEditorTest, AFieldDefinedFromChosenBytesThroughTheForm)
{
    QSignalSpy changed(editor.get(), &LayoutEditor::layoutChanged);
    editor->defineFieldAt(4, 4);
    QDialog* f = openForm();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->findChild<QSpinBox*>("layoutEditorFormPosition")->value(), 5);
    EXPECT_EQ(f->findChild<QSpinBox*>("layoutEditorFormLength")->value(), 4);
    auto* name = f->findChild<QLineEdit*>("layoutEditorFormName");
    EXPECT_EQ(name->text(), "field_5");
    name->setText("born");
    auto* type = f->findChild<QComboBox*>("layoutEditorFormType");
    type->setCurrentIndex(type->findText("date"));
    QTest::mouseClick(f->findChild<QPushButton*>("layoutEditorFormOk"), Qt::LeftButton);
    EXPECT_FALSE(f->isVisible());
    EXPECT_EQ(changed.count(), 1);
    const int born = indexOf(*editor, "born");
    ASSERT_GE(born, 0);
    const fields::Field& field = editor->layout().fields[size_t(born)];
    EXPECT_EQ(field.offset, 4U);
    EXPECT_EQ(field.length, 4U);
    EXPECT_EQ(fields::typeName(field), "date");
    EXPECT_EQ(editor->undoStack()->count(), 1);
    EXPECT_EQ(editor->currentField(), born);
    waitForCounts();
    EXPECT_EQ(editor->invalidCount(born), 8); // records 0, 5, ..., 35
    EXPECT_EQ(child<QTableWidget>("layoutEditorFields")->item(born, 6)->text(), "8");
}

TEST_F(LayoutEditorTest, TheFormSaysWhyAnEditIsRefusedAndStaysOpen)
{
    const std::string before = json(editor->layout());
    QSignalSpy changed(editor.get(), &LayoutEditor::layoutChanged);
    editor->defineFieldAt(4, 3);
    QDialog* f = openForm();
    ASSERT_NE(f, nullptr);
    auto* type = f->findChild<QComboBox*>("layoutEditorFormType");
    type->setCurrentIndex(type->findText("integer"));
    QTest::mouseClick(f->findChild<QPushButton*>("layoutEditorFormOk"), Qt::LeftButton);
    EXPECT_TRUE(f->isVisible());
    EXPECT_EQ(f->findChild<QLabel*>("layoutEditorFormError")->text(),
        "Cannot define field field_5: type integer takes 1, 2, 4 or 8 bytes, not 3.");
    EXPECT_EQ(json(editor->layout()), before);
    EXPECT_EQ(changed.count(), 0);
    // Corrected in the form, the same OK defines it.
    f->findChild<QSpinBox*>("layoutEditorFormLength")->setValue(4);
    QTest::mouseClick(f->findChild<QPushButton*>("layoutEditorFormOk"), Qt::LeftButton);
    EXPECT_FALSE(f->isVisible());
    EXPECT_EQ(changed.count(), 1);
    EXPECT_GE(indexOf(*editor, "field_5"), 0);
}

TEST_F(LayoutEditorTest, EveryEditUndoesAndRedoesToExactlyTheLayoutsBeforeAndAfter)
{
    struct Case
    {
        const char* what;
        std::function<void(LayoutEditor&)> setup;
        std::function<bool(LayoutEditor&)> edit;
    };
    const Case cases[] = {
        {"define", {}, [](LayoutEditor& e) { return e.defineField(form("born", 4, 4, "date")); }},
        {"rename", {}, [](LayoutEditor& e) { return e.renameField(0, "customer"); }},
        {"change the type", {},
            [](LayoutEditor& e) {
                fields::FieldForm f = fields::formOf(e.layout().fields[0]);
                f.type = "unsignedbinary";
                return e.changeField(0, f);
            }},
        {"a filler made a field and named in one step", {},
            [](LayoutEditor& e) { return e.changeField(1, form("born", 4, 4, "date")); }},
        {"remove",
            [](LayoutEditor& e) { ASSERT_TRUE(e.defineField(form("name", 8, 8, "string"))); },
            [](LayoutEditor& e) { return e.removeField(indexOf(e, "name")); }},
        {"remove a key's field", {}, [](LayoutEditor& e) { return e.removeField(0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        editor->setFile({path, "", btr::mode::ReadOnly}, keysLayout(), "CP437");
        if (c.setup)
            c.setup(*editor);
        const int steps = editor->undoStack()->count();
        const std::string before = json(editor->layout());
        QSignalSpy changed(editor.get(), &LayoutEditor::layoutChanged);
        ASSERT_TRUE(c.edit(*editor));
        const std::string after = json(editor->layout());
        EXPECT_NE(after, before);
        EXPECT_EQ(editor->undoStack()->count(), steps + 1);
        QTest::mouseClick(child<QPushButton>("layoutEditorUndo"), Qt::LeftButton);
        EXPECT_EQ(json(editor->layout()), before);
        QTest::mouseClick(child<QPushButton>("layoutEditorRedo"), Qt::LeftButton);
        EXPECT_EQ(json(editor->layout()), after);
        EXPECT_EQ(changed.count(), 3);
        waitForCounts();
    }
}

TEST_F(LayoutEditorTest, ARefusedEditChangesNothingAndSaysWhy)
{
    struct Case
    {
        const char* what;
        std::function<bool(LayoutEditor&)> edit;
        const char* message;
    };
    const Case cases[] = {
        {"a filler removed", [](LayoutEditor& e) { return e.removeField(1); },
            "Cannot remove field filler_5: a filler holds the bytes no field covers: it goes "
            "when a field covers them."},
        {"a name used twice", [](LayoutEditor& e) { return e.renameField(1, "ID"); },
            "Cannot rename field filler_5: the name is used by another field (names are compared "
            "in any case)."},
        {"past the record's end",
            [](LayoutEditor& e) { return e.defineField(form("x", 12, 8, "float")); },
            "Cannot define field x: position 13 and length 8 run past the end of the file's "
            "16-byte records."},
        {"an empty name", [](LayoutEditor& e) { return e.renameField(0, ""); },
            "Cannot rename field id: it has no name."},
        {"decimals out of range",
            [](LayoutEditor& e) {
                fields::FieldForm f = form("flag", 8, 1, "bit");
                f.decimals = 9;
                return e.defineField(f);
            },
            "Cannot define field flag: a bit field's decimals are its bit number, and bit 9 is "
            "not in its 8 bits."},
        {"changed and its name cleared in the same form",
            [](LayoutEditor& e) { return e.changeField(0, form("", 0, 2, "integer")); },
            "Cannot rename field id: it has no name."},
        {"no such field", [](LayoutEditor& e) { return e.removeField(7); },
            "Cannot remove the field: there is no such field."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string before = json(editor->layout());
        QSignalSpy changed(editor.get(), &LayoutEditor::layoutChanged);
        QSignalSpy said(editor.get(), &LayoutEditor::message);
        EXPECT_FALSE(c.edit(*editor));
        EXPECT_EQ(json(editor->layout()), before);
        EXPECT_EQ(changed.count(), 0);
        EXPECT_EQ(editor->undoStack()->count(), 0);
        ASSERT_EQ(said.count(), 1);
        EXPECT_EQ(said.at(0).at(0).toString().toStdString(), c.message);
    }
}

TEST_F(LayoutEditorTest, TheButtonsFollowTheFieldSelected)
{
    auto* remove = child<QPushButton>("layoutEditorRemove");
    auto* change = child<QPushButton>("layoutEditorChange");
    QSignalSpy chosen(editor.get(), &LayoutEditor::fieldSelected);
    editor->selectField(1); // the filler: changed into a field, never removed
    EXPECT_TRUE(change->isEnabled());
    EXPECT_FALSE(remove->isEnabled());
    editor->selectField(0);
    EXPECT_TRUE(remove->isEnabled());
    // The window's own selection is not sent back to it; a click in the list is.
    EXPECT_EQ(chosen.count(), 0);
    auto* list = child<QTableWidget>("layoutEditorFields");
    const QRect cell = list->visualItemRect(list->item(1, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.at(0).at(0).toInt(), 1);
    QTest::mouseClick(remove, Qt::LeftButton);
    EXPECT_EQ(editor->layout().fields.size(), 2U);
    EXPECT_FALSE(child<QPushButton>("layoutEditorUndo")->isEnabled());
}

TEST_F(LayoutEditorTest, TheCountOfTheChangedFieldArrivesFromTheBackground)
{
    ASSERT_TRUE(editor->defineField(form("born", 4, 4, "date")));
    const int born = indexOf(*editor, "born");
    EXPECT_TRUE(editor->counting());
    EXPECT_EQ(editor->invalidCount(born), -1);
    QSignalSpy arrived(editor.get(), &LayoutEditor::invalidCounted);
    ASSERT_TRUE(arrived.wait(30000));
    // Only the fields whose reading changed are counted again: the date, and the filler after
    // it, which is bytes 9 to 16 now.
    std::map<int, qulonglong> got;
    for (const QList<QVariant>& a : arrived)
        got[a.at(0).toInt()] = a.at(1).toULongLong();
    EXPECT_EQ(got, (std::map<int, qulonglong> {{born, 8}, {indexOf(*editor, "filler_9"), 0}}));
    // A rename reads the same bytes the same way: its count stays, nothing is counted again.
    ASSERT_TRUE(editor->renameField(born, "birth"));
    EXPECT_FALSE(editor->counting());
    EXPECT_EQ(editor->invalidCount(indexOf(*editor, "birth")), 8);
    // Undone, the date is a filler again: whose count is known already.
    editor->undoStack()->undo();
    editor->undoStack()->undo();
    EXPECT_FALSE(editor->counting());
    EXPECT_EQ(editor->invalidCount(1), 0);
}

TEST_F(LayoutEditorTest, ANewerEditSupersedesTheOlderCount)
{
    editor->setFile({makeFile(dir, 3000), "", btr::mode::ReadOnly}, keysLayout(), "CP437");
    waitForCounts();
    QSignalSpy arrived(editor.get(), &LayoutEditor::invalidCounted);
    ASSERT_TRUE(editor->defineField(form("born", 4, 4, "date")));
    ASSERT_TRUE(editor->defineField(form("name", 8, 8, "string")));
    ASSERT_TRUE(arrived.wait(30000));
    // One answer, the newer count's, for both fields: the older count never fills a row.
    ASSERT_EQ(arrived.count(), 2);
    std::map<int, qulonglong> got;
    for (const QList<QVariant>& a : arrived)
        got[a.at(0).toInt()] = a.at(1).toULongLong();
    EXPECT_EQ(got,
        (std::map<int, qulonglong> {
            {indexOf(*editor, "born"), 600}, {indexOf(*editor, "name"), 0}}));
    EXPECT_FALSE(editor->counting());
}

TEST_F(LayoutEditorTest, ASavedLayoutLoadsBackTheSameAndDrivesTheExport)
{
    ASSERT_TRUE(editor->defineField(form("born", 4, 4, "date")));
    ASSERT_TRUE(editor->defineField(form("name", 8, 8, "string")));
    const std::string saved = fieldsJson(editor->layout());
    const QString layoutPath = QString::fromStdString(dir.file("PEOPLE.json"));
    ASSERT_TRUE(editor->saveLayout(layoutPath));
    waitForCounts();

    editor->setFile({path, "", btr::mode::ReadOnly}, keysLayout(), "CP437");
    const std::string keys = json(editor->layout());
    QSignalSpy changed(editor.get(), &LayoutEditor::layoutChanged);
    ASSERT_TRUE(editor->loadLayout(layoutPath));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(fieldsJson(editor->layout()), saved);
    editor->undoStack()->undo();
    EXPECT_EQ(json(editor->layout()), keys);
    waitForCounts();

    QProcess cli;
    cli.start(QStringLiteral(VARNOK_CLI),
        {"export", QString::fromStdString(path), "--layout", layoutPath});
    ASSERT_TRUE(cli.waitForFinished(60000));
    // CSV's lines end in CR LF.
    const QString out = QString::fromUtf8(cli.readAllStandardOutput()).replace("\r\n", "\n");
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    EXPECT_TRUE(out.startsWith("id,born,name\n")) << out.toStdString();
    EXPECT_TRUE(out.contains("\n1,1990-02-02,N1\n")) << out.toStdString();
    // Record 0's month 13 is written as its bytes, as the editor counted it.
    EXPECT_TRUE(out.contains("\n0,0x010dc607,N0\n")) << out.toStdString();
}

TEST_F(LayoutEditorTest, ALayoutThatDoesNotFitIsRefusedAndChangesNothing)
{
    struct Case
    {
        const char* what;
        const char* text;
        const char* reason;
    };
    const Case cases[] = {
        {"not JSON", "{\"fields\": [", "it is not JSON: line 1, column 13"},
        {"other records", "{\"recordLength\": 99, \"fields\": []}",
            "it is a layout for records of 99 bytes, and the file's records are 16 bytes long."},
        {"a field too long",
            "{\"fields\": [{\"name\": \"x\", \"position\": 10, \"length\": 8, \"type\": "
            "\"string\"}]}",
            "field x: position 10 and length 8 run past the end of the file's 16-byte records."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = dir.file("BAD.json");
        std::ofstream(file) << c.text;
        const std::string before = json(editor->layout());
        QSignalSpy said(editor.get(), &LayoutEditor::message);
        EXPECT_FALSE(editor->loadLayout(QString::fromStdString(file)));
        EXPECT_EQ(json(editor->layout()), before);
        EXPECT_EQ(editor->undoStack()->count(), 0);
        ASSERT_EQ(said.count(), 1);
        const std::string text = said.at(0).at(0).toString().toStdString();
        EXPECT_EQ(text.rfind("Cannot use the layout " + file + ": ", 0), 0U) << text;
        EXPECT_NE(text.find(c.reason), std::string::npos) << text;
    }
    QSignalSpy said(editor.get(), &LayoutEditor::message);
    EXPECT_FALSE(editor->loadLayout(QString::fromStdString(dir.file("NONE.json"))));
    ASSERT_EQ(said.count(), 1);
    EXPECT_TRUE(said.at(0).at(0).toString().startsWith("Cannot read the layout "));
}

// Pictures of the editor and its form for a person to look at.
TEST_F(LayoutEditorTest, RendersToPictures)
{
    ASSERT_TRUE(editor->defineField(form("born", 4, 4, "date")));
    ASSERT_TRUE(editor->defineField(form("name", 8, 6, "string")));
    waitForCounts();
    editor->selectField(indexOf(*editor, "born"));
    const QDir out(QString::fromUtf8(VARNOK_TEST_OUTPUT_DIR));
    const QString editorPicture = out.absoluteFilePath(QStringLiteral("layout-editor.png"));
    ASSERT_TRUE(editor->grab().save(editorPicture));
    editor->defineFieldAt(14, 2);
    QDialog* f = openForm();
    ASSERT_NE(f, nullptr);
    f->findChild<QLineEdit*>("layoutEditorFormName")->setText("flags");
    auto* type = f->findChild<QComboBox*>("layoutEditorFormType");
    type->setCurrentIndex(type->findText("integer"));
    f->findChild<QSpinBox*>("layoutEditorFormLength")->setValue(3);
    QTest::mouseClick(f->findChild<QPushButton*>("layoutEditorFormOk"), Qt::LeftButton);
    const QString formPicture = out.absoluteFilePath(QStringLiteral("layout-editor-form.png"));
    ASSERT_TRUE(f->grab().save(formPicture));
    std::printf("editor pictures: %s %s\n", qPrintable(editorPicture), qPrintable(formPicture));
}

} // namespace
