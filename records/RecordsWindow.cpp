#include "RecordsWindow.h"

#include "Encode.h"
#include "ExportDialog.h"
#include "FileFacts.h"
#include "LittleEndian.h"
#include "Messages.h"
#include "RecordPane.h"
#include "SpecBuffer.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QUndoStack>
#include <QVBoxLayout>

#include <algorithm>

namespace records {

namespace {

QString fromUtf8(const std::string& s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

std::string toUtf8(const QString& s)
{
    const QByteArray bytes = s.toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

// The code pages the guess chooses among, offered beside "guess".
constexpr const char* CodePages[]
    = {"CP437", "CP850", "CP852", "CP866", "CP1250", "CP1251", "CP1252", "KOI8-R"};

spec::SpecBuffer statOf(const TWinBtr& file)
{
    spec::SpecBuffer image;
    std::copy(std::begin(file.StatBuffer), std::end(file.StatBuffer), image.bytes.begin());
    return image;
}

// How wide a column starts: room for its name and for a typical value.
int columnChars(const fields::Field& f)
{
    int value = 12;
    if (f.hex())
        value = f.length == 0 ? 24 : int(f.length) * 2;
    else if (fields::holdsCodePageText(f.type))
        value = int(f.length);
    else if (f.type.type == btr::exttype::Date)
        value = 10;
    return std::clamp(std::max(int(f.name.size()) + 2, value), 5, 40);
}

} // namespace

RecordsWindow::RecordsWindow(QWidget* parent)
    : QMainWindow(parent)
    , presenter_(std::make_unique<Presenter>())
{
    setObjectName(QStringLiteral("recordsWindow"));
    setWindowTitle(QString::fromLatin1(RecordsTitle));
    buildControls();
    buildMenus();
    progressTimer_ = new QTimer(this);
    progressTimer_->setInterval(100);
    connect(progressTimer_, &QTimer::timeout, this, &RecordsWindow::exportProgress);
    updateActions();
    resize(1280, 800);
}

RecordsWindow::~RecordsWindow() = default;

void RecordsWindow::setPresenter(std::unique_ptr<Presenter> presenter)
{
    presenter_ = std::move(presenter);
}

void RecordsWindow::buildControls()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 6, 6, 0);

    auto* bar = new QHBoxLayout;
    auto* orderLabel = new QLabel(QStringLiteral("&Order:"), central);
    orderCombo_ = new QComboBox(central);
    orderCombo_->setObjectName(QStringLiteral("orderCombo"));
    orderCombo_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    orderCombo_->setMinimumContentsLength(18);
    orderLabel->setBuddy(orderCombo_);
    descendingCheck_ = new QCheckBox(QStringLiteral("&Descending"), central);
    descendingCheck_->setObjectName(QStringLiteral("descendingCheck"));
    auto* findLabel = new QLabel(QStringLiteral("&Find:"), central);
    findKeyCombo_ = new QComboBox(central);
    findKeyCombo_->setObjectName(QStringLiteral("findKeyCombo"));
    findKeyCombo_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    findKeyCombo_->setMinimumContentsLength(14);
    findEdit_ = new QLineEdit(central);
    findEdit_->setObjectName(QStringLiteral("findEdit"));
    findEdit_->setPlaceholderText(QStringLiteral("key value (segments separated by ;)"));
    findEdit_->setClearButtonEnabled(true);
    findLabel->setBuddy(findEdit_);
    findButton_ = new QPushButton(QStringLiteral("Go"), central);
    findButton_->setObjectName(QStringLiteral("findButton"));
    auto* codeLabel = new QLabel(QStringLiteral("&Code page:"), central);
    encodingCombo_ = new QComboBox(central);
    encodingCombo_->setObjectName(QStringLiteral("encodingCombo"));
    encodingCombo_->addItem(QStringLiteral("guess"), QString::fromLatin1(fields::AutoEncoding));
    for (const char* page : CodePages)
        encodingCombo_->addItem(QString::fromLatin1(page), QString::fromLatin1(page));
    codeLabel->setBuddy(encodingCombo_);

    bar->addWidget(orderLabel);
    bar->addWidget(orderCombo_);
    bar->addWidget(descendingCheck_);
    bar->addSpacing(18);
    bar->addWidget(findLabel);
    bar->addWidget(findKeyCombo_);
    bar->addWidget(findEdit_, 1);
    bar->addWidget(findButton_);
    bar->addSpacing(18);
    bar->addWidget(codeLabel);
    bar->addWidget(encodingCombo_);
    layout->addLayout(bar);

