#include "RecordModel.h"

#include "DefinitionLayout.h"
#include "Encode.h"
#include "LittleEndian.h"
#include "Messages.h"
#include "SpecBuffer.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include <algorithm>
#include <cstring>

namespace records {

namespace {

// Rows read ahead of and behind the one asked for, so that a screenful comes in one go.
constexpr int64_t ReadAround = 64;
// A row this far from the run is reached by a jump rather than by reading every entry between.
constexpr int64_t WalkLimit = 400;
// The run never holds more entries than this: a few screens, whatever the file's size.
constexpr int64_t RunLimit = 2000;
// The longest record a variable-length file can hand over in one call.
constexpr uint16_t LongestRecord = 65535;

QString fromUtf8(const std::string& s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

} // namespace

RecordModel::RecordModel(
    std::unique_ptr<TWinBtr> file, const std::string& name, bool editable, QObject* parent)
    : QAbstractTableModel(parent)
    , file_(std::move(file))
    , name_(name)
    , editable_(editable)
{
    file_->Stat();
    if (btr::le::get16(file_->StatBuffer + btr::layout::file::FileFlags)
        & btr::fileflag::VariableLength)
        file_->AllocBuffer(LongestRecord);
    setOrder(ViewOrder {file_->IndexCount() > 0 ? 0 : -1, false});
}

RecordModel::~RecordModel() = default;

void RecordModel::setLayout(const fields::Layout& layout, const std::string& encoding)
{
    beginResetModel();
    layout_ = layout;
    encoding_ = encoding;
    decoder_ = fields::TextDecoder(encoding);
    encoder_ = std::make_unique<fields::TextEncoder>(encoding);
    endResetModel();
}

bool RecordModel::setOrder(const ViewOrder& order)
{
    const ViewOrder before = order_;
    order_ = order;
    if (order.key >= 0 && order.key >= int(file_->IndexCount())) {
        order_ = before;
        lastError_ = QStringLiteral("%1 has no key %2.").arg(fromUtf8(name_)).arg(order.key);
        return false;
    }
    beginResetModel();
    run_.clear();
    runStart_ = 0;
    endsAt_ = -1;
    file_->UseStep = order_.key < 0;
    if (order_.key >= 0)
        file_->KeyNumber = uint8_t(order_.key);
    count_ = countEntries();
    endResetModel();
    return true;
}

void RecordModel::reload()
{
    setOrder(order_);
}

int64_t RecordModel::countEntries()
{
    file_->Stat();
    const int64_t records = std::max<int32_t>(file_->RecordCount(), 0);
    if (order_.key < 0)
        return records;
    // A key whose null values are left out holds fewer entries than the file has records, and
    // nothing counts them but a walk along the key, once, when the order is chosen. (Its Get Key
    // form would be cheaper, but it passes over duplicates of a value as a group.)
    bool nullable = false;
    {
        spec::SpecBuffer image;
        std::copy(std::begin(file_->StatBuffer), std::end(file_->StatBuffer), image.bytes.begin());
        const spec::Layout keys = image.readLayout();
        for (int k = 0; k < keys.entryCount; ++k)
            if (keys.keyOfEntry[size_t(k)] == order_.key
                && (image.segment(k).KeyFlags & (btr::keyflag::NullAll | btr::keyflag::NullAny)))
                nullable = true;
    }
    if (!nullable)
        return records;
    int64_t n = 0;
    for (int16_t s = file_->GetFirst(); s == btr::status::Success && n <= records;
         s = file_->GetNext())
        ++n;
    return n;
}

int64_t RecordModel::entryOfRow(int row) const
{
    return order_.descending ? count_ - 1 - row : row;
}

void RecordModel::fail(const char* what, int16_t status)
{
    lastError_ = fromUtf8(cannotDo(what, name_, status, file_->Reason()));
}

int16_t RecordModel::stepForward()
{
    return file_->GetNext();
}

int16_t RecordModel::stepBackward()
{
    return file_->GetPrevious();
}

int16_t RecordModel::first()
{
    return file_->GetFirst();
}

int16_t RecordModel::last()
{
    return file_->GetLast();
}

int16_t RecordModel::positionOn(int32_t position)
{
    return file_->GetDirect(position);
}

bool RecordModel::readCurrent(Entry& into)
{
    ++reads_;
    into.bytes.assign(file_->Buffer, file_->Buffer + file_->ReturnedLength);
    into.position = file_->GetPosition();
    return file_->Ok();
}

bool RecordModel::jumpTo(int64_t entry)
{
    run_.clear();
    endsAt_ = -1;
    int16_t status;
    int64_t at;
    if (entry <= 0 || count_ <= 1) {
        status = first();
        at = 0;
    } else if (entry >= count_ - 1) {
        status = last();
        at = count_ - 1;
    } else {
        const auto percent
            = uint16_t(std::min<int64_t>(entry * btr::WholePercentage / (count_ - 1), 10000));
        status = file_->GetByPercentage(percent);
        at = int64_t(percent) * (count_ - 1) / btr::WholePercentage;
    }
    if (status != btr::status::Success) {
        if (status == btr::status::EndOfFile)
            endsAt_ = 0;
        else
            fail("Cannot read", status);
        return false;
    }
    Entry e;
    readCurrent(e);
    run_.push_back(std::move(e));
    runStart_ = at;
    return true;
}

bool RecordModel::extendForward(int64_t upTo)
{
    if (run_.empty())
        return false;
    const int64_t end = runStart_ + int64_t(run_.size());
    if (upTo < end)
        return true;
    if (positionOn(run_.back().position) != btr::status::Success) {
        fail("Cannot read", file_->GetStatus());
        return false;
    }
    for (int64_t e = end; e <= upTo; ++e) {
        const int16_t status = stepForward();
        if (status == btr::status::EndOfFile) {
            // Fewer entries than counted (another process deleted some): the run is moved so that
            // its last entry is the last row, which it is.
            const int64_t shift = count_ - (runStart_ + int64_t(run_.size()));
            if (shift > 0 && runStart_ + shift >= 0 && e > runStart_) {
                runStart_ += shift;
                emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
            }
            endsAt_ = runStart_ + int64_t(run_.size());
            return false;
        }
        if (status != btr::status::Success) {
            fail("Cannot read", status);
            return false;
        }
        Entry entry;
        readCurrent(entry);
        run_.push_back(std::move(entry));
    }
    return true;
}

bool RecordModel::extendBackward(int64_t downTo)
{
    if (run_.empty())
        return false;
    if (downTo >= runStart_)
        return true;
    if (positionOn(run_.front().position) != btr::status::Success) {
        fail("Cannot read", file_->GetStatus());
        return false;
    }
    for (int64_t e = runStart_ - 1; e >= downTo; --e) {
        const int16_t status = stepBackward();
        if (status == btr::status::EndOfFile) {
            // The file starts before the run thought: its first entry is entry 0.
            if (runStart_ > 0) {
                runStart_ = 0;
                emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
            }
            return false;
        }
        if (status != btr::status::Success) {
            fail("Cannot read", status);
            return false;
        }
        Entry entry;
        readCurrent(entry);
        run_.push_front(std::move(entry));
        --runStart_;
    }
    return true;
}

void RecordModel::trim(int64_t keep)
{
    while (int64_t(run_.size()) > RunLimit) {
        const int64_t end = runStart_ + int64_t(run_.size());
        if (keep - runStart_ > end - keep) {
            run_.pop_front();
            ++runStart_;
        } else {
            run_.pop_back();
        }
    }
}

bool RecordModel::ensure(int64_t entry)
{
    if (entry < 0 || entry >= count_)
        return false;
    const int64_t end = runStart_ + int64_t(run_.size());
    if (!run_.empty() && entry >= runStart_ && entry < end)
        return true;
    if (endsAt_ >= 0 && entry >= endsAt_ && !run_.empty() && entry - end < WalkLimit)
        return false;
    const bool near = !run_.empty() && entry >= runStart_ - WalkLimit && entry < end + WalkLimit;
    bool ok;
    if (near && entry >= end) {
        ok = extendForward(std::min(entry + ReadAround, count_ - 1));
    } else if (near) {
        ok = extendBackward(std::max<int64_t>(entry - ReadAround, 0));
    } else {
        ok = jumpTo(std::max<int64_t>(entry - ReadAround, 0));
        if (ok)
            ok = extendForward(std::min(entry + ReadAround, count_ - 1));
    }
    trim(entry);
    (void)ok;
    return !run_.empty() && entry >= runStart_ && entry < runStart_ + int64_t(run_.size());
}

const RecordModel::Entry* RecordModel::entryForRow(int row) const
{
    auto* self = const_cast<RecordModel*>(this);
    const int64_t entry = entryOfRow(row);
    if (!self->ensure(entry))
        return nullptr;
    return &run_[size_t(entry - runStart_)];
}

const std::vector<uint8_t>* RecordModel::recordAt(int row)
{
    const Entry* e = entryForRow(row);
    return e ? &e->bytes : nullptr;
}

int32_t RecordModel::positionAt(int row)
{
    const Entry* e = entryForRow(row);
    return e ? e->position : -1;
}

int64_t RecordModel::findAtOrAfter(int keyNumber, const std::vector<uint8_t>& key)
{
    if (order_.key != keyNumber && !setOrder(ViewOrder {keyNumber, order_.descending}))
        return -2;
    const int16_t status = file_->GetGreaterOrEqual(key.data(), uint16_t(key.size()));
    if (status == btr::status::EndOfFile || status == btr::status::KeyNotFound)
        return -1;
    if (status != btr::status::Success) {
        fail("Cannot find in", status);
        return -2;
    }
    Entry found;
    readCurrent(found);
    // Find Percentage says roughly where the entry lies; Get By Percentage then names an entry at
    // or before it exactly, and reading on from there meets the one found.
    uint16_t percent = 0;
    if (file_->FindPercentage(percent) != btr::status::Success) {
        fail("Cannot find in", file_->GetStatus());
        return -2;
    }
    const int64_t guess = count_ > 1 ? int64_t(percent) * (count_ - 1) / btr::WholePercentage : 0;
    const int64_t slack = count_ / btr::WholePercentage + 2;
    const int64_t from = std::max<int64_t>(guess - slack, 0);
    if (!jumpTo(from))
        return -2;
    for (int64_t e = from; e < count_ && e <= guess + slack + 1; ++e) {
        if (!ensure(e))
            break;
        if (run_[size_t(e - runStart_)].position == found.position)
            return order_.descending ? count_ - 1 - e : e;
    }
    lastError_ = QStringLiteral("The record found in %1 could not be placed in its key's order.")
                     .arg(fromUtf8(name_));
    return -2;
}

bool RecordModel::writeField(int row, int column, const QString& text)
{
    if (!editable_) {
        lastError_ = QStringLiteral("%1 is read-only: files written by the vendor's engine are "
                                    "never written.")
                         .arg(fromUtf8(name_));
        return false;
    }
    if (column < 0 || column >= columnCount())
        return false;
    const Entry* e = entryForRow(row);
    if (!e) {
        fail("Cannot read", file_->GetStatus());
        return false;
    }
    std::vector<uint8_t> record = e->bytes;
    const int32_t position = e->position;
    std::string why;
    const fields::Field& f = layout_.fields[size_t(column)];
    const QByteArray utf8 = text.toUtf8();
    if (!fields::encodeField(f, std::string_view(utf8.constData(), size_t(utf8.size())),
            record.data(), record.size(), *encoder_, why)) {
        lastError_ = QStringLiteral("Cannot write %1 into %2: %3.")
                         .arg(text, fromUtf8(f.name), fromUtf8(why));
        return false;
    }
    // The record is read again just before the Update: a record another process changed since
    // it was shown is not overwritten with what the user saw.
    if (positionOn(position) != btr::status::Success) {
        fail("Cannot read", file_->GetStatus());
        reload();
        return false;
    }
    if (file_->ReturnedLength != e->bytes.size()
        || std::memcmp(file_->Buffer, e->bytes.data(), e->bytes.size()) != 0) {
        lastError_ = QStringLiteral("The record was changed by another process meanwhile: it is "
                                    "shown again as it is now; nothing was written.");
        reload();
        return false;
    }
    file_->SetDataPtr(record.data());
    file_->DataLength = uint16_t(record.size());
    const int16_t status = file_->Update();
    if (status != btr::status::Success) {
        if (status == btr::status::Conflict)
            lastError_ = QStringLiteral("The record was changed by another process meanwhile "
                                        "(status 80): it is shown again as it is now; nothing "
                                        "was written.");
        else
            fail("Cannot update", status);
        reload();
        return false;
    }
    reload();
    return true;
}

bool RecordModel::insertRecord(int copyOf)
{
    if (!editable_)
        return writeField(-1, -1, {});
    std::vector<uint8_t> record(layout_.recordLength, 0);
    if (copyOf >= 0) {
        const Entry* e = entryForRow(copyOf);
        if (!e) {
            fail("Cannot read", file_->GetStatus());
            return false;
        }
        record = e->bytes;
    }
    file_->SetDataPtr(record.data());
    file_->DataLength = uint16_t(record.size());
    const int16_t status = file_->Insert();
    if (status != btr::status::Success) {
        fail("Cannot insert into", status);
        return false;
    }
    reload();
    return true;
}

bool RecordModel::deleteRecord(int row)
{
    if (!editable_)
        return writeField(-1, -1, {});
    const Entry* e = entryForRow(row);
    if (!e) {
        fail("Cannot read", file_->GetStatus());
        return false;
    }
    const std::vector<uint8_t> shown = e->bytes;
    if (positionOn(e->position) != btr::status::Success) {
        fail("Cannot read", file_->GetStatus());
        reload();
        return false;
    }
    if (file_->ReturnedLength != shown.size()
        || std::memcmp(file_->Buffer, shown.data(), shown.size()) != 0) {
        lastError_ = QStringLiteral("The record was changed by another process meanwhile: it is "
                                    "shown again as it is now; nothing was deleted.");
        reload();
        return false;
    }
    const int16_t status = file_->Delete();
    if (status != btr::status::Success) {
        fail("Cannot delete from", status);
        reload();
        return false;
    }
    reload();
    return true;
}

int RecordModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(std::min<int64_t>(count_, INT32_MAX));
}

int RecordModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(layout_.fields.size());
}

