// The records window's export (a worker thread, its progress and Cancel) and its layout editor
// dock, driven offscreen through their named controls against the real record manager.
#include "RecordFiles.h"
#include "RecordPane.h"
#include "Recorder.h"
#include "RecordsWindow.h"

#include "ScratchDir.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using records::RecordsWindow;
using recordstest::Recorder;

std::vector<std::string> lines(const std::string& path)
{
    std::vector<std::string> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

class WindowTools : public testing::Test
{
protected:
    WindowTools() { window.setPresenter(std::make_unique<Recorder>(log)); }

    void open(uint32_t records)
    {
        const std::string path = dir.file("STOCK.BTR");
        recordstest::makeOwnFile(path, records);
        ASSERT_TRUE(window.openFile(QString::fromStdString(path)));
        window.useKeyLayout();
    }
    // Runs an export to the end without blocking the GUI thread, as the window does.
    bool exportTo(const std::string& path, const exporting::Settings& settings, bool cancel = false)
    {
        QSignalSpy ended(&window, &RecordsWindow::exportEnded);
        if (!window.startExport(QString::fromStdString(path), settings))
            return false;
        EXPECT_TRUE(window.exporting());
        if (cancel) {
            auto* progress = window.findChild<QProgressDialog*>(QStringLiteral("exportProgress"));
            EXPECT_NE(progress, nullptr);
            // The person's Cancel: the dialog's button, not its reset.
            auto* button = progress ? progress->findChild<QPushButton*>() : nullptr;
            EXPECT_NE(button, nullptr);
            if (button)
                button->click();
        }
        return ended.wait(60000);
    }
    int column(const char* name)
    {
        const auto& f = window.model()->layout().fields;
        for (size_t c = 0; c < f.size(); ++c)
            if (f[c].name == name)
                return int(c);
        return -1;
    }
    QString cell(int row, int col)
    {
        return window.model()->data(window.model()->index(row, col), Qt::DisplayRole).toString();
    }
    QDialog* editorForm()
    {
        for (QDialog* d : window.findChildren<QDialog*>(QStringLiteral("layoutEditorForm")))
            if (d->isVisible())
                return d;
        return nullptr;
    }

    testsupport::ScratchDir dir;
    Recorder::Log log;
    RecordsWindow window;
};

TEST_F(WindowTools, TheNewControlsHaveTheirNames)
{
    for (const char* name : {"actionExport", "actionDefineField", "actionUndo", "actionRedo"})
        EXPECT_NE(window.findChild<QAction*>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_NE(window.findChild<QDockWidget*>(QStringLiteral("layoutEditorDock")), nullptr);
    EXPECT_NE(window.findChild<records::LayoutEditor*>(QStringLiteral("layoutEditor")), nullptr);
}

TEST_F(WindowTools, AnExportHoldsEveryRecordInTheViewsOrder)
{
    constexpr uint32_t N = 3000;
    open(N);
    struct Case
    {
        exporting::Format format;
        const char* name;
        size_t lines; // the records' lines, and CSV's line of column names
    };
    for (const Case& c : {Case {exporting::Format::Csv, "stock.csv", N + 1},
             Case {exporting::Format::JsonLines, "stock.jsonl", N}}) {
        SCOPED_TRACE(c.name);
        const std::string out = dir.file(c.name);
        exporting::Settings settings;
        settings.format = c.format;
        ASSERT_TRUE(exportTo(out, settings));
        EXPECT_FALSE(window.exporting());
        EXPECT_EQ(lines(out).size(), c.lines);
        EXPECT_TRUE(window.statusText().contains(QStringLiteral("records exported")))
            << window.statusText().toStdString();
    }
    EXPECT_TRUE(log.errors.isEmpty()) << log.errors.join("\n").toStdString();
}

TEST_F(WindowTools, TheExportFollowsTheViewsOrder)
{
    constexpr uint32_t N = 200;
    open(N);
    auto* orderCombo = window.findChild<QComboBox*>(QStringLiteral("orderCombo"));
    auto* descending = window.findChild<QCheckBox*>(QStringLiteral("descendingCheck"));
    ASSERT_TRUE(orderCombo && descending);
    orderCombo->setCurrentIndex(orderCombo->findData(0));
    descending->setChecked(true);
    const std::string out = dir.file("down.csv");
    ASSERT_TRUE(exportTo(out, exporting::Settings {}));
    const std::vector<std::string> got = lines(out);
    ASSERT_EQ(got.size(), N + 1);
    EXPECT_EQ(got[1].substr(0, got[1].find(',')), std::to_string(N - 1));
    EXPECT_EQ(got[N].substr(0, got[N].find(',')), "0");
}

TEST_F(WindowTools, ACancelledExportLeavesNoFileAndSaysSo)
{
    open(20000);
    const std::string out = dir.file("stopped.jsonl");
    exporting::Settings settings;
    settings.format = exporting::Format::JsonLines;
    ASSERT_TRUE(exportTo(out, settings, true));
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_TRUE(window.statusText().contains(QStringLiteral("export was cancelled")))
        << window.statusText().toStdString();
    EXPECT_TRUE(log.errors.isEmpty()) << log.errors.join("\n").toStdString();
    // Nothing beside it either: the temporary file went with the cancel.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find("stopped"), std::string::npos)
            << entry.path();
    // The window can export again.
    EXPECT_TRUE(window.findChild<QAction*>(QStringLiteral("actionExport"))->isEnabled());
}

TEST_F(WindowTools, AnExportThatCannotWriteIsToldAndTheWindowGoesOn)
{
    open(50);
    const std::string out = dir.file("no such folder/stock.csv");
    ASSERT_TRUE(exportTo(out, exporting::Settings {}));
    EXPECT_FALSE(std::filesystem::exists(out));
    ASSERT_EQ(log.errors.size(), 1);
    EXPECT_TRUE(log.errors[0].contains(QStringLiteral("stock.csv"))) << log.errors[0].toStdString();
    EXPECT_FALSE(window.exporting());
    // Nor does a second export start while one runs.
    ASSERT_TRUE(window.startExport(QString::fromStdString(dir.file("a.csv")), {}));
    EXPECT_FALSE(window.startExport(QString::fromStdString(dir.file("b.csv")), {}));
    QSignalSpy ended(&window, &RecordsWindow::exportEnded);
    ASSERT_TRUE(ended.wait(60000));
    EXPECT_TRUE(std::filesystem::exists(dir.file("a.csv")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("b.csv")));
}

TEST_F(WindowTools, AFieldDefinedOverChosenBytesShowsItsValuesAndUndoRemovesIt)
{
    open(10);
    auto* pane = window.findChild<records::RecordPane*>(QStringLiteral("recordPane"));
    auto* table = window.findChild<QTableView*>(QStringLiteral("recordsTable"));
    ASSERT_TRUE(pane && table);
    table->setCurrentIndex(window.model()->index(3, 0));
    ASSERT_EQ(column("born"), -1);
    const int columnsBefore = window.model()->columnCount();

    // Bytes 24 to 27, the date, dragged over in the pane and made a field.
    QTextCursor cursor = pane->textCursor();
    cursor.setPosition(pane->hexCharacter(24));
    cursor.setPosition(pane->hexCharacter(27) + 2, QTextCursor::KeepAnchor);
    pane->setTextCursor(cursor);
    window.findChild<QAction*>(QStringLiteral("actionDefineField"))->trigger();
    QDialog* form = editorForm();
    ASSERT_NE(form, nullptr);
    form->findChild<QLineEdit*>(QStringLiteral("layoutEditorFormName"))->setText("born");
    auto* type = form->findChild<QComboBox*>(QStringLiteral("layoutEditorFormType"));
    type->setCurrentIndex(type->findText(QStringLiteral("date")));
    QTest::mouseClick(
        form->findChild<QPushButton*>(QStringLiteral("layoutEditorFormOk")), Qt::LeftButton);

    const int born = column("born");
    ASSERT_GE(born, 0);
    for (int row = 0; row < 10; ++row) {
        const uint32_t id = cell(row, column("key0")).toUInt();
        const QString expected
            = QString::asprintf("%04u-%02u-%02u", 2000 + id % 20, 1 + id % 12, 1 + id % 28);
        EXPECT_EQ(cell(row, born), expected) << row;
    }
    EXPECT_EQ(table->model()->headerData(born, Qt::Horizontal).toString(), QStringLiteral("born"));
    // The new field stays chosen in both, its bytes marked in the pane.
    EXPECT_EQ(table->currentIndex().column(), born);
    EXPECT_EQ(window.layoutEditor()->currentField(), born);
    ASSERT_FALSE(pane->extraSelections().isEmpty());
    EXPECT_EQ(pane->extraSelections()[0].cursor.selectionStart(), pane->hexCharacter(24));

    auto* undo = window.findChild<QAction*>(QStringLiteral("actionUndo"));
    ASSERT_TRUE(undo->isEnabled());
    undo->trigger();
    EXPECT_EQ(column("born"), -1);
    EXPECT_EQ(window.model()->columnCount(), columnsBefore);
    window.findChild<QAction*>(QStringLiteral("actionRedo"))->trigger();
    EXPECT_GE(column("born"), 0);

    // Another code page reads the text anew but keeps the fields the person made.
    auto* pages = window.findChild<QComboBox*>(QStringLiteral("encodingCombo"));
    const int latin = pages->findData(QStringLiteral("CP1252"));
    ASSERT_GE(latin, 0);
    pages->setCurrentIndex(latin);
    emit pages->activated(latin);
    EXPECT_GE(column("born"), 0);
    EXPECT_EQ(window.model()->encoding(), "CP1252");
    EXPECT_TRUE(undo->isEnabled());
}

TEST_F(WindowTools, NoBytesChosenIsToldAndNoFormOpens)
{
    open(5);
    window.findChild<QAction*>(QStringLiteral("actionDefineField"))->trigger();
    EXPECT_EQ(editorForm(), nullptr);
    EXPECT_TRUE(window.statusText().contains(QStringLiteral("Select the bytes")));
}

TEST_F(WindowTools, AColumnAndTheEditorsRowFollowEachOther)
{
    open(10);
    auto* table = window.findChild<QTableView*>(QStringLiteral("recordsTable"));
    records::LayoutEditor* editor = window.layoutEditor();
    const int name = column("key1");
    ASSERT_GE(name, 0);
    table->setCurrentIndex(window.model()->index(2, name));
    EXPECT_EQ(editor->currentField(), name);
    table->setCurrentIndex(window.model()->index(2, column("key0")));
    EXPECT_EQ(editor->currentField(), column("key0"));

    // A row chosen in the editor's list chooses that column in the table.
    auto* list = editor->findChild<QTableWidget*>(QStringLiteral("layoutEditorFields"));
    ASSERT_NE(list, nullptr);
    list->setCurrentCell(name, 0);
    EXPECT_EQ(table->currentIndex().column(), name);
}

} // namespace