    auto* splitter = new QSplitter(Qt::Vertical, central);
    splitter->setObjectName(QStringLiteral("recordsSplitter"));
    table_ = new QTableView(splitter);
    table_->setObjectName(QStringLiteral("recordsTable"));
    table_->setAlternatingRowColors(true);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setSelectionBehavior(QAbstractItemView::SelectItems);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setWordWrap(false);
    pane_ = new RecordPane(splitter);
    pane_->setObjectName(QStringLiteral("recordPane"));
    splitter->addWidget(table_);
    splitter->addWidget(pane_);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    layout->addWidget(splitter, 1);
    setCentralWidget(central);

    layoutSourceLabel_ = new QLabel(this);
    layoutSourceLabel_->setObjectName(QStringLiteral("layoutSourceLabel"));
    countLabel_ = new QLabel(this);
    countLabel_->setObjectName(QStringLiteral("recordCountLabel"));
    readOnlyLabel_ = new QLabel(this);
    readOnlyLabel_->setObjectName(QStringLiteral("readOnlyLabel"));
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    for (QLabel* l : {layoutSourceLabel_, countLabel_, readOnlyLabel_}) {
        l->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        l->setContentsMargins(6, 0, 6, 0);
    }
    statusBar()->addPermanentWidget(layoutSourceLabel_);
    statusBar()->addPermanentWidget(countLabel_);
    statusBar()->addPermanentWidget(readOnlyLabel_);

    connect(orderCombo_, &QComboBox::currentIndexChanged, this, [this] { changeOrder(); });
    connect(descendingCheck_, &QCheckBox::toggled, this, [this] { changeOrder(); });
    connect(findButton_, &QPushButton::clicked, this, &RecordsWindow::find);
    connect(findEdit_, &QLineEdit::returnPressed, this, &RecordsWindow::find);
    connect(encodingCombo_, &QComboBox::activated, this, [this] {
        layoutOptions_.encoding = toUtf8(encodingCombo_->currentData().toString());
        if (!model_ || editor_->undoStack()->count() == 0) {
            applyLayout(layoutOptions_, true);
            return;
        }
        // Fields made in the layout editor are the person's work: another code page changes
        // how their text reads, not which fields there are.
        const fields::FileLayout found
            = fields::fileLayout(model_->file(), ref_.path, layoutOptions_);
        if (!found.ok) {
            presenter_->error(this, fromUtf8(found.error));
            return;
        }
        const int row = table_->currentIndex().row();
        const int column = table_->currentIndex().column();
        model_->setLayout(editor_->layout(), found.encoding);
        pane_->setCodePage(found.encoding);
        showLayout(row);
        if (column >= 0 && column < model_->columnCount())
            table_->setCurrentIndex(model_->index(std::max(row, 0), column));
        layoutSourceLabel_->setText(
            QStringLiteral("Fields corrected in the layout editor; text in %1")
                .arg(fromUtf8(found.encoding)));
    });
    connect(pane_, &RecordPane::byteClicked, this, &RecordsWindow::byteClicked);

