// Data files for the window's end-to-end tests, made and read through the record manager's
// entry point, in a scratch directory that is the current directory while a test runs.
#pragma once

#include "WindowFixture.h"

#include "BtrCall.h"
#include "DefinitionImage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <string>
#include <vector>

namespace datafiles {

struct Segment
{
    int position = 1;
    int length = 4;
    int flags = 0;
    int type = 0;
    int reserved = 0;
};

struct Definition
{
    int recordLength = 100;
    int pageSize = 4096;
    int fileFlags = 0;
    std::vector<Segment> segments; // flag 0x10 marks "another segment of this key follows"
    std::string acsName;
    std::vector<uint8_t> acsTable; // 256 bytes when a segment has flag 0x20
};

inline std::vector<uint8_t> image(const Definition& d)
{
    testsupport::DefinitionImage b;
    b.recordLength = static_cast<uint16_t>(d.recordLength);
    b.pageSize = static_cast<uint16_t>(d.pageSize);
    b.fileFlags = static_cast<uint16_t>(d.fileFlags);
    for (const Segment& s : d.segments) {
        testsupport::SegmentEntry e;
        e.position = static_cast<uint16_t>(s.position);
        e.length = static_cast<uint16_t>(s.length);
        e.flags = static_cast<uint16_t>(s.flags);
        e.extType = static_cast<uint8_t>(s.type);
        e.reserved = static_cast<uint16_t>(s.reserved);
        b.segments.push_back(e);
        // A key is counted at its last segment, the one without "another segment follows".
        if ((e.flags & testsupport::AnotherSegmentFollows) == 0)
            ++b.numIndexes;
    }
    if (!d.acsTable.empty())
        b.blocks.push_back(testsupport::acsBlock(d.acsName, d.acsTable));
    return b.bytes();
}

inline int16_t create(const std::string& name, const Definition& d)
{
    std::vector<uint8_t> b = image(d);
    uint8_t pos[btr::PositionBlockSize] = {};
    char key[btr::KeyBufferSize] = {};
    std::strncpy(key, name.c_str(), sizeof key - 1);
    uint16_t length = static_cast<uint16_t>(b.size());
    return BTRCALLID(btr::op::Create, pos, b.data(), &length, key, 255, 0, nullptr);
}

// An open file with the calls the tests need.
class File
{
public:
    explicit File(const std::string& name, int8_t mode = btr::mode::Normal)
    {
        char path[btr::KeyBufferSize] = {};
        std::strncpy(path, name.c_str(), sizeof path - 1);
        uint16_t length = 0;
        status = BTRCALLID(
            btr::op::Open, pos, nullptr, &length, path, 255, static_cast<uint8_t>(mode), nullptr);
    }
    ~File()
    {
        if (status == 0) {
            uint8_t scratch[4] = {};
            call(btr::op::Close, scratch, 4);
        }
    }
    int16_t insert(std::vector<uint8_t> record)
    {
        return call(btr::op::Insert, record.data(), static_cast<uint16_t>(record.size()));
    }
    // Every record in the order of operation first/next (Get on key 0 or Step).
    std::vector<std::vector<uint8_t>> all(uint16_t first, uint16_t next)
    {
        std::vector<std::vector<uint8_t>> records;
        std::vector<uint8_t> buffer(65535);
        uint16_t op = first;
        for (;;) {
            uint16_t length = static_cast<uint16_t>(buffer.size());
            if (BTRCALLID(op, pos, buffer.data(), &length, key, 255, 0, nullptr) != 0)
                break;
            records.emplace_back(buffer.begin(), buffer.begin() + length);
            op = next;
        }
        return records;
    }
    int16_t status = 0;

private:
    int16_t call(uint16_t op, void* data, uint16_t length)
    {
        return BTRCALLID(op, pos, data, &length, key, 255, 0, nullptr);
    }
    uint8_t pos[btr::PositionBlockSize] = {};
    uint8_t key[btr::KeyBufferSize] = {};
};

// A record whose first 4 bytes hold id as a little-endian number and whose rest is fill.
inline std::vector<uint8_t> record(uint32_t id, size_t length, uint8_t fill = 'x')
{
    std::vector<uint8_t> r(length, fill);
    for (int i = 0; i < 4; ++i)
        r[static_cast<size_t>(i)] = static_cast<uint8_t>(id >> (8 * i));
    return r;
}

inline uint32_t idOf(const std::vector<uint8_t>& r)
{
    return static_cast<uint32_t>(r[0]) | static_cast<uint32_t>(r[1]) << 8
        | static_cast<uint32_t>(r[2]) << 16 | static_cast<uint32_t>(r[3]) << 24;
}

} // namespace datafiles

// A window working in a scratch directory that is the current directory.
class DataFileTest : public WindowTest
{
protected:
    void SetUp() override
    {
        previous = QDir::currentPath();
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
        WindowTest::SetUp();
    }
    void TearDown() override
    {
        WindowTest::TearDown();
        QDir::setCurrent(previous);
    }
    void open(const QString& name)
    {
        window->EFrom->setText(name);
        QTest::mouseClick(window->BOpen, Qt::LeftButton);
    }
    void createAs(const QString& name)
    {
        window->ETo->setText(name);
        QTest::mouseClick(window->BCreate, Qt::LeftButton);
    }
    void copy(const QString& from, const QString& to)
    {
        window->EFrom->setText(from);
        window->ETo->setText(to);
        QTest::mouseClick(window->BCopy, Qt::LeftButton);
    }
    QStringList column(int col) const
    {
        QStringList texts;
        for (int r = 1; r < window->GrKeys->rowCount(); ++r)
            texts << window->GrKeys->cell(col, r);
        return texts;
    }
    QStringList listed() const
    {
        QStringList names;
        for (int i = 0; i < window->FileListBox->count(); ++i)
            names << window->FileListBox->item(i)->text();
        return names;
    }

    QTemporaryDir dir;
    QString previous;
};
