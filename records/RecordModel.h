// The records of one open data file as a table: one row per entry of the order in force (physical
// order, or a key in either direction), one column per field of the layout.
//
// The model never holds the file: it keeps a short run of consecutive entries around the rows
// the view asks for, read through its own TWinBtr. Row r is entry r of the order (counted from
// the end when descending). A row far from the run is reached by Get By Percentage, which names
// entry floor(p x (n - 1) / 10000): the run starts there, exactly, and is read on with Get Next or
// Step Next up to the row, so the rows around a jump are the records that follow one another.
#pragma once

#include "Layout.h"
#include "TextDecoder.h"
#include "TextEncoder.h"
#include "WinBtr.h"

#include <QAbstractTableModel>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace records {

// Where a file is read along: a key number, or -1 for physical order.
struct ViewOrder
{
    int key = -1;
    bool descending = false;
    bool operator==(const ViewOrder&) const = default;
};

class RecordModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // The role that gives a cell's bytes as the record holds them (a QByteArray).
    static constexpr int BytesRole = Qt::UserRole + 1;
    // The role that says whether a cell holds a value not valid for its type (a bool).
    static constexpr int InvalidRole = Qt::UserRole + 2;

    // Takes an open file. `editable` for Varnok's own files opened for writing.
    RecordModel(std::unique_ptr<TWinBtr> file, const std::string& name, bool editable,
        QObject* parent = nullptr);
    ~RecordModel() override;

    TWinBtr& file() { return *file_; }
    const std::string& name() const { return name_; }
    bool editable() const { return editable_; }

    // A new layout (and the code page its text is read in): the columns change, the records stay.
    void setLayout(const fields::Layout& layout, const std::string& encoding);
    const fields::Layout& layout() const { return layout_; }
    const std::string& encoding() const { return encoding_; }

    // Reads along another order from its first row; false, with the order unchanged and
    // lastError() saying why, when the file refuses it.
    bool setOrder(const ViewOrder& order);
    const ViewOrder& order() const { return order_; }

    // Forgets every record read and counts them again (after a write, or a change by another
    // process the user was told of).
    void reload();

    // The row of the first entry of `keyNumber` at or after the value `key` (its bytes, in the
    // record's own form), the view switched to that key first when it is read along another
    // order. -1 when no entry is at or after it; -2 when the file refused (lastError()).
    int64_t findAtOrAfter(int keyNumber, const std::vector<uint8_t>& key);

    // The record shown in `row`, read if need be; null when it cannot be read.
    const std::vector<uint8_t>* recordAt(int row);
    // The position (as Get Position gives it) of the record in `row`; -1 when it cannot be read.
    int32_t positionAt(int row);

    // Writes `text` into field `column` of the record in `row` and updates the record. False
    // with lastError() saying why; the record is then as it was.
    bool writeField(int row, int column, const QString& text);
    // Inserts a record (all zero bytes, or a copy of the record in `copyOf`). False with
    // lastError() saying why.
    bool insertRecord(int copyOf = -1);
    bool deleteRecord(int row);

    // Why the last read, find or write failed, in the window's words.
    const QString& lastError() const { return lastError_; }
    // Records read from the file since the model was made (for the benchmark and the tests).
    uint64_t reads() const { return reads_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

signals:
    // A read or write that failed, in the window's words, for the status bar.
    void message(const QString& text);

private:
    struct Entry
    {
        int32_t position = 0;
        std::vector<uint8_t> bytes;
    };

    // Entry e (of the order's ascending numbering) read into the run; false when the file ends
    // or refuses first.
    bool ensure(int64_t entry);
    bool jumpTo(int64_t entry);
    bool extendForward(int64_t upTo);
    bool extendBackward(int64_t downTo);
    bool readCurrent(Entry& into);
    int16_t positionOn(int32_t position);
    int16_t stepForward();
    int16_t stepBackward();
    int16_t first();
    int16_t last();
    void trim(int64_t keep);
    int64_t entryOfRow(int row) const;
    int64_t countEntries();
    void fail(const char* what, int16_t status);
    const Entry* entryForRow(int row) const;
    QString cellText(const Entry& e, int column, bool& invalid) const;

    std::unique_ptr<TWinBtr> file_;
    std::string name_;
    bool editable_ = false;
    fields::Layout layout_;
    std::string encoding_;
    mutable fields::TextDecoder decoder_;
    std::unique_ptr<fields::TextEncoder> encoder_;
    ViewOrder order_;
    int64_t count_ = 0;
    // The run: entries [runStart_, runStart_ + run_.size()) of the ascending order.
    std::deque<Entry> run_;
    int64_t runStart_ = 0;
    // A run that met the file's end before the count said: the rows past it stay empty.
    int64_t endsAt_ = -1;
    uint64_t reads_ = 0;
    QString lastError_;
    mutable std::string scratch_;
};

} // namespace records