QString RecordModel::cellText(const Entry& e, int column, bool& invalid) const
{
    scratch_.clear();
    const fields::Kind kind = fields::appendField(
        layout_.fields[size_t(column)], e.bytes.data(), e.bytes.size(), decoder_, scratch_);
    invalid = kind == fields::Kind::Invalid;
    return fromUtf8(scratch_);
}

QVariant RecordModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= columnCount())
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ToolTipRole
        && role != Qt::BackgroundRole && role != Qt::ForegroundRole && role != InvalidRole
        && role != BytesRole)
        return {};
    const Entry* e = entryForRow(index.row());
    if (!e)
        return {};
    const fields::Field& f = layout_.fields[size_t(index.column())];
    if (role == BytesRole) {
        const size_t from = std::min<size_t>(f.offset, e->bytes.size());
        const size_t to = f.length == 0
            ? e->bytes.size()
            : std::min<size_t>(size_t(f.offset) + f.length, e->bytes.size());
        return QByteArray(
            reinterpret_cast<const char*>(e->bytes.data() + from), qsizetype(to - from));
    }
    bool invalid = false;
    const QString text = cellText(*e, index.column(), invalid);
    switch (role) {
    case InvalidRole:
        return invalid;
    case Qt::BackgroundRole:
        return invalid ? QVariant(QBrush(QColor(0xFF, 0xE0, 0xB2))) : QVariant();
    case Qt::ForegroundRole:
        return invalid ? QVariant(QBrush(QColor(0x8A, 0x2B, 0x00))) : QVariant();
    case Qt::ToolTipRole:
        return invalid ? QStringLiteral("Not a valid %1: the bytes are shown as hex.")
                             .arg(fromUtf8(fields::typeName(f)))
                       : QVariant();
    default:
        return text;
    }
}

