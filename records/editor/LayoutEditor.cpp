#include "LayoutEditor.h"

#include "LayoutFile.h"
#include "Messages.h"
#include "TextDecoder.h"
#include "WinBtr.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTableWidget>
#include <QUndoCommand>
#include <QUndoStack>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrent>

#include <algorithm>

namespace records {

namespace {

enum FormMode { Define, Change, Rename };
enum ColumnIndex {
    NameColumn,
    PositionColumn,
    LengthColumn,
    TypeColumn,
    DecimalsColumn,
    SourceColumn,
    InvalidColumn,
    ColumnCount
};

constexpr qint64 MaxLayoutFile = qint64(fields::MaxLayoutFile);

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

// What a field reads: its bytes and how they are read. Two fields that read the same have the
// same count of invalid values, whatever their names.
std::string identity(const fields::Field& f)
{
    return fields::typeName(f) + '/' + std::to_string(f.offset) + '/' + std::to_string(f.length)
        + '/' + std::to_string(f.type.decimals) + '/' + (f.type.signedByte ? "s" : "u");
}

// Decimals mean something to the exact number types (their scale) and to a bit field (its bit).
bool takesDecimals(const fields::Field& f)
{
    namespace exttype = btr::exttype;
    if (f.hex())
        return false;
    switch (f.type.type) {
    case exttype::Decimal:
    case exttype::Money:
    case exttype::Numeric:
    case exttype::SignSeparate:
    case exttype::Bit:
        return true;
    default:
        return f.type.decimals != 0;
    }
}

// The sentence a message ends with: the reason, and a full stop.
std::string sentence(const std::string& why)
{
    return why.empty() || why.back() == '.' ? why : why + ".";
}

// The form a person fills in for a field: its name, and for a definition or a change where it
// lies and how it is read. It stays open while the edit is refused and shows why.
class FieldFormDialog : public QDialog
{
public:
    FieldFormDialog(QWidget* parent, FormMode mode, const fields::FieldForm& form)
        : QDialog(parent)
    {
        setObjectName(QStringLiteral("layoutEditorForm"));
        setWindowTitle(mode == Define ? tr("Define field")
                : mode == Change      ? tr("Change field")
                                      : tr("Rename field"));
        auto* rows = new QFormLayout;
        name_ = new QLineEdit(qs(form.name));
        name_->setObjectName(QStringLiteral("layoutEditorFormName"));
        name_->setMaxLength(int(fields::MaxName));
        rows->addRow(tr("&Name:"), name_);
        type_ = new QComboBox;
        type_->setObjectName(QStringLiteral("layoutEditorFormType"));
        for (const std::string& t : fields::typeNames())
            type_->addItem(qs(t));
        type_->setCurrentIndex(std::max(0, type_->findText(qs(form.type), Qt::MatchFixedString)));
        rows->addRow(tr("&Type:"), type_);
        position_ = spinBox("layoutEditorFormPosition", 1, int(fields::MaxPosition),
            int(std::clamp<int64_t>(form.offset + 1, 1, int64_t(fields::MaxPosition))));
        rows->addRow(tr("&Position:"), position_);
        length_ = spinBox(
            "layoutEditorFormLength", 1, 65535, int(std::clamp<int64_t>(form.length, 1, 65535)));
        rows->addRow(tr("&Length:"), length_);
        decimals_ = spinBox(
            "layoutEditorFormDecimals", 0, 255, int(std::clamp<int64_t>(form.decimals, 0, 255)));
        decimals_->setToolTip(tr("Decimals of a decimal, money or numeric field; the bit number "
                                 "(0 the lowest) of a bit field"));
        rows->addRow(tr("&Decimals:"), decimals_);
        signed_ = new QCheckBox(tr("&Signed (a 1-byte integer)"));
        signed_->setObjectName(QStringLiteral("layoutEditorFormSigned"));
        signed_->setChecked(form.signedByte);
        rows->addRow(QString(), signed_);
        error_ = new QLabel;
        error_->setObjectName(QStringLiteral("layoutEditorFormError"));
        error_->setWordWrap(true);
        error_->setStyleSheet(QStringLiteral("color: #b00000"));
        error_->hide();
        buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        buttons_->setObjectName(QStringLiteral("layoutEditorFormButtons"));
        buttons_->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("layoutEditorFormOk"));
        buttons_->button(QDialogButtonBox::Cancel)
            ->setObjectName(QStringLiteral("layoutEditorFormCancel"));
        connect(buttons_, &QDialogButtonBox::accepted, this, [this] {
            if (onOk && onOk(values()))
                accept();
        });
        connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
        auto* column = new QVBoxLayout(this);
        column->addLayout(rows);
        column->addWidget(error_);
        column->addWidget(buttons_);
        const bool shape = mode != Rename;
        for (QWidget* w : {static_cast<QWidget*>(type_), static_cast<QWidget*>(position_),
                 static_cast<QWidget*>(length_), static_cast<QWidget*>(decimals_),
                 static_cast<QWidget*>(signed_)})
            w->setEnabled(shape);
        name_->setFocus();
        name_->selectAll();
    }

