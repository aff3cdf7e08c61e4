#include "FileSelection.h"

#include "Errors.h"

#include <QDir>
#include <QLineEdit>
#include <QStorageInfo>

#include <filesystem>
#include <system_error>

namespace {

constexpr int PathRole = Qt::UserRole;

// The name filters of a mask: "*.*" means every file, as it always has for these files.
QStringList nameFilters(const QString& mask)
{
    QStringList filters;
    for (const QString& part : mask.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString pattern = part.trimmed();
        if (pattern.isEmpty())
            continue;
        filters << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
    }
    return filters;
}

} // namespace

TFileListBox::TFileListBox(QWidget* parent)
    : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemSelectionChanged, this, &TFileListBox::selectionToEdit);
}

void TFileListBox::setMask(const QString& mask)
{
    mask_ = mask;
    reread();
}

void TFileListBox::reread()
{
    QDir dir(QDir::currentPath());
    dir.setNameFilters(nameFilters(mask_));
    // Without QDir::CaseSensitive the name filters match regardless of case.
    dir.setFilter(QDir::Files | QDir::Hidden);
    dir.setSorting(QDir::Name | QDir::IgnoreCase);
    {
        const QSignalBlocker blocker(this);
        clear();
        addItems(dir.entryList());
        setCurrentRow(-1);
        clearSelection();
    }
    selectionToEdit();
}

void TFileListBox::setFileEdit(QLineEdit* edit)
{
    fileEdit_ = edit;
    selectionToEdit();
}

QString TFileListBox::fileName() const
{
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

void TFileListBox::selectionToEdit()
{
    if (!fileEdit_)
        return;
    const QString name = fileName();
    fileEdit_->setText(name.isEmpty() ? mask_ : name);
    fileEdit_->selectAll();
}

TDirectoryListBox::TDirectoryListBox(QWidget* parent)
    : QListWidget(parent)
{
    reread();
}

QString TDirectoryListBox::directory() const
{
    return QDir::currentPath();
}

void TDirectoryListBox::setDirectory(const QString& path)
{
    std::error_code error;
    std::filesystem::current_path(std::filesystem::path(path.toStdString()), error);
    if (error)
        raiseFileError(error.value());
    reread();
    if (fileList_)
        fileList_->reread();
    emit directoryChanged(directory());
}

void TDirectoryListBox::reread()
{
    const QString current = QDir::currentPath();
    clear();
    // The ancestors from the root down, each one step further indented, then the children.
    QStringList chain;
    QDir up(current);
    chain.prepend(up.absolutePath());
    while (up.cdUp())
        chain.prepend(up.absolutePath());
    int depth = 0;
    for (const QString& path : chain) {
        const QString name = QDir(path).isRoot() ? path : QDir(path).dirName();
        auto* item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + name, this);
        item->setData(PathRole, path);
        if (path == current)
            setCurrentItem(item);
        ++depth;
    }
    const QDir dir(current);
    const QStringList children = dir.entryList(
        QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    for (const QString& child : children) {
        auto* item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + child, this);
        item->setData(PathRole, dir.absoluteFilePath(child));
    }
}

void TDirectoryListBox::openItem(QListWidgetItem* item)
{
    if (item)
        setDirectory(item->data(PathRole).toString());
}

TDriveComboBox::TDriveComboBox(QWidget* parent)
    : QComboBox(parent)
{
    reread();
}

void TDriveComboBox::reread()
{
    const QSignalBlocker blocker(this);
    clear();
    QStringList roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady() && !roots.contains(volume.rootPath()))
            roots << volume.rootPath();
    }
    roots.sort();
    for (const QString& root : roots)
        addItem(root, root);
    showVolumeOf(QDir::currentPath());
}

void TDriveComboBox::showVolumeOf(const QString& path)
{
    const QSignalBlocker blocker(this);
    const QString root = QStorageInfo(path).rootPath();
    int index = findData(root);
    if (index < 0 && !root.isEmpty()) {
        addItem(root, root);
        index = count() - 1;
    }
    setCurrentIndex(index);
}

void TDriveComboBox::openVolume(int index)
{
    if (index < 0 || !dirList_)
        return;
    dirList_->setDirectory(itemData(index).toString());
}

TFilterComboBox::TFilterComboBox(QWidget* parent)
    : QComboBox(parent)
{ }

void TFilterComboBox::setFilter(const QString& filter)
{
    const QSignalBlocker blocker(this);
    clear();
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        addItem(parts[i], parts[i + 1]);
    setCurrentIndex(count() > 0 ? 0 : -1);
}

void TFilterComboBox::applyMask()
{
    if (fileList_ && currentIndex() >= 0)
        fileList_->setMask(mask());
}
