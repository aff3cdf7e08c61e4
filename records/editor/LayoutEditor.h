// The records window's layout editor: the fields of the layout in force as a list, and the
// corrections a person makes by eye (define a field over bytes chosen in the record pane, change,
// rename or remove one), each an undoable step, saved and loaded as the layout file varnok-cli
// reads. Beside each field, how many records of the whole file hold a value not valid for its
// type: counted in the background on a handle of the editor's own, a newer edit cancelling an
// older count, so that the window never waits.
//
// Messages go to the window's presenter through `message`; the editor opens no message box, only
// its own form for a field and the file dialogs of Save and Load.
#pragma once

#include "BtrCall.h"
#include "LayoutEdit.h"

#include <QFuture>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;
class QUndoStack;

namespace records {

// How another handle opens the same file.
struct FileRef
{
    std::string path;
    std::string owner;                 // empty: none
    int8_t mode = btr::mode::ReadOnly; // or btr::mode::Salvage for a damaged legacy file
};

class LayoutEditor : public QWidget
{
    Q_OBJECT
public:
    explicit LayoutEditor(QWidget* parent = nullptr);
    // Stops the count running and waits for it: it holds a handle on the file.
    ~LayoutEditor() override;

    // The file and the layout in force; the editor counts invalid values on handles of its own.
    // Starts afresh: the undo history is cleared and every field is counted.
    void setFile(const FileRef& file, const fields::Layout& layout, const std::string& encoding);
    const fields::Layout& layout() const { return layout_; }
    QUndoStack* undoStack() const { return undo_; }

    // The edits the form makes, for the window and for scripts: each is one undoable step, and
    // false, with the reason sent as a message, when refused (the layout untouched). changeField
    // also renames the field when the form's name is another (an empty one is refused).
    bool defineField(const fields::FieldForm& form);
    bool changeField(int index, const fields::FieldForm& form);
    bool renameField(int index, const QString& name);
    bool removeField(int index);

    // The field selected in the list, -1 when none.
    int currentField() const;
    // Invalid values of field `index` over the whole file once counted; -1 while not known.
    qint64 invalidCount(int index) const;
    // True while a count runs.
    bool counting() const;

public slots:
    // 0-based bytes chosen in the record pane: opens the define form prefilled.
    void defineFieldAt(int offset, int length);
    // Index into layout().fields.
    void selectField(int index);
    // The JSON of `varnok-cli fields --json`, written whole or not at all.
    bool saveLayout(const QString& path);
    // Checked against the record as varnok-cli checks it; one undoable step.
    bool loadLayout(const QString& path);

signals:
    // After every edit, undo, redo or load: the table shows the new columns at once.
    void layoutChanged();
    // A field chosen in the list by the person.
    void fieldSelected(int index);
    // For the status bar.
    void message(const QString& text);
    // The count of invalid values of field `index` arrived and fills its row.
    void invalidCounted(int index, qulonglong invalid);

private:
    friend class LayoutCommand;
    struct Count
    {
        uint64_t invalid = 0;
        uint64_t records = 0;
        bool complete = true; // false: the reading stopped at a record it could not read
    };

    void openForm(int mode, int index, const fields::FieldForm& form);
    // Makes `edited` the layout in one undoable step named `text`, the field `focus` selected.
    void push(const QString& text, const fields::Layout& edited, const std::string& focus);
    // What an undo step does: the layout in force, shown, announced and counted.
    void apply(const fields::Layout& layout, const std::string& focus);
    bool refuse(const QString& what, const std::string& name, const std::string& why);
    void fillTable();
    void fillCount(int row);
    void updateButtons();
    void startCount();
    void countArrived(uint64_t generation, const std::vector<std::string>& ids,
        const fields::InvalidCounts& counts, int16_t openStatus, const std::string& reason);
    void chooseSaveFile();
    void chooseLoadFile();
    QString defaultLayoutPath() const;

    FileRef file_;
    bool hasFile_ = false;
    fields::Layout layout_;
    std::string encoding_;
    QUndoStack* undo_;
    QTableWidget* table_;
    QPushButton* define_;
    QPushButton* change_;
    QPushButton* rename_;
    QPushButton* remove_;
    QPushButton* undoButton_;
    QPushButton* redoButton_;
    QPushButton* save_;
    QPushButton* load_;
    QLabel* status_;
    bool filling_ = false;

    // Counts by what a field reads (bytes and type, not its name), so that a rename, an undo or
    // a field put back keeps the count it had; cleared with the file.
    std::map<std::string, Count> counts_;
    std::vector<std::string> pending_;
    std::shared_ptr<std::atomic<bool>> stop_;
    uint64_t generation_ = 0;
    std::vector<QFuture<void>> jobs_;
};

} // namespace records