QVariant RecordModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical) {
        if (role == Qt::DisplayRole)
            return QString::number(section + 1);
        return {};
    }
    if (section < 0 || section >= columnCount())
        return {};
    const fields::Field& f = layout_.fields[size_t(section)];
    if (role == Qt::DisplayRole)
        return fromUtf8(f.name);
    if (role == Qt::ToolTipRole) {
        QString tip = QStringLiteral("%1\nposition %2, length %3\ntype %4\nsource: %5")
                          .arg(fromUtf8(f.name))
                          .arg(f.position())
                          .arg(f.length == 0 ? QStringLiteral("to the record's end")
                                             : QString::number(f.length))
                          .arg(fromUtf8(fields::typeName(f)))
                          .arg(QString::fromLatin1(fields::sourceName(f.source)));
        if (f.type.decimals && !f.hex())
            tip += QStringLiteral(", %1 decimals").arg(f.type.decimals);
        if (!f.evidence.empty())
            tip += QStringLiteral("\nevidence: %1").arg(fromUtf8(f.evidence));
        return tip;
    }
    return {};
}

Qt::ItemFlags RecordModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (editable_ && index.isValid())
        f |= Qt::ItemIsEditable;
    return f;
}

bool RecordModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid())
        return false;
    bool invalid = false;
    if (const Entry* e = entryForRow(index.row());
        e && cellText(*e, index.column(), invalid) == value.toString())
        return false;
    if (writeField(index.row(), index.column(), value.toString()))
        return true;
    emit message(lastError_);
    return false;
}

} // namespace records