    fields::FieldForm values() const
    {
        fields::FieldForm f;
        f.name = name_->text().toStdString();
        f.type = type_->currentText().toStdString();
        f.offset = position_->value() - 1;
        f.length = length_->value();
        f.decimals = decimals_->value();
        f.signedByte = signed_->isChecked();
        return f;
    }

    void showRefusal(const QString& text)
    {
        error_->setText(text);
        error_->show();
    }

    // Makes the edit: false (the form stays open) when it was refused.
    std::function<bool(const fields::FieldForm&)> onOk;

private:
    QSpinBox* spinBox(const char* name, int low, int high, int value)
    {
        auto* box = new QSpinBox;
        box->setObjectName(QLatin1String(name));
        box->setRange(low, high);
        box->setValue(value);
        return box;
    }

    QLineEdit* name_;
    QComboBox* type_;
    QSpinBox* position_;
    QSpinBox* length_;
    QSpinBox* decimals_;
    QCheckBox* signed_;
    QLabel* error_;
    QDialogButtonBox* buttons_;
};

// A count made on a handle of its own: open, read every record, close.
struct CountOutcome
{
    fields::InvalidCounts counts;
    int16_t openStatus = 0;
    std::string reason;
};

CountOutcome countOnOwnHandle(const FileRef& ref, const std::string& encoding,
    const std::vector<fields::Field>& wanted, const std::atomic<bool>& stop)
{
    CountOutcome out;
    TWinBtr file;
    if (file.Open(ref.path.c_str(), ref.owner.c_str(), uint8_t(ref.mode)) != 0) {
        out.openStatus = file.Status;
        out.reason = file.Reason();
        return out;
    }
    fields::TextDecoder decoder(encoding);
    out.counts = fields::countInvalid(file, wanted, decoder, stop);
    file.Close();
    return out;
}

} // namespace

// One correction of the layout: the layouts before and after it, whole, so that undo and redo
// give back exactly what was there.
class LayoutCommand : public QUndoCommand
{
public:
    LayoutCommand(LayoutEditor* editor, const QString& text, fields::Layout before,
        fields::Layout after, std::string focus)
        : QUndoCommand(text)
        , editor_(editor)
        , before_(std::move(before))
        , after_(std::move(after))
        , focus_(std::move(focus))
    { }
    void undo() override { editor_->apply(before_, focus_); }
    void redo() override { editor_->apply(after_, focus_); }

private:
    LayoutEditor* editor_;
    fields::Layout before_;
    fields::Layout after_;
    std::string focus_;
};

