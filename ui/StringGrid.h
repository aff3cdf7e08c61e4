// TStringGrid: a grid of texts addressed as cell(column, row), row 0 being the header row.
//
// The fixed header row (and, for a grid with a fixed column, column 0) are ordinary rows and
// columns of the table, so rowCount() counts the header row and cell(c, 0) reads a header. They
// are hidden from view and mirrored into the table's header sections, which stay in place when
// the body scrolls; with a fixed column, the corner where the two headers meet shows cell (0, 0).
#pragma once

#include <QAbstractButton>
#include <QLineEdit>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include <functional>

class TStringGrid : public QTableWidget
{
    Q_OBJECT
public:
    TStringGrid(int columns, int rows, bool fixedColumn, QWidget* parent = nullptr);

    QString cell(int col, int row) const;
    void setCell(int col, int row, const QString& text);
    int colCount() const { return columnCount(); }
    // Copies every cell of row from into row to.
    void copyRow(int from, int to);

    // The grid's in-place editor follows the current cell, as if always shown.
    void setEditorAlwaysShown(bool on);
    // Shows the in-place editor on the current cell. fetchHook false: the editor takes the
    // cell's text without running the edit-text hook.
    void showEditor(bool fetchHook = true);
    // Makes (col, row) the current cell; the editor that follows it takes the cell's text
    // without running the edit-text hook.
    void moveQuietly(int col, int row);
    // Closes the in-place editor; its text is already in the cell.
    void closeInPlaceEditor();
    // The open in-place editor, or null.
    QLineEdit* editor() const;

    // Hooks of the window: the editor fetched the text of (column, row); a mouse button went
    // down (the clicked cell is already current); a key was released in the grid or its editor.
    std::function<void(int col, int row)> onGetEditText;
    std::function<void()> onMousePress; // before the grid handles the press
    std::function<void(QMouseEvent*)> onMouseDown;
    std::function<void(QKeyEvent*)> onKeyUp;

protected:
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TGridDelegate;
    void mirrorHeaders(const QModelIndex& topLeft, const QModelIndex& bottomRight);
    void editorCreated(QLineEdit* editor, const QModelIndex& index);
    void paintCorner();

    bool fixedColumn_;
    bool fetchHook_ = true;
    QPointer<QLineEdit> editor_;
    // The corner above the header column, which shows the text of cell (0, 0).
    QPointer<QAbstractButton> corner_;
    QPersistentModelIndex editorIndex_;
};

// The in-place editor of TStringGrid: a line edit whose text goes into the cell as it is typed,
// so the cell and its editor never disagree.
class TGridDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit TGridDelegate(TStringGrid* grid);
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
        const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;

private:
    TStringGrid* grid_;
};
