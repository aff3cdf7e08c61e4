// File > Export: the format and its settings, then the export itself on a handle of its own in a
// worker thread, with a progress dialog whose Cancel leaves no partial file behind.
#pragma once

#include "Export.h"
#include "Layout.h"
#include "LayoutEditor.h"

#include <QDialog>
#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QProgressDialog;
class QThread;
class QTimer;

namespace records {

// The choices of an export: where to, in which format, with what settings.
class ExportDialog : public QDialog
{
    Q_OBJECT
public:
    // `suggested`: the destination offered, the data file's name with the format's extension.
    ExportDialog(const QString& suggested, QWidget* parent = nullptr);

    exporting::Settings settings() const;
    QString path() const;

private:
    void formatChosen();
    void browse();

    QComboBox* format_ = nullptr;
    QLineEdit* path_ = nullptr;
    QComboBox* delimiter_ = nullptr;
    QCheckBox* header_ = nullptr;
    QComboBox* dialect_ = nullptr;
    QLineEdit* table_ = nullptr;
    QString base_;
};

// One export running in a worker thread that opens the file again by itself: the window keeps
// reading its own handle, and neither ever shares a position block.
class ExportJob : public QObject
{
    Q_OBJECT
public:
    ExportJob(const FileRef& file, const std::string& sourceName, const fields::Layout& layout,
        const std::string& encoding, const exporting::Order& order,
        const exporting::Settings& settings, const std::string& path, QObject* parent = nullptr);
    ~ExportJob() override;

    void start();
    void cancel() { stop_ = true; }
    bool running() const;
    uint64_t done() const { return done_; }
    uint64_t total() const { return total_; }
    // Once finished() was emitted.
    const exporting::Result& result() const { return result_; }

signals:
    void finished();

private:
    void work();

    FileRef file_;
    std::string sourceName_;
    fields::Layout layout_;
    std::string encoding_;
    exporting::Order order_;
    exporting::Settings settings_;
    std::string path_;
    std::atomic<bool> stop_ {false};
    std::atomic<uint64_t> done_ {0};
    std::atomic<uint64_t> total_ {0};
    exporting::Result result_;
    QThread* thread_ = nullptr;
};

} // namespace records