LayoutEditor::LayoutEditor(QWidget* parent)
    : QWidget(parent)
    , undo_(new QUndoStack(this))
{
    setObjectName(QStringLiteral("layoutEditor"));
    table_ = new QTableWidget(0, ColumnCount, this);
    table_->setObjectName(QStringLiteral("layoutEditorFields"));
    table_->setHorizontalHeaderLabels({tr("Name"), tr("Position"), tr("Length"), tr("Type"),
        tr("Decimals"), tr("Source"), tr("Invalid values")});
    table_->horizontalHeaderItem(InvalidColumn)
        ->setToolTip(tr("Records of the whole file whose value is not valid for the field's type "
                        "(exported as hex)"));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);

    auto button = [this](const char* name, const QString& text, const QString& tip) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(tip);
        return b;
    };
    define_ = button("layoutEditorDefine", tr("&Define..."),
        tr("Define a field over bytes of the record (select them in the record pane first)"));
    change_ = button("layoutEditorChange", tr("&Change..."),
        tr("Change the selected field's type, position, length or decimals"));
    rename_ = button("layoutEditorRename", tr("Re&name..."), tr("Rename the selected field"));
    remove_ = button("layoutEditorRemove", tr("&Remove"),
        tr("Remove the selected field: bytes no other field covers become a filler"));
    undoButton_ = button("layoutEditorUndo", tr("&Undo"), tr("Undo the last correction"));
    redoButton_ = button("layoutEditorRedo", tr("R&edo"), tr("Redo the correction undone"));
    save_ = button("layoutEditorSave", tr("&Save layout..."),
        tr("Save the layout as a layout file, which varnok-cli export --layout reads"));
    load_ = button("layoutEditorLoad", tr("&Load layout..."), tr("Load a layout file"));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("layoutEditorCountStatus"));

    auto* edits = new QHBoxLayout;
    for (QPushButton* b : {define_, change_, rename_, remove_})
        edits->addWidget(b);
    edits->addStretch();
    auto* history = new QHBoxLayout;
    for (QPushButton* b : {undoButton_, redoButton_, save_, load_})
        history->addWidget(b);
    history->addStretch();
    auto* column = new QVBoxLayout(this);
    column->addWidget(table_);
    column->addLayout(edits);
    column->addLayout(history);
    column->addWidget(status_);

    // Without bytes chosen in the record pane, the form starts on the selected field's bytes
    // (a filler's are the usual choice), which the person then narrows.
    connect(define_, &QPushButton::clicked, this, [this] {
        const int row = currentField();
        if (row < 0) {
            defineFieldAt(0, 1);
            return;
        }
        const fields::Field& f = layout_.fields[size_t(row)];
        defineFieldAt(int(f.offset), int(std::max<uint32_t>(f.length, 1)));
    });
    connect(change_, &QPushButton::clicked, this, [this] {
        const int row = currentField();
        if (row >= 0)
            openForm(Change, row, fields::formOf(layout_.fields[size_t(row)]));
    });
    connect(rename_, &QPushButton::clicked, this, [this] {
        const int row = currentField();
        if (row >= 0)
            openForm(Rename, row, fields::formOf(layout_.fields[size_t(row)]));
    });
    connect(remove_, &QPushButton::clicked, this, [this] {
        if (currentField() >= 0)
            removeField(currentField());
    });
    connect(undoButton_, &QPushButton::clicked, undo_, &QUndoStack::undo);
    connect(redoButton_, &QPushButton::clicked, undo_, &QUndoStack::redo);
    connect(undo_, &QUndoStack::indexChanged, this, [this] { updateButtons(); });
    connect(save_, &QPushButton::clicked, this, &LayoutEditor::chooseSaveFile);
    connect(load_, &QPushButton::clicked, this, &LayoutEditor::chooseLoadFile);
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
        updateButtons();
        if (!filling_)
            emit fieldSelected(currentField());
    });
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        if (row >= 0 && size_t(row) < layout_.fields.size()
            && layout_.fields[size_t(row)].source != fields::Source::VariablePart)
            openForm(Change, row, fields::formOf(layout_.fields[size_t(row)]));
    });
    updateButtons();
}

LayoutEditor::~LayoutEditor()
{
    // The children go after this object is no longer a LayoutEditor: what they say on the way
    // (the stack cleared, the selection gone) must not reach it.
    undo_->disconnect(this);
    table_->disconnect(this);
    if (stop_)
        stop_->store(true);
    for (QFuture<void>& job : jobs_)
        job.waitForFinished();
}