    auto* dock = new QDockWidget(QStringLiteral("Fields"), this);
    dock->setObjectName(QStringLiteral("layoutEditorDock"));
    dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    editor_ = new LayoutEditor(dock);
    editor_->setObjectName(QStringLiteral("layoutEditor"));
    dock->setWidget(editor_);
    addDockWidget(Qt::RightDockWidgetArea, dock);
    connect(editor_, &LayoutEditor::message, this, &RecordsWindow::say);
    connect(editor_, &LayoutEditor::layoutChanged, this, [this] {
        if (!model_)
            return;
        const int row = table_->currentIndex().row();
        // The field just defined or changed stays the chosen column, not the first one.
        const int field = editor_->currentField();
        model_->setLayout(editor_->layout(), model_->encoding());
        showLayout(row);
        if (field >= 0 && field < model_->columnCount())
            table_->setCurrentIndex(model_->index(std::max(row, 0), field));
        layoutSourceLabel_->setText(
            QStringLiteral("Fields corrected in the layout editor; text in %1")
                .arg(fromUtf8(model_->encoding())));
    });
    connect(editor_, &LayoutEditor::fieldSelected, this, [this](int index) {
        if (!model_ || index < 0 || index >= model_->columnCount())
            return;
        const int row = std::max(table_->currentIndex().row(), 0);
        table_->setCurrentIndex(model_->index(row, index));
        table_->scrollTo(model_->index(row, index));
    });
}

void RecordsWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    openAction_ = file->addAction(QStringLiteral("&Open..."), this, &RecordsWindow::openDialog);
    openAction_->setObjectName(QStringLiteral("actionOpen"));
    openAction_->setShortcut(QKeySequence::Open);
    file->addSeparator();
    exportAction_
        = file->addAction(QStringLiteral("&Export..."), this, &RecordsWindow::exportDialog);
    exportAction_->setObjectName(QStringLiteral("actionExport"));
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("&Quit"), this, &QWidget::close);
    quit->setObjectName(QStringLiteral("actionQuit"));
    quit->setShortcut(QKeySequence::Quit);

    // The layout editor's history: its undo and redo are the window's, not only the dock's buttons.
    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    QAction* undo = editor_->undoStack()->createUndoAction(this, QStringLiteral("&Undo"));
    undo->setObjectName(QStringLiteral("actionUndo"));
    undo->setShortcut(QKeySequence::Undo);
    edit->addAction(undo);
    QAction* redo = editor_->undoStack()->createRedoAction(this, QStringLiteral("&Redo"));
    redo->setObjectName(QStringLiteral("actionRedo"));
    redo->setShortcut(QKeySequence::Redo);
    edit->addAction(redo);

    QMenu* fields = menuBar()->addMenu(QStringLiteral("F&ields"));
    automaticLayoutAction_ = fields->addAction(
        QStringLiteral("From the &dictionary or inferred"), this, [this] { useAutomaticLayout(); });
    automaticLayoutAction_->setObjectName(QStringLiteral("actionAutomaticLayout"));
    keyLayoutAction_ = fields->addAction(
        QStringLiteral("From the &keys only"), this, [this] { useKeyLayout(); });
    keyLayoutAction_->setObjectName(QStringLiteral("actionKeyLayout"));
    loadLayoutAction_ = fields->addAction(
        QStringLiteral("&Load layout file..."), this, &RecordsWindow::loadLayoutDialog);
    loadLayoutAction_->setObjectName(QStringLiteral("actionLoadLayout"));

    QMenu* recordsMenu = menuBar()->addMenu(QStringLiteral("&Records"));
    insertBlankAction_ = recordsMenu->addAction(
        QStringLiteral("Insert &blank record"), this, &RecordsWindow::insertBlank);
    insertBlankAction_->setObjectName(QStringLiteral("actionInsertBlank"));
    insertCopyAction_ = recordsMenu->addAction(
        QStringLiteral("Insert &copy of the selected record"), this, &RecordsWindow::insertCopy);
    insertCopyAction_->setObjectName(QStringLiteral("actionInsertCopy"));
    deleteAction_ = recordsMenu->addAction(
        QStringLiteral("&Delete the selected record..."), this, &RecordsWindow::deleteSelected);
    deleteAction_->setObjectName(QStringLiteral("actionDelete"));
    deleteAction_->setShortcut(QKeySequence::Delete);

    fields->addSeparator();
    defineFieldAction_
        = fields->addAction(QStringLiteral("&Define field..."), this, &RecordsWindow::defineField);
    defineFieldAction_->setObjectName(QStringLiteral("actionDefineField"));

    // The bytes are chosen in the pane, so the pane's own menu offers to make them a field.
    pane_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(pane_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        std::unique_ptr<QMenu> menu(pane_->createStandardContextMenu(at));
        menu->addSeparator();
        menu->addAction(defineFieldAction_);
        menu->exec(pane_->viewport()->mapToGlobal(at));
    });
}

void RecordsWindow::defineField()
{
    if (!model_)
        return;
    if (pane_->selectedLength() == 0) {
        say(QStringLiteral("Select the bytes of the new field in the record pane first."));
        return;
    }
    editor_->defineFieldAt(pane_->selectedOffset(), pane_->selectedLength());
}

QString RecordsWindow::statusText() const
{
    return statusBar()->currentMessage();
}

void RecordsWindow::say(const QString& text)
{
    statusBar()->showMessage(text);
}

void RecordsWindow::openDialog()
{
    QSettings settings(QStringLiteral("Varnok"), QStringLiteral("varnok-records"));
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open a data file"),
        settings.value(QStringLiteral("lastDirectory")).toString());
    if (path.isEmpty())
        return;
    settings.setValue(QStringLiteral("lastDirectory"), QFileInfo(path).absolutePath());
    openFile(path);
}

