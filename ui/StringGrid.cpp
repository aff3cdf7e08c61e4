#include "StringGrid.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyleOptionHeader>
#include <QStylePainter>

TStringGrid::TStringGrid(int columns, int rows, bool fixedColumn, QWidget* parent)
    : QTableWidget(rows, columns, parent)
    , fixedColumn_(fixedColumn)
{
    setItemDelegate(new TGridDelegate(this));
    setRowHidden(0, true);
    if (fixedColumn_) {
        setColumnHidden(0, true);
        // The table's corner button draws an empty header section; it is painted here with the
        // corner cell's text instead.
        corner_ = findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly);
        if (corner_)
            corner_->installEventFilter(this);
    } else {
        verticalHeader()->hide();
    }
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setHighlightSections(false);
    horizontalHeader()->setMinimumSectionSize(1);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setWordWrap(false);
    connect(model(), &QAbstractItemModel::dataChanged, this, &TStringGrid::mirrorHeaders);
}

QString TStringGrid::cell(int col, int row) const
{
    const QTableWidgetItem* it = item(row, col);
    return it ? it->text() : QString();
}

void TStringGrid::setCell(int col, int row, const QString& text)
{
    if (row < 0 || col < 0 || row >= rowCount() || col >= columnCount())
        return;
    if (QTableWidgetItem* it = item(row, col)) {
        it->setText(text);
        return;
    }
    auto* it = new QTableWidgetItem(text);
    if (row == 0 || (fixedColumn_ && col == 0))
        it->setFlags(Qt::ItemIsEnabled);
    setItem(row, col, it);
    mirrorHeaders(model()->index(row, col), model()->index(row, col));
}

void TStringGrid::copyRow(int from, int to)
{
    for (int c = 0; c < columnCount(); ++c)
        setCell(c, to, cell(c, from));
}

void TStringGrid::mirrorHeaders(const QModelIndex& topLeft, const QModelIndex& bottomRight)
{
    if (topLeft.row() == 0) {
        for (int c = topLeft.column(); c <= bottomRight.column(); ++c) {
            auto* header = horizontalHeaderItem(c);
            if (!header) {
                header = new QTableWidgetItem;
                setHorizontalHeaderItem(c, header);
            }
            header->setText(cell(c, 0));
        }
    }
    if (corner_ && topLeft.row() == 0 && topLeft.column() == 0)
        corner_->update();
    if (fixedColumn_ && topLeft.column() == 0) {
        for (int r = topLeft.row(); r <= bottomRight.row(); ++r) {
            auto* header = verticalHeaderItem(r);
            if (!header) {
                header = new QTableWidgetItem;
                setVerticalHeaderItem(r, header);
            }
            header->setText(cell(0, r));
        }
    }
}

void TStringGrid::setEditorAlwaysShown(bool on)
{
    setEditTriggers(on ? QAbstractItemView::AllEditTriggers
                       : QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                | QAbstractItemView::AnyKeyPressed);
}

void TStringGrid::showEditor(bool fetchHook)
{
    const QModelIndex index = currentIndex();
    if (!index.isValid() || editor())
        return;
    fetchHook_ = fetchHook;
    // The quiet form: an editor that is already open for the cell is simply kept.
    edit(index, QAbstractItemView::AllEditTriggers, nullptr);
    fetchHook_ = true;
}

QLineEdit* TStringGrid::editor() const
{
    // An editor whose row was removed is on its way out; it no longer counts.
    if (editor_ && editorIndex_.isValid() && state() == QAbstractItemView::EditingState)
        return editor_;
    return nullptr;
}

void TStringGrid::moveQuietly(int col, int row)
{
    fetchHook_ = false;
    setCurrentCell(row, col);
    fetchHook_ = true;
}

void TStringGrid::closeInPlaceEditor()
{
    if (QLineEdit* open = editor())
        closeEditor(open, QAbstractItemDelegate::NoHint);
}

void TStringGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    if (editor == editor_) {
        editor_ = nullptr;
        editorIndex_ = QPersistentModelIndex();
    }
    QTableWidget::closeEditor(editor, hint);
}

void TStringGrid::editorCreated(QLineEdit* editor, const QModelIndex& index)
{
    editor_ = editor;
    editorIndex_ = index;
    editor->installEventFilter(this);
    if (fetchHook_ && onGetEditText)
        onGetEditText(index.column(), index.row());
}

void TStringGrid::mousePressEvent(QMouseEvent* event)
{
    if (onMousePress)
        onMousePress();
    QTableWidget::mousePressEvent(event);
    if (onMouseDown)
        onMouseDown(event);
}

void TStringGrid::keyPressEvent(QKeyEvent* event)
{
    // While the in-place editor is shown, typing into the grid types into the editor; the keys
    // that move between cells stay with the grid.
    QLineEdit* open = editor();
    const bool typing = (!event->text().isEmpty() && event->text().front().isPrint())
        || event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete;
    if (open && typing && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        QCoreApplication::sendEvent(open, event);
        return;
    }
    QTableWidget::keyPressEvent(event);
}

void TStringGrid::keyReleaseEvent(QKeyEvent* event)
{
    QTableWidget::keyReleaseEvent(event);
    if (!event->isAutoRepeat() && onKeyUp)
        onKeyUp(event);
}

void TStringGrid::paintCorner()
{
    QStyleOptionHeader option;
    option.initFrom(corner_);
    if (corner_->isDown())
        option.state |= QStyle::State_Sunken;
    option.position = QStyleOptionHeader::OnlyOneSection;
    option.text = cell(0, 0);
    option.textAlignment = horizontalHeader()->defaultAlignment();
    QStylePainter painter(corner_);
    painter.drawControl(QStyle::CE_Header, option);
}

bool TStringGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == corner_ && event->type() == QEvent::Paint) {
        paintCorner();
        return true;
    }
    // A key released in the in-place editor counts as released in the grid. It is taken here so
    // that it does not travel on to the grid and count twice.
    if (watched == editor_ && editor_ && event->type() == QEvent::KeyRelease) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat() && onKeyUp)
            onKeyUp(key);
        return true;
    }
    return QTableWidget::eventFilter(watched, event);
}

TGridDelegate::TGridDelegate(TStringGrid* grid)
    : QStyledItemDelegate(grid)
    , grid_(grid)
{ }

QWidget* TGridDelegate::createEditor(
    QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    auto* editor = new QLineEdit(parent);
    editor->setFrame(false);
    editor->setFont(option.font);
    // The typed text goes into the cell at once, as the grid's handlers read the cells.
    connect(editor, &QLineEdit::textEdited, this, [this, editor] {
        auto* self = const_cast<TGridDelegate*>(this);
        emit self->commitData(editor);
    });
    grid_->editorCreated(editor, index);
    return editor;
}

void TGridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* edit = static_cast<QLineEdit*>(editor);
    const QString text = index.data(Qt::EditRole).toString();
    // Rewriting the same text would move the cursor while the user types.
    if (edit->text() != text)
        edit->setText(text);
}