void LayoutEditor::setFile(
    const FileRef& file, const fields::Layout& layout, const std::string& encoding)
{
    if (stop_)
        stop_->store(true);
    stop_.reset();
    file_ = file;
    hasFile_ = true;
    layout_ = layout;
    encoding_ = encoding.empty() ? fields::DefaultEncoding : encoding;
    if (!fields::TextDecoder(encoding_).valid()) {
        emit message(tr("The code page %1 is not known: text is counted as %2.")
                         .arg(qs(encoding_), QLatin1String(fields::DefaultEncoding)));
        encoding_ = fields::DefaultEncoding;
    }
    counts_.clear();
    pending_.clear();
    ++generation_;
    undo_->clear();
    fillTable();
    startCount();
}

int LayoutEditor::currentField() const
{
    const QList<QTableWidgetItem*> items = table_->selectedItems();
    if (items.isEmpty())
        return -1;
    const int row = items.front()->row();
    return size_t(row) < layout_.fields.size() ? row : -1;
}

qint64 LayoutEditor::invalidCount(int index) const
{
    if (index < 0 || size_t(index) >= layout_.fields.size())
        return -1;
    const auto found = counts_.find(identity(layout_.fields[size_t(index)]));
    return found == counts_.end() ? -1 : qint64(found->second.invalid);
}

bool LayoutEditor::counting() const
{
    return !pending_.empty();
}

bool LayoutEditor::refuse(const QString& what, const std::string& name, const std::string& why)
{
    const QString text = name.empty()
        ? tr("Cannot %1: %2").arg(what, qs(sentence(why)))
        : tr("Cannot %1 %2: %3").arg(what, qs(name), qs(sentence(why)));
    emit message(text);
    return false;
}

bool LayoutEditor::defineField(const fields::FieldForm& form)
{
    fields::Layout edited = layout_;
    const fields::EditResult r = fields::defineField(edited, form);
    if (!r.ok())
        return refuse(tr("define field"), form.name, r.why);
    push(tr("Define %1").arg(qs(form.name)), edited, form.name);
    emit message(tr("Field %1 defined at position %2, %3 bytes, %4.")
                     .arg(qs(form.name))
                     .arg(form.offset + 1)
                     .arg(form.length)
                     .arg(qs(fields::typeName(edited.fields[r.index]))));
    return true;
}

bool LayoutEditor::changeField(int index, const fields::FieldForm& form)
{
    if (index < 0 || size_t(index) >= layout_.fields.size())
        return refuse(tr("change the field"), {}, "there is no such field");
    const std::string old = layout_.fields[size_t(index)].name;
    fields::Layout edited = layout_;
    fields::EditResult r = fields::changeField(edited, size_t(index), form);
    if (!r.ok())
        return refuse(tr("change field"), old, r.why);
    std::string name = old;
    // A changed name and a changed shape are one step: one undo takes both back.
    if (form.name != old) {
        r = fields::renameField(edited, r.index, form.name);
        if (!r.ok())
            return refuse(tr("rename field"), old, r.why);
        name = form.name;
    }
    if (fields::layoutJson(edited, {}) == fields::layoutJson(layout_, {}))
        return true;
    push(tr("Change %1").arg(qs(name)), edited, name);
    emit message(tr("Field %1 changed.").arg(qs(name)));
    return true;
}

bool LayoutEditor::renameField(int index, const QString& name)
{
    if (index < 0 || size_t(index) >= layout_.fields.size())
        return refuse(tr("rename the field"), {}, "there is no such field");
    const std::string old = layout_.fields[size_t(index)].name;
    fields::Layout edited = layout_;
    const fields::EditResult r = fields::renameField(edited, size_t(index), name.toStdString());
    if (!r.ok())
        return refuse(tr("rename field"), old, r.why);
    push(tr("Rename %1 to %2").arg(qs(old), name), edited, name.toStdString());
    emit message(tr("Field %1 renamed to %2.").arg(qs(old), name));
    return true;
}