bool RecordsWindow::openFile(const QString& path)
{
    if (job_) {
        presenter_->error(this,
            QStringLiteral("Cannot open %1 while %2 is being exported: wait for the export or "
                           "cancel it.")
                .arg(QFileInfo(path).fileName(), name_));
        return false;
    }
    const QString name = QFileInfo(path).fileName();
    const std::string file8 = toUtf8(path);
    const std::string name8 = toUtf8(name);
    auto file = std::make_unique<TWinBtr>();
    FileRef ref {file8, {}, btr::mode::ReadOnly};
    bool salvage = false;
    if (file->Open(file8.c_str(), "", uint8_t(ref.mode)) != btr::status::Success) {
        const int16_t status = file->GetStatus();
        uint8_t kind = btr::reason::None;
        const std::string reason = file->Reason(&kind);
        const QString failure = fromUtf8(cannotDo("Cannot open", name8, status, reason));
        if (status != btr::status::IoError || kind != btr::reason::Damaged) {
            presenter_->error(this, failure);
            return false;
        }
        if (!presenter_->confirm(this,
                failure
                    + QStringLiteral("\n\nOpen it in the salvage mode, read-only, to see every "
                                     "record that can still be read?")))
            return false;
        ref.mode = btr::mode::Salvage;
        if (file->Open(file8.c_str(), "", uint8_t(ref.mode)) != btr::status::Success) {
            presenter_->error(
                this, fromUtf8(cannotDo("Cannot open", name8, file->GetStatus(), file->Reason())));
            return false;
        }
        salvage = true;
    }

    uint8_t facts[btr::facts::Size] = {};
    const bool own = file->GetFileFacts(facts) == btr::status::Success
        && facts[btr::facts::at::Family] == btr::facts::OwnFormat;
    bool editable = false;
    if (own && !salvage) {
        // Our own files are written in place; a file the user may not write is still shown.
        file->Close();
        if (file->Open(file8.c_str(), "", uint8_t(btr::mode::Normal)) == btr::status::Success) {
            ref.mode = btr::mode::Normal;
            editable = true;
        } else if (file->Open(file8.c_str(), "", uint8_t(btr::mode::ReadOnly))
            != btr::status::Success) {
            presenter_->error(
                this, fromUtf8(cannotDo("Cannot open", name8, file->GetStatus(), file->Reason())));
            return false;
        }
    }

    // Records encrypted under an owner name answer 51 until Open is given one.
    file->UseStep = true;
    if (file->StepFirst() == btr::status::OwnerNameRequired) {
        const std::optional<QString> owner = presenter_->ownerName(this, name);
        if (!owner)
            return false;
        ref.owner = toUtf8(*owner);
        file->Close();
        if (file->Open(file8.c_str(), ref.owner.c_str(), uint8_t(ref.mode))
            != btr::status::Success) {
            presenter_->error(
                this, fromUtf8(cannotDo("Cannot open", name8, file->GetStatus(), file->Reason())));
            return false;
        }
        file->UseStep = true;
        if (file->StepFirst() == btr::status::OwnerNameRequired) {
            presenter_->error(
                this, fromUtf8(cannotDo("Cannot read", name8, file->GetStatus(), file->Reason())));
            return false;
        }
    }
    file->UseStep = file->IndexCount() == 0;

    if (model_) {
        table_->setModel(nullptr);
        delete model_;
        model_ = nullptr;
    }
    pane_->clearRecord();
    model_ = new RecordModel(std::move(file), name8, editable, this);
    // A file read for salvage is read in physical order only.
    if (salvage)
        model_->setOrder(ViewOrder {-1, false});
    connect(model_, &RecordModel::message, this, &RecordsWindow::say);
    ref_ = ref;
    name_ = name;
    salvage_ = salvage;
    setWindowTitle(QStringLiteral("%1 - %2").arg(name, QString::fromLatin1(RecordsTitle)));

    table_->setModel(model_);
    connect(table_->selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this](const QModelIndex& current, const QModelIndex& previous) {
            if (current.row() != previous.row())
                showRecord();
            if (current.column() >= 0) {
                columnChosen(current.column());
                if (current.column() != previous.column())
                    editor_->selectField(current.column());
            }
        });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { pane_->clearRecord(); });
    // Chosen once the table shows the model (the column widths need its columns), by the file's
    // path: the dictionary is looked for beside the file.
    layoutOptions_ = {};
    layoutOptions_.spreadSample = true;
    layoutOptions_.encoding = toUtf8(encodingCombo_->currentData().toString());
    applyLayout(layoutOptions_, true);
    fillOrders();
    updateActions();
    if (model_->rowCount() > 0)
        table_->setCurrentIndex(model_->index(0, 0));
    if (salvage)
        presenter_->report(this, QStringLiteral("Salvage report of %1").arg(name), salvageReport());
    return true;
}

