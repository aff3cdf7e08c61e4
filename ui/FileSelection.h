// The file-selection controls: volume, directory, file list and file-type filter.
//
// The process's current directory is the directory the user works in: choosing a volume or a
// directory makes it current, and the file list always shows the current directory. Bare file
// names typed into the window are resolved against it.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>

// The files of the current directory that match a mask. A mask holds one or more patterns
// separated by ";" ("*.BTR", "*.BTR;*.DAT"); "*.*" stands for every file, and names match
// without regard to case. Every re-read leaves the list without a selection; the linked edit
// then shows the mask, and otherwise the selected file's bare name.
class TFileListBox : public QListWidget
{
    Q_OBJECT
public:
    explicit TFileListBox(QWidget* parent = nullptr);

    QString mask() const { return mask_; }
    // Sets the mask and re-reads the list, also when the mask is the one it had.
    void setMask(const QString& mask);
    void reread();
    void setFileEdit(QLineEdit* edit);
    // The bare name of the selected file, or an empty text.
    QString fileName() const;

private:
    void selectionToEdit();

    QString mask_ = QStringLiteral("*.BTR");
    QPointer<QLineEdit> fileEdit_;
};

// The current directory, its ancestors from the volume's root down, and its subdirectories.
// Choosing an entry (double click or Enter) makes it the current directory.
class TDirectoryListBox : public QListWidget
{
    Q_OBJECT
public:
    explicit TDirectoryListBox(QWidget* parent = nullptr);

    QString directory() const;
    // Makes path the process's current directory, then re-reads this list and the file list.
    // A directory that cannot be entered raises the file-system error.
    void setDirectory(const QString& path);
    void reread();
    void setFileList(TFileListBox* list) { fileList_ = list; }
    // Enters the directory of an entry of this list.
    void openItem(QListWidgetItem* item);

signals:
    void directoryChanged(const QString& path);

private:
    TFileListBox* fileList_ = nullptr;
};

// The mounted volumes; choosing one makes its root the current directory.
class TDriveComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit TDriveComboBox(QWidget* parent = nullptr);

    void reread();
    // Shows the volume that holds path.
    void showVolumeOf(const QString& path);
    void setDirList(TDirectoryListBox* list) { dirList_ = list; }
    // Enters the root of the volume at index.
    void openVolume(int index);

private:
    TDirectoryListBox* dirList_ = nullptr;
};

// File types offered as "description|mask|description|mask|..."; choosing one sets the file
// list's mask.
class TFilterComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit TFilterComboBox(QWidget* parent = nullptr);

    void setFilter(const QString& filter);
    QString mask() const { return currentData().toString(); }
    void setFileList(TFileListBox* list) { fileList_ = list; }
    void applyMask();

private:
    TFileListBox* fileList_ = nullptr;
};