bool LayoutEditor::removeField(int index)
{
    if (index < 0 || size_t(index) >= layout_.fields.size())
        return refuse(tr("remove the field"), {}, "there is no such field");
    const std::string old = layout_.fields[size_t(index)].name;
    fields::Layout edited = layout_;
    const fields::EditResult r = fields::removeField(edited, size_t(index));
    if (!r.ok())
        return refuse(tr("remove field"), old, r.why);
    push(tr("Remove %1").arg(qs(old)), edited, {});
    emit message(tr("Field %1 removed.").arg(qs(old)));
    return true;
}

void LayoutEditor::push(const QString& text, const fields::Layout& edited, const std::string& focus)
{
    undo_->push(new LayoutCommand(this, text, layout_, edited, focus));
}

void LayoutEditor::apply(const fields::Layout& layout, const std::string& focus)
{
    const int selected = currentField();
    const std::string keep = !focus.empty() ? focus
        : selected >= 0                     ? layout_.fields[size_t(selected)].name
                                            : std::string();
    layout_ = layout;
    fillTable();
    for (size_t i = 0; i < layout_.fields.size(); ++i) {
        if (!keep.empty() && layout_.fields[i].name == keep) {
            selectField(int(i));
            break;
        }
    }
    emit layoutChanged();
    startCount();
}

void LayoutEditor::selectField(int index)
{
    filling_ = true;
    if (index >= 0 && index < table_->rowCount()) {
        table_->selectRow(index);
        table_->scrollToItem(table_->item(index, NameColumn));
    } else {
        table_->clearSelection();
    }
    filling_ = false;
    updateButtons();
}

void LayoutEditor::fillTable()
{
    filling_ = true;
    table_->clearSelection();
    table_->setRowCount(int(layout_.fields.size()));
    for (size_t i = 0; i < layout_.fields.size(); ++i) {
        const fields::Field& f = layout_.fields[i];
        const int row = int(i);
        const bool variable = f.source == fields::Source::VariablePart;
        const QString texts[] = {qs(f.name), QString::number(f.position()),
            variable ? tr("rest") : QString::number(f.length), qs(fields::typeName(f)),
            takesDecimals(f) ? QString::number(f.type.decimals) : QString(),
            qs(fields::sourceName(f.source)), QString()};
        for (int c = 0; c < InvalidColumn; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            if (c == PositionColumn || c == LengthColumn || c == DecimalsColumn)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (f.hex())
                item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
            if (!f.evidence.empty())
                item->setToolTip(qs(f.evidence));
            table_->setItem(row, c, item);
        }
        auto* count = new QTableWidgetItem;
        count->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        table_->setItem(row, InvalidColumn, count);
        fillCount(row);
    }
    table_->resizeColumnsToContents();
    filling_ = false;
    updateButtons();
}

void LayoutEditor::fillCount(int row)
{
    QTableWidgetItem* item = table_->item(row, InvalidColumn);
    if (!item)
        return;
    const std::string id = identity(layout_.fields[size_t(row)]);
    const auto found = counts_.find(id);
    if (found != counts_.end()) {
        const Count& c = found->second;
        item->setText(c.complete ? QString::number(c.invalid)
                                 : tr("%1 in the first %2 records").arg(c.invalid).arg(c.records));
        item->setForeground(c.invalid > 0 ? QColor(0xb0, 0, 0) : palette().color(QPalette::Text));
        item->setToolTip(c.complete
                ? tr("%1 of %2 records").arg(c.invalid).arg(c.records)
                : tr("The file could not be read past record %1").arg(c.records));
    } else if (std::find(pending_.begin(), pending_.end(), id) != pending_.end()) {
        item->setText(tr("counting..."));
        item->setToolTip(QString());
    } else {
        item->setText(QString());
    }
}

void LayoutEditor::updateButtons()
{
    const int row = currentField();
    const fields::Field* f = row >= 0 ? &layout_.fields[size_t(row)] : nullptr;
    define_->setEnabled(hasFile_);
    change_->setEnabled(f && f->source != fields::Source::VariablePart);
    rename_->setEnabled(f);
    remove_->setEnabled(f && !fields::generatedField(*f));
    undoButton_->setEnabled(undo_->canUndo());
    redoButton_->setEnabled(undo_->canRedo());
    undoButton_->setToolTip(
        undo_->canUndo() ? tr("Undo: %1").arg(undo_->undoText()) : tr("Nothing to undo"));
    redoButton_->setToolTip(
        undo_->canRedo() ? tr("Redo: %1").arg(undo_->redoText()) : tr("Nothing to redo"));
    save_->setEnabled(hasFile_);
    load_->setEnabled(hasFile_);
}

