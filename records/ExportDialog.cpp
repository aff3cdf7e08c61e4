#include "ExportDialog.h"

#include "Messages.h"
#include "TextDecoder.h"
#include "WinBtr.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>

namespace records {

namespace {

struct FormatChoice
{
    const char* caption;
    exporting::Format format;
    const char* extension;
};

constexpr FormatChoice Formats[] = {
    {"CSV", exporting::Format::Csv, ".csv"},
    {"JSON Lines", exporting::Format::JsonLines, ".jsonl"},
    {"SQL script", exporting::Format::Sql, ".sql"},
    {"SQLite database", exporting::Format::Sqlite, ".sqlite"},
};

} // namespace

ExportDialog::ExportDialog(const QString& suggested, QWidget* parent)
    : QDialog(parent)
    , base_(suggested)
{
    setObjectName(QStringLiteral("exportDialog"));
    setWindowTitle(QStringLiteral("Export the records"));
    auto* form = new QFormLayout(this);
    format_ = new QComboBox(this);
    format_->setObjectName(QStringLiteral("exportFormatCombo"));
    for (const FormatChoice& f : Formats)
        format_->addItem(QString::fromLatin1(f.caption));
    form->addRow(QStringLiteral("&Format:"), format_);

    auto* where = new QHBoxLayout;
    path_ = new QLineEdit(this);
    path_->setObjectName(QStringLiteral("exportPathEdit"));
    path_->setMinimumWidth(360);
    auto* browseButton = new QPushButton(QStringLiteral("&Browse..."), this);
    browseButton->setObjectName(QStringLiteral("exportBrowseButton"));
    where->addWidget(path_, 1);
    where->addWidget(browseButton);
    form->addRow(QStringLiteral("&To:"), where);

    delimiter_ = new QComboBox(this);
    delimiter_->setObjectName(QStringLiteral("exportDelimiterCombo"));
    delimiter_->addItem(QStringLiteral("Comma"), QChar(u','));
    delimiter_->addItem(QStringLiteral("Semicolon"), QChar(u';'));
    delimiter_->addItem(QStringLiteral("Tab"), QChar(u'\t'));
    form->addRow(QStringLiteral("&Delimiter:"), delimiter_);
    header_ = new QCheckBox(QStringLiteral("A first line of column names"), this);
    header_->setObjectName(QStringLiteral("exportHeaderCheck"));
    header_->setChecked(true);
    form->addRow(QString(), header_);
    dialect_ = new QComboBox(this);
    dialect_->setObjectName(QStringLiteral("exportDialectCombo"));
    dialect_->addItem(QStringLiteral("SQLite"));
    dialect_->addItem(QStringLiteral("PostgreSQL"));
    form->addRow(QStringLiteral("SQL &dialect:"), dialect_);
    table_ = new QLineEdit(this);
    table_->setObjectName(QStringLiteral("exportTableEdit"));
    table_->setPlaceholderText(QStringLiteral("the dictionary's table or the file's name"));
    form->addRow(QStringLiteral("T&able:"), table_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("exportButtons"));
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Export"));
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(browseButton, &QPushButton::clicked, this, &ExportDialog::browse);
    connect(format_, &QComboBox::currentIndexChanged, this, &ExportDialog::formatChosen);
    formatChosen();
}

void ExportDialog::formatChosen()
{
    const FormatChoice& f = Formats[format_->currentIndex()];
    delimiter_->setEnabled(f.format == exporting::Format::Csv);
    header_->setEnabled(f.format == exporting::Format::Csv);
    dialect_->setEnabled(f.format == exporting::Format::Sql);
    table_->setEnabled(f.format == exporting::Format::Sql || f.format == exporting::Format::Sqlite);
    // The destination follows the format until the user names one of their own.
    const QString current = path_->text();
    bool ours = current.isEmpty();
    for (const FormatChoice& c : Formats)
        ours = ours || current == base_ + QString::fromLatin1(c.extension);
    if (ours)
        path_->setText(base_ + QString::fromLatin1(f.extension));
}

void ExportDialog::browse()
{
    const QString chosen
        = QFileDialog::getSaveFileName(this, QStringLiteral("Export to"), path_->text());
    if (!chosen.isEmpty())
        path_->setText(chosen);
}

exporting::Settings ExportDialog::settings() const
{
    exporting::Settings s;
    s.format = Formats[format_->currentIndex()].format;
    s.delimiter = char(delimiter_->currentData().toChar().unicode());
    s.header = header_->isChecked();
    s.dialect = dialect_->currentIndex() == 1 ? exporting::Dialect::Postgresql
                                              : exporting::Dialect::Sqlite;
    const QByteArray table = table_->text().trimmed().toUtf8();
    s.table.assign(table.constData(), size_t(table.size()));
    return s;
}

QString ExportDialog::path() const
{
    return path_->text().trimmed();
}

ExportJob::ExportJob(const FileRef& file, const std::string& sourceName,
    const fields::Layout& layout, const std::string& encoding, const exporting::Order& order,
    const exporting::Settings& settings, const std::string& path, QObject* parent)
    : QObject(parent)
    , file_(file)
    , sourceName_(sourceName)
    , layout_(layout)
    , encoding_(encoding)
    , order_(order)
    , settings_(settings)
    , path_(path)
{ }

ExportJob::~ExportJob()
{
    if (thread_) {
        stop_ = true;
        thread_->wait();
        delete thread_;
    }
}

void ExportJob::start()
{
    thread_ = QThread::create([this] { work(); });
    // finished() reaches the window through its event loop, once the thread's work is over.
    connect(thread_, &QThread::finished, this, &ExportJob::finished, Qt::QueuedConnection);
    thread_->start();
}

bool ExportJob::running() const
{
    return thread_ && !thread_->isFinished();
}

void ExportJob::work()
{
    TWinBtr file;
    if (file.Open(file_.path.c_str(), file_.owner.c_str(), uint8_t(file_.mode))
        != btr::status::Success) {
        result_.error = cannotDo("Cannot open", sourceName_, file.GetStatus(), file.Reason());
        return;
    }
    fields::TextDecoder decoder(encoding_);
    result_ = exporting::exportFile(file, sourceName_, layout_, decoder, order_, settings_, path_,
        [this](uint64_t done, uint64_t total) {
            done_ = done;
            total_ = total;
            return !stop_;
        });
    file.Close();
}

} // namespace records