QString RecordsWindow::salvageReport()
{
    namespace report = btr::salvage::report;
    uint8_t r[btr::salvage::ReportSize] = {};
    TWinBtr& file = model_->file();
    if (file.CallWith(btr::op::SalvageReport, r, sizeof r) != btr::status::Success)
        return fromUtf8(
            cannotDo("Cannot read the salvage report of", toUtf8(name_), file.GetStatus()));
    using btr::le::get32;
    const uint32_t counted = get32(r + report::CountedRecords);
    QString text;
    text += QStringLiteral("%1 is damaged. It is open in the salvage mode: read-only, in physical "
                           "order only, every record that can still be read.\n\n")
                .arg(name_);
    text += QStringLiteral("Records that can be read: %1\n").arg(get32(r + report::Rescued));
    text += QStringLiteral("  of them without their variable part: %1\n")
                .arg(get32(r + report::Partial));
    text += QStringLiteral("Records left out (a broken chain): %1\n")
                .arg(get32(r + report::LeftOut));
    if (counted != 0xFFFFFFFF)
        text += QStringLiteral("Records the file says it holds: %1\n").arg(counted);
    text += QStringLiteral("Pages cut off the end of the file: %1\n")
                .arg(get32(r + report::PagesMissing));
    text += QStringLiteral("Data pages that make no sense: %1\n")
                .arg(get32(r + report::PagesDamaged));
    text += QStringLiteral("Pages with two different copies of the same age: %1\n")
                .arg(get32(r + report::PagesAmbiguous));
    text += QStringLiteral("Pages no sound table names, taken from a copy: %1\n")
                .arg(get32(r + report::Untabled));
    text += QStringLiteral("Page size read with: %1").arg(btr::le::get16(r + report::PageSize));
    if (r[report::Flags] & btr::salvage::PageSizeFromPages)
        text += QStringLiteral(" (found from the pages: no control record gave it)");
    text += QChar(u'\n');
    switch (r[report::Source]) {
    case btr::salvage::FromControlRecord:
        text += QStringLiteral("Definition from the control record.\n");
        break;
    case btr::salvage::FromShadow:
        text += QStringLiteral("Definition from the shadow control record.\n");
        break;
    default:
        break;
    }
    if (r[report::Flags] & btr::salvage::AcsLost)
        text
            += QStringLiteral("A collating-sequence page is lost: the keys' order is not known.\n");
    return text;
}

void RecordsWindow::applyLayout(const fields::FileLayoutOptions& options, bool tellFailure)
{
    if (!model_)
        return;
    const int row = table_->currentIndex().row();
    fields::FileLayoutOptions chosen = options;
    fields::FileLayout found = fields::fileLayout(model_->file(), ref_.path, chosen);
    if (!found.ok) {
        if (tellFailure)
            presenter_->error(this, fromUtf8(found.error));
        if (!model_->layout().fields.empty())
            return;
        // A file whose records cannot be sampled is still shown by its keys.
        chosen.keysOnly = true;
        chosen.layoutFile.clear();
        found = fields::fileLayout(model_->file(), ref_.path, chosen);
        if (!found.ok)
            return;
    }
    layoutOptions_ = chosen;
    model_->setLayout(found.layout, found.encoding);
    pane_->setCodePage(found.encoding);
    showLayout(row);
    editor_->setFile(ref_, found.layout, found.encoding);
    showLayoutSource();
    if (!found.notes.empty())
        say(fromUtf8(found.notes.back()));
}

void RecordsWindow::showLayout(int row)
{
    // Room for a field's name and a typical value, in capitals and digits.
    const int letter = fontMetrics().horizontalAdvance(QLatin1Char('N'));
    const fields::Layout& layout = model_->layout();
    for (int c = 0; c < model_->columnCount(); ++c)
        table_->setColumnWidth(c, columnChars(layout.fields[size_t(c)]) * letter + 18);
    if (row >= 0 && row < model_->rowCount())
        table_->setCurrentIndex(model_->index(row, 0));
}

void RecordsWindow::showLayoutSource()
{
    const fields::Layout& layout = model_->layout();
    const QString origin = fromUtf8(layout.origin);
    QString text;
    if (origin.startsWith(QStringLiteral("layout ")))
        text = QStringLiteral("Fields from a layout file: %1").arg(origin.mid(7));
    else if (origin.startsWith(QStringLiteral("dictionary")))
        text = QStringLiteral("Fields from the %1").arg(origin);
    else if (origin.contains(QStringLiteral("inferred")))
        text = QStringLiteral("Fields inferred from the records (%1)").arg(origin);
    else
        text = QStringLiteral("Fields from the keys");
    text += QStringLiteral("; text in %1").arg(fromUtf8(model_->encoding()));
    layoutSourceLabel_->setText(text);
    layoutSourceLabel_->setToolTip(text);
}

bool RecordsWindow::loadLayout(const QString& path)
{
    if (!model_)
        return false;
    fields::FileLayoutOptions options = layoutOptions_;
    options.keysOnly = false;
    options.infer = false;
    options.layoutFile = toUtf8(path);
    fields::FileLayout found = fields::fileLayout(model_->file(), ref_.path, options);
    if (!found.ok) {
        presenter_->error(this, fromUtf8(found.error));
        return false;
    }
    applyLayout(options, true);
    return true;
}

void RecordsWindow::loadLayoutDialog()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Load a layout file"),
        QFileInfo(QString::fromStdString(ref_.path)).absolutePath(),
        QStringLiteral("Layout files (*.json);;All files (*)"));
    if (!path.isEmpty())
        loadLayout(path);
}