void LayoutEditor::openForm(int mode, int index, const fields::FieldForm& form)
{
    auto* dialog = new FieldFormDialog(this, FormMode(mode), form);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The refusal is shown in the form, which stays open to be corrected; the window's status bar
    // is not the place while the form covers it.
    dialog->onOk = [this, dialog, mode, index](const fields::FieldForm& values) {
        QString refusal;
        const auto connection = connect(
            this, &LayoutEditor::message, dialog, [&refusal](const QString& t) { refusal = t; });
        bool done = false;
        if (mode == Define)
            done = defineField(values);
        else if (mode == Change)
            done = changeField(index, values);
        else
            done = renameField(index, QString::fromStdString(values.name));
        disconnect(connection);
        if (!done)
            dialog->showRefusal(refusal);
        return done;
    };
    dialog->open();
}

void LayoutEditor::defineFieldAt(int offset, int length)
{
    if (!hasFile_)
        return;
    fields::FieldForm form;
    form.offset = std::max(offset, 0);
    form.length = std::max(length, 1);
    form.type = "string";
    // A name of its own, as fields without one are named, so that OK alone defines it.
    const std::string base = "field_" + std::to_string(form.offset + 1);
    form.name = base;
    for (int n = 2; std::any_of(layout_.fields.begin(), layout_.fields.end(),
             [&](const fields::Field& f) {
                 return fields::foldCase(f.name) == fields::foldCase(form.name);
             });
         ++n)
        form.name = base + "_" + std::to_string(n);
    openForm(Define, -1, form);
}

void LayoutEditor::startCount()
{
    if (!hasFile_)
        return;
    if (stop_)
        stop_->store(true);
    stop_.reset();
    std::vector<std::string> ids;
    std::vector<fields::Field> wanted;
    for (const fields::Field& f : layout_.fields) {
        const std::string id = identity(f);
        if (counts_.count(id) || std::find(ids.begin(), ids.end(), id) != ids.end())
            continue;
        ids.push_back(id);
        wanted.push_back(f);
    }
    pending_ = ids;
    jobs_.erase(std::remove_if(jobs_.begin(), jobs_.end(),
                    [](const QFuture<void>& job) { return job.isFinished(); }),
        jobs_.end());
    for (int row = 0; row < table_->rowCount(); ++row)
        fillCount(row);
    if (wanted.empty()) {
        status_->clear();
        return;
    }
    status_->setText(wanted.size() == 1
            ? tr("Counting the invalid values of %1...").arg(qs(wanted.front().name))
            : tr("Counting the invalid values of %1 fields...").arg(wanted.size()));
    auto stop = std::make_shared<std::atomic<bool>>(false);
    stop_ = stop;
    const uint64_t generation = ++generation_;
    jobs_.push_back(QtConcurrent::run([this, ref = file_, encoding = encoding_,
                                          wanted = std::move(wanted), ids, stop, generation] {
        CountOutcome out = countOnOwnHandle(ref, encoding, wanted, *stop);
        if (out.counts.stopped)
            return;
        QMetaObject::invokeMethod(
            this,
            [this, generation, ids, out = std::move(out)] {
                countArrived(generation, ids, out.counts, out.openStatus, out.reason);
            },
            Qt::QueuedConnection);
    }));
}

