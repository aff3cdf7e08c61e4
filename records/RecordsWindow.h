// The records window: any data file's records as named, typed columns, in physical order or along
// a key, found by key value, each record's bytes beside the table, Varnok's own files edited in
// place.
#pragma once

#include "Export.h"
#include "FileLayout.h"
#include "LayoutEditor.h"
#include "Presenter.h"
#include "RecordModel.h"

#include <QMainWindow>

#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QProgressDialog;
class QTableView;
class QTimer;

namespace records {

class ExportJob;
class RecordPane;

class RecordsWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit RecordsWindow(QWidget* parent = nullptr);
    ~RecordsWindow() override;

    // Tests put a recorder in its place.
    void setPresenter(std::unique_ptr<Presenter> presenter);
    Presenter& presenter() { return *presenter_; }

    // Opens a data file: our own files for writing, the vendor's read-only, a damaged one in the
    // salvage mode when the user agrees. False when nothing was opened (the user was told why).
    bool openFile(const QString& path);
    // Reads the fields from a layout file; false when it does not fit (the user was told why).
    bool loadLayout(const QString& path);
    // The layout from the dictionary or inferred (as on opening), or from the keys alone.
    void useAutomaticLayout();
    void useKeyLayout();

    RecordModel* model() const { return model_; }
    LayoutEditor* layoutEditor() const { return editor_; }
    const FileRef& fileRef() const { return ref_; }
    bool salvaging() const { return salvage_; }
    // What the status bar said last.
    QString statusText() const;

    // Exports every record in the view's order to `path` in a worker thread of its own, with a
    // progress dialog (exportProgress) whose Cancel leaves no file behind; exportEnded follows.
    // False when no file is open or an export already runs.
    bool startExport(const QString& path, const exporting::Settings& settings);
    bool exporting() const { return job_ != nullptr; }

signals:
    void exportEnded();

public slots:
    void find();
    void openDialog();
    void loadLayoutDialog();
    void insertBlank();
    void insertCopy();
    void deleteSelected();
    void exportDialog();
    // Opens the layout editor's form for the bytes selected in the record pane.
    void defineField();

private:
    void buildControls();
    void buildMenus();
    void applyLayout(const fields::FileLayoutOptions& options, bool tellFailure);
    // The model's columns shown at fitting widths, `row` the current one again.
    void showLayout(int row);
    void showLayoutSource();
    void fillOrders();
    void changeOrder();
    void showRecord();
    void columnChosen(int column);
    void byteClicked(int offset);
    void say(const QString& text);
    void updateActions();
    QString keyCaption(int key) const;
    bool encodeFindKey(int key, const QString& text, std::vector<uint8_t>& bytes, QString& why);
    QString salvageReport();
    void exportProgress();
    void exportFinished();

    std::unique_ptr<Presenter> presenter_;
    RecordModel* model_ = nullptr;
    FileRef ref_;
    QString name_;
    bool salvage_ = false;
    fields::FileLayoutOptions layoutOptions_;

    QTableView* table_ = nullptr;
    RecordPane* pane_ = nullptr;
    QComboBox* orderCombo_ = nullptr;
    QCheckBox* descendingCheck_ = nullptr;
    QComboBox* findKeyCombo_ = nullptr;
    QLineEdit* findEdit_ = nullptr;
    QPushButton* findButton_ = nullptr;
    QComboBox* encodingCombo_ = nullptr;
    QLabel* layoutSourceLabel_ = nullptr;
    QLabel* readOnlyLabel_ = nullptr;
    QLabel* countLabel_ = nullptr;
    QAction* openAction_ = nullptr;
    QAction* loadLayoutAction_ = nullptr;
    QAction* automaticLayoutAction_ = nullptr;
    QAction* keyLayoutAction_ = nullptr;
    QAction* exportAction_ = nullptr;
    QAction* insertBlankAction_ = nullptr;
    QAction* insertCopyAction_ = nullptr;
    QAction* deleteAction_ = nullptr;
    bool filling_ = false;
    LayoutEditor* editor_ = nullptr;
    QAction* defineFieldAction_ = nullptr;
    ExportJob* job_ = nullptr;
    QProgressDialog* progress_ = nullptr;
    QTimer* progressTimer_ = nullptr;
    QString exportPath_;
};

} // namespace records