void RecordsWindow::useAutomaticLayout()
{
    fields::FileLayoutOptions options;
    options.encoding = layoutOptions_.encoding;
    options.spreadSample = true;
    applyLayout(options, true);
}

void RecordsWindow::useKeyLayout()
{
    fields::FileLayoutOptions options;
    options.encoding = layoutOptions_.encoding;
    options.keysOnly = true;
    applyLayout(options, true);
}

QString RecordsWindow::keyCaption(int key) const
{
    const spec::SpecBuffer stat = statOf(model_->file());
    const spec::Layout keys = stat.readLayout();
    QStringList parts;
    for (int k = 0; k < keys.entryCount; ++k) {
        if (keys.keyOfEntry[size_t(k)] != key)
            continue;
        const spec::KeySegmentSpec s = stat.segment(k);
        QString part = QStringLiteral("%1:%2").arg(s.Position).arg(s.Length);
        for (const fields::Field& f : model_->layout().fields)
            if (f.position() == uint32_t(s.Position) && f.length == uint32_t(s.Length)) {
                part = fromUtf8(f.name);
                break;
            }
        parts << part;
    }
    return QStringLiteral("Key %1 (%2)").arg(key).arg(parts.join(QStringLiteral(", ")));
}

void RecordsWindow::fillOrders()
{
    filling_ = true;
    orderCombo_->clear();
    findKeyCombo_->clear();
    orderCombo_->addItem(QStringLiteral("Physical order"), -1);
    const int keys = salvage_ ? 0 : int(model_->file().IndexCount());
    for (int k = 0; k < keys; ++k) {
        orderCombo_->addItem(keyCaption(k), k);
        findKeyCombo_->addItem(keyCaption(k), k);
    }
    orderCombo_->setCurrentIndex(orderCombo_->findData(model_->order().key));
    descendingCheck_->setChecked(model_->order().descending);
    filling_ = false;
    updateActions();
}

void RecordsWindow::changeOrder()
{
    if (filling_ || !model_)
        return;
    const ViewOrder order {orderCombo_->currentData().toInt(), descendingCheck_->isChecked()};
    if (order == model_->order())
        return;
    if (!model_->setOrder(order)) {
        say(model_->lastError());
        return;
    }
    if (order.key >= 0)
        findKeyCombo_->setCurrentIndex(findKeyCombo_->findData(order.key));
    updateActions();
    if (model_->rowCount() > 0)
        table_->setCurrentIndex(model_->index(0, std::max(table_->currentIndex().column(), 0)));
}

void RecordsWindow::updateActions()
{
    const bool open = model_ != nullptr;
    const bool editable = open && model_->editable();
    const bool keys = open && findKeyCombo_->count() > 0;
    orderCombo_->setEnabled(open);
    descendingCheck_->setEnabled(open);
    findKeyCombo_->setEnabled(keys);
    findEdit_->setEnabled(keys);
    findButton_->setEnabled(keys);
    encodingCombo_->setEnabled(open);
    automaticLayoutAction_->setEnabled(open);
    keyLayoutAction_->setEnabled(open);
    loadLayoutAction_->setEnabled(open);
    defineFieldAction_->setEnabled(open);
    editor_->setEnabled(open);
    exportAction_->setEnabled(open && !job_);
    insertBlankAction_->setEnabled(editable);
    insertCopyAction_->setEnabled(editable);
    deleteAction_->setEnabled(editable);
    table_->setEditTriggers(editable ? QAbstractItemView::DoubleClicked
                | QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed
                                     : QAbstractItemView::NoEditTriggers);
    if (!open) {
        readOnlyLabel_->setText({});
        countLabel_->setText({});
        layoutSourceLabel_->setText(QStringLiteral("No file open: File > Open..."));
        return;
    }
    if (salvage_)
        readOnlyLabel_->setText(QStringLiteral("Read-only: damaged, open in the salvage mode"));
    else if (!editable && ref_.mode == btr::mode::ReadOnly)
        readOnlyLabel_->setText(
            QStringLiteral("Read-only: written by the vendor's engine, never changed"));
    else if (!editable)
        readOnlyLabel_->setText(QStringLiteral("Read-only"));
    else
        readOnlyLabel_->setText(QStringLiteral("Editable"));
    const int64_t records = std::max<int32_t>(model_->file().RecordCount(), 0);
    const int rows = model_->rowCount();
    if (model_->order().key >= 0 && rows != records)
        countLabel_->setText(QStringLiteral("%L1 entries of key %2 (%L3 records)")
                                 .arg(rows)
                                 .arg(model_->order().key)
                                 .arg(records));
    else
        countLabel_->setText(QStringLiteral("%L1 records").arg(rows));
}