void LayoutEditor::countArrived(uint64_t generation, const std::vector<std::string>& ids,
    const fields::InvalidCounts& counts, int16_t openStatus, const std::string& reason)
{
    if (generation != generation_)
        return;
    pending_.clear();
    status_->clear();
    if (openStatus != 0) {
        emit message(qs(cannotDo("Cannot open", file_.path, openStatus, reason)
            + " The invalid values are not counted."));
        for (int row = 0; row < table_->rowCount(); ++row)
            fillCount(row);
        return;
    }
    for (size_t i = 0; i < ids.size() && i < counts.invalid.size(); ++i)
        counts_[ids[i]] = Count {counts.invalid[i], counts.records, counts.status == 0};
    if (counts.status != 0) {
        emit message(qs(cannotDo("Cannot read", file_.path, counts.status, reason)
            + " The invalid values are counted in the " + std::to_string(counts.records)
            + " records before it."));
    }
    for (int row = 0; row < table_->rowCount(); ++row) {
        fillCount(row);
        const std::string id = identity(layout_.fields[size_t(row)]);
        if (std::find(ids.begin(), ids.end(), id) != ids.end())
            emit invalidCounted(row, counts_[id].invalid);
    }
}

QString LayoutEditor::defaultLayoutPath() const
{
    // Beside the data file, named as `varnok-cli export --layout DIR` looks for it.
    const QFileInfo dataFile(qs(file_.path));
    return dataFile.dir().filePath(dataFile.completeBaseName() + QStringLiteral(".json"));
}

void LayoutEditor::chooseSaveFile()
{
    auto* dialog = new QFileDialog(
        this, tr("Save layout"), defaultLayoutPath(), tr("Layout files (*.json);;All files (*)"));
    dialog->setObjectName(QStringLiteral("layoutEditorFileDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->selectFile(defaultLayoutPath());
    connect(dialog, &QFileDialog::fileSelected, this,
        [this](const QString& path) { saveLayout(path); });
    dialog->open();
}

void LayoutEditor::chooseLoadFile()
{
    auto* dialog = new QFileDialog(this, tr("Load layout"), QFileInfo(defaultLayoutPath()).path(),
        tr("Layout files (*.json);;All files (*)"));
    dialog->setObjectName(QStringLiteral("layoutEditorFileDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    connect(dialog, &QFileDialog::fileSelected, this,
        [this](const QString& path) { loadLayout(path); });
    dialog->open();
}

bool LayoutEditor::saveLayout(const QString& path)
{
    const std::string name = fields::validUtf8(QFileInfo(qs(file_.path)).fileName().toStdString());
    const std::string text = fields::layoutJson(layout_, name, encoding_)
                                 .dump(2, ' ', false, fields::LayoutJson::error_handler_t::replace)
        + "\n";
    // Written beside and renamed over the old one: a failed save leaves the old layout whole.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(text.data(), qint64(text.size())) < 0
        || !out.commit()) {
        emit message(tr("Cannot write %1: %2.").arg(path, out.errorString()));
        return false;
    }
    emit message(tr("Layout saved to %1.").arg(path));
    return true;
}

bool LayoutEditor::loadLayout(const QString& path)
{
    if (!hasFile_) {
        emit message(tr("Cannot load the layout %1: no file is open.").arg(path));
        return false;
    }
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        emit message(tr("Cannot read the layout %1: %2.").arg(path, in.errorString()));
        return false;
    }
    if (in.size() > MaxLayoutFile) {
        emit message(tr("Cannot use the layout %1: it is larger than %2 MiB, which no layout is.")
                         .arg(path)
                         .arg(MaxLayoutFile >> 20));
        return false;
    }
    const QByteArray bytes = in.read(MaxLayoutFile + 1);
    if (bytes.size() > MaxLayoutFile || in.error() != QFileDevice::NoError) {
        emit message(tr("Cannot read the layout %1: %2.").arg(path, in.errorString()));
        return false;
    }
    fields::LayoutRead read
        = fields::parseLayout(std::string_view(bytes.constData(), size_t(bytes.size())),
            layout_.recordLength, layout_.variableLength, "layout " + path.toStdString());
    if (!read.ok()) {
        emit message(tr("Cannot use the layout %1: %2").arg(path, qs(sentence(read.error))));
        return false;
    }
    push(tr("Load layout %1").arg(QFileInfo(path).fileName()), read.layout, {});
    emit message(tr("Layout loaded from %1.").arg(path));
    return true;
}

} // namespace records