void RecordsWindow::showRecord()
{
    const int row = table_->currentIndex().row();
    const std::vector<uint8_t>* record = model_ && row >= 0 ? model_->recordAt(row) : nullptr;
    if (!record) {
        pane_->clearRecord();
        return;
    }
    pane_->setRecord(*record);
    columnChosen(table_->currentIndex().column());
}

void RecordsWindow::columnChosen(int column)
{
    if (!model_ || column < 0 || column >= model_->columnCount()) {
        pane_->markBytes(0, -1);
        return;
    }
    const fields::Field& f = model_->layout().fields[size_t(column)];
    pane_->markBytes(int(f.offset), int(f.length));
}

void RecordsWindow::byteClicked(int offset)
{
    if (!model_)
        return;
    // Of the fields over that byte (a dictionary's field and its parts overlap), the narrowest.
    int best = -1;
    uint32_t bestLength = UINT32_MAX;
    const auto& fields = model_->layout().fields;
    for (size_t i = 0; i < fields.size(); ++i) {
        const fields::Field& f = fields[i];
        const bool covers = uint32_t(offset) >= f.offset
            && (f.length == 0 || uint32_t(offset) < f.offset + f.length);
        const uint32_t length = f.length == 0 ? UINT32_MAX - 1 : f.length;
        if (covers && length < bestLength) {
            best = int(i);
            bestLength = length;
        }
    }
    const int row = table_->currentIndex().row();
    if (best < 0 || row < 0)
        return;
    table_->setCurrentIndex(model_->index(row, best));
    table_->scrollTo(model_->index(row, best));
}

bool RecordsWindow::encodeFindKey(
    int key, const QString& text, std::vector<uint8_t>& bytes, QString& why)
{
    const spec::SpecBuffer stat = statOf(model_->file());
    const spec::Layout keys = stat.readLayout();
    std::vector<spec::KeySegmentSpec> segments;
    for (int k = 0; k < keys.entryCount; ++k)
        if (keys.keyOfEntry[size_t(k)] == key)
            segments.push_back(stat.segment(k));
    const QStringList parts = segments.size() > 1 ? text.split(QChar(u';')) : QStringList {text};
    if (parts.size() > qsizetype(segments.size())) {
        why = QStringLiteral("key %1 has %2 segments, and %3 values were given")
                  .arg(key)
                  .arg(segments.size())
                  .arg(parts.size());
        return false;
    }
    fields::TextEncoder encoder(model_->encoding());
    bytes.clear();
    for (size_t s = 0; s < segments.size(); ++s) {
        const spec::KeySegmentSpec& seg = segments[s];
        fields::ValueType type;
        if (seg.KeyFlags & btr::keyflag::ExtendedType)
            type.type = seg.ExtendedType;
        else
            type.type = (seg.KeyFlags & btr::keyflag::Binary) ? btr::exttype::Unsigned
                                                              : btr::exttype::String;
        // The field over the same bytes knows the decimals and the sign the key does not.
        for (const fields::Field& f : model_->layout().fields)
            if (f.position() == uint32_t(seg.Position) && f.length == uint32_t(seg.Length)
                && f.type.type == type.type)
                type = f.type;
        const size_t length = size_t(std::max<int16_t>(seg.Length, 0));
        // Segments not given are their lowest bytes; text is padded with blanks as records are.
        std::vector<uint8_t> part(length,
            fields::holdsCodePageText(type) && type.type != btr::exttype::ZString ? ' ' : 0);
        if (qsizetype(s) < parts.size()) {
            std::string reason;
            const std::string value = toUtf8(parts[qsizetype(s)].trimmed());
            if (!fields::encodeValue(type, value, part.data(), part.size(), encoder, reason)) {
                why = fromUtf8(reason);
                return false;
            }
        }
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return true;
}

void RecordsWindow::find()
{
    if (!model_ || findKeyCombo_->count() == 0)
        return;
    const int key = findKeyCombo_->currentData().toInt();
    const QString text = findEdit_->text();
    std::vector<uint8_t> bytes;
    QString why;
    if (!encodeFindKey(key, text, bytes, why)) {
        say(QStringLiteral("Cannot find \"%1\": %2.").arg(text, why));
        return;
    }
    filling_ = true;
    orderCombo_->setCurrentIndex(orderCombo_->findData(key));
    filling_ = false;
    const int64_t row = model_->findAtOrAfter(key, bytes);
    updateActions();
    if (row == -1) {
        say(QStringLiteral("Not found: no record has %1 at or after \"%2\".")
                .arg(keyCaption(key), text));
        return;
    }
    if (row < 0) {
        say(model_->lastError());
        return;
    }
    const QModelIndex at = model_->index(int(row), std::max(table_->currentIndex().column(), 0));
    table_->setCurrentIndex(at);
    table_->scrollTo(at, QAbstractItemView::PositionAtTop);
    say(QStringLiteral("Found at row %L1.").arg(row + 1));
}

void RecordsWindow::insertBlank()
{
    if (!model_)
        return;
    if (model_->insertRecord())
        say(QStringLiteral("A blank record was inserted."));
    else
        say(model_->lastError());
    updateActions();
}

void RecordsWindow::insertCopy()
{
    const int row = table_->currentIndex().row();
    if (!model_ || row < 0) {
        say(QStringLiteral("Select the record to copy first."));
        return;
    }
    if (model_->insertRecord(row))
        say(QStringLiteral("A copy of record %L1 was inserted.").arg(row + 1));
    else
        say(model_->lastError());
    updateActions();
}

void RecordsWindow::deleteSelected()
{
    const int row = table_->currentIndex().row();
    if (!model_ || row < 0) {
        say(QStringLiteral("Select the record to delete first."));
        return;
    }
    if (!presenter_->confirm(this,
            QStringLiteral("Delete record %L1 from %2? This cannot be undone.")
                .arg(row + 1)
                .arg(name_)))
        return;
    if (model_->deleteRecord(row))
        say(QStringLiteral("Record %L1 was deleted.").arg(row + 1));
    else
        say(model_->lastError());
    updateActions();
    if (model_->rowCount() > 0)
        table_->setCurrentIndex(model_->index(std::min(row, model_->rowCount() - 1), 0));
}

void RecordsWindow::exportDialog()
{
    if (!model_ || job_)
        return;
    const QFileInfo source(QString::fromStdString(ref_.path));
    ExportDialog dialog(source.absolutePath() + QChar(u'/') + source.completeBaseName(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (dialog.path().isEmpty()) {
        presenter_->error(
            this, QStringLiteral("Cannot export %1: no file to export to was named.").arg(name_));
        return;
    }
    startExport(dialog.path(), dialog.settings());
}

bool RecordsWindow::startExport(const QString& path, const exporting::Settings& settings)
{
    if (!model_ || job_)
        return false;
    const exporting::Order order {model_->order().key, model_->order().descending};
    job_ = new ExportJob(ref_, toUtf8(name_), model_->layout(), model_->encoding(), order, settings,
        toUtf8(path), this);
    exportPath_ = path;
    progress_ = new QProgressDialog(QStringLiteral("Exporting the records of %1 to %2...")
                                        .arg(name_, QFileInfo(path).fileName()),
        QStringLiteral("Cancel"), 0, 1000, this);
    progress_->setObjectName(QStringLiteral("exportProgress"));
    progress_->setWindowTitle(QString::fromLatin1(RecordsTitle));
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setMinimumDuration(400);
    // Wide enough for the counts of a large file, so that the label is not cut as they grow.
    progress_->setMinimumWidth(progress_->fontMetrics().horizontalAdvance(progress_->labelText()
                                   + QStringLiteral(": 000,000,000 of 000,000,000"))
        + 48);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    progress_->setValue(0);
    connect(progress_, &QProgressDialog::canceled, job_, &ExportJob::cancel);
    connect(job_, &ExportJob::finished, this, &RecordsWindow::exportFinished);
    progressTimer_->start();
    exportAction_->setEnabled(false);
    say(QStringLiteral("Exporting to %1...").arg(path));
    job_->start();
    return true;
}

void RecordsWindow::exportProgress()
{
    if (!job_ || !progress_)
        return;
    const uint64_t total = job_->total();
    const uint64_t done = job_->done();
    const QString target = QFileInfo(exportPath_).fileName();
    progress_->setLabelText(total
            ? QStringLiteral("Exporting the records of %1 to %2: %L3 of %L4...")
                  .arg(name_, target)
                  .arg(done)
                  .arg(total)
            : QStringLiteral("Exporting the records of %1 to %2: %L3...")
                  .arg(name_, target)
                  .arg(done));
    // Last: a window-modal dialog lets events through here, and the end of the export among them.
    progress_->setValue(total ? int(std::min<uint64_t>(done * 1000 / total, 1000)) : 0);
}

void RecordsWindow::exportFinished()
{
    progressTimer_->stop();
    const exporting::Result result = job_->result();
    job_->deleteLater();
    job_ = nullptr;
    progress_->hide();
    progress_->deleteLater();
    progress_ = nullptr;
    updateActions();
    if (result.cancelled) {
        say(QStringLiteral("The export was cancelled: nothing was written to %1.")
                .arg(exportPath_));
    } else if (!result.ok) {
        say(QString());
        presenter_->error(this, fromUtf8(result.error));
    } else {
        QString text
            = QStringLiteral("%L1 records exported to %2.").arg(result.records).arg(exportPath_);
        if (result.invalidValues)
            text += QStringLiteral(" %L1 values not valid for their type were written as hex.")
                        .arg(result.invalidValues);
        say(text);
    }
    emit exportEnded();
}

} // namespace records
