// The rules of positions, Update and Delete one by one on our own files: scripts of calls whose
// every answer is given, so that each rule shows where it is met.
#include "EntryHelpers.h"

#include <sqlite3.h>

#include <algorithm>
#include <set>

using namespace entrytest;
using testsupport::Bytes;

namespace {

// Key 0: 8-byte integer at 1 (unique, not modifiable); key 1: 20-byte string at 9 (duplicates,
// modifiable); key 2: 4-byte string at 29 (duplicates, modifiable, null when blank); key 3:
// 4-byte unsigned number at 33 (unique, modifiable).
Spec positionsSpec()
{
    Spec s;
    s.recordLength = 40;
    s.keys = {{Seg {1, 8, 0, 1}}, {Seg {9, 20, 0x0003, 0}}, {Seg {29, 4, 0x000B, 0, ' '}},
        {Seg {33, 4, 0x0002, 14}}};
    return s;
}

Bytes rec(int64_t id, const std::string& name, const char* tag, uint32_t number)
{
    Bytes r(40, 0);
    btr::le::putN(r.data(), 8, uint64_t(id));
    std::fill(r.begin() + 8, r.begin() + 28, ' ');
    std::copy(name.begin(), name.end(), r.begin() + 8);
    std::copy_n(tag, 4, r.begin() + 28);
    btr::le::put32(r.data() + 32, number);
    return r;
}

Bytes nameKey(const std::string& name)
{
    Bytes k(20, ' ');
    std::copy(name.begin(), name.end(), k.begin());
    return k;
}

class Positions : public ::testing::Test
{
protected:
    void SetUp() override
    {
        path = dir.file("POS.BTR");
        ASSERT_EQ(create(path, image(positionsSpec())), st::Success);
        ASSERT_EQ(h.open(path), st::Success);
        // At positions 1 to 6. By name: ANNA 1, 3, 5; BERT 2; OTTO 4; ZOE 6. By tag (blank is
        // null): AAAA 1, 4; BBBB 3; CC 6.
        const Bytes records[]
            = {rec(1, "ANNA", "AAAA", 10), rec(2, "BERT", "    ", 20), rec(3, "ANNA", "BBBB", 30),
                rec(4, "OTTO", "AAAA", 40), rec(5, "ANNA", "    ", 50), rec(6, "ZOE", "CC  ", 60)};
        for (Bytes r : records)
            ASSERT_EQ(h.insert(r, -1), st::Success);
    }
    void TearDown() override { h.close(); }

    // One call of a script and what it must answer.
    struct Call
    {
        const char* what;
        uint16_t op;
        int key;
        Bytes keyValue;        // placed in the key buffer first
        uint32_t argument = 0; // Get Direct, Find Percentage: a position; Get By Percentage
        uint16_t offer = 100;  // data length offered
        int16_t status = 0;
        int64_t id = -1;      // the record returned (its key 0), or -1 for none
        uint32_t percent = 0; // what Find Percentage returns
    };

    void run(const std::vector<Call>& script)
    {
        for (const Call& c : script) {
            SCOPED_TRACE(c.what);
            std::memset(h.key, 0xEE, sizeof h.key);
            std::copy(c.keyValue.begin(), c.keyValue.end(), h.key);
            Bytes data(std::max<size_t>(c.offer, 4), 0xA5);
            if (c.op == op::GetByPercentage)
                btr::le::put16(data.data(), uint16_t(c.argument));
            else if (c.op == op::GetDirect || c.op == op::FindPercentage)
                btr::le::put32(data.data(), c.argument);
            ASSERT_EQ(h.call(c.op, data.data(), c.offer, c.key), c.status);
            const uint16_t base = c.op > op::KeyOnly && c.op <= op::GetLast + op::KeyOnly
                ? uint16_t(c.op - op::KeyOnly)
                : c.op;
            if (c.op == op::FindPercentage && c.status == st::Success) {
                EXPECT_EQ(btr::le::get32(data.data()), c.percent);
                EXPECT_EQ(h.lastLength, 4);
            } else if (c.id >= 0) {
                EXPECT_EQ(h.lastLength, 40);
                EXPECT_EQ(idOf(data), c.id);
            } else if (base != c.op && c.status == st::Success) {
                EXPECT_EQ(h.lastLength, 0) << "a Get Key returns no data";
                EXPECT_EQ(data[0], 0xA5) << "a Get Key leaves the data buffer alone";
            }
        }
    }

    ScratchDir dir;
    std::string path;
    Handle h;
};

TEST_F(Positions, GetsAndTheirPositions)
{
    const Bytes anna = nameKey("ANNA"), bert = nameKey("BERT"), carl = nameKey("CARL"),
                otto = nameKey("OTTO");
    run({
        {"Get Direct under 4 bytes offered", op::GetDirect, -1, {}, 1, 3, st::DataBufferTooShort},
        {"Get Direct on a key the file lacks", op::GetDirect, 7, {}, 1, 100, st::InvalidKeyNumber},
        {"Get Direct where no record is", op::GetDirect, -1, {}, 99, 100, st::InvalidRecordAddress},
        {"Get Direct at position 0", op::GetDirect, -1, {}, 0, 100, st::InvalidRecordAddress},
        {"Get Direct on a key the record is not in", op::GetDirect, 2, {}, 2, 100,
            st::InvalidKeyPath, 2},
        {"no logical position after 44", op::GetNext, 2, {}, 0, 100, st::InvalidPositioning},
        {"but the physical one", op::StepNext, 0, {}, 0, 100, st::Success, 3},
        {"Get Direct on a key", op::GetDirect, 1, {}, 3, 100, st::Success, 3},
        {"on from that very entry", op::GetNext, 1, {}, 0, 100, st::Success, 5},
        {"back", op::GetPrevious, 1, {}, 0, 100, st::Success, 3},
        {"back to the first", op::GetPrevious, 1, {}, 0, 100, st::Success, 1},
        {"nothing before the first", op::GetPrevious, 1, {}, 0, 100, st::EndOfFile},
        {"9 moved nothing", op::GetNext, 1, {}, 0, 100, st::Success, 3},
        {"another key", op::GetNext, 0, {}, 0, 100, st::DifferentKeyNumber},
        {"Get Equal", op::GetEqual, 1, bert, 0, 100, st::Success, 2},
        {"Get Equal of no record", op::GetEqual, 1, carl, 0, 100, st::KeyNotFound},
        {"4 moved nothing", op::GetNext, 1, {}, 0, 100, st::Success, 4},
        {"Get Equal: the oldest of equal values", op::GetEqual, 1, anna, 0, 100, st::Success, 1},
        {"Get Key Equal", op::GetEqual + op::KeyOnly, 1, anna, 0, 100, st::Success},
        {"no current record after a Get Key", op::GetPosition, 0, {}, 0, 4, st::InvalidPositioning},
        {"nor a physical position", op::StepNext, 0, {}, 0, 100, st::InvalidPositioning},
        {"on past every ANNA", op::GetNext, 1, {}, 0, 100, st::Success, 2},
        {"Get Key Last", op::GetLast + op::KeyOnly, 1, {}, 0, 100, st::Success},
        {"Get Key Previous", op::GetPrevious + op::KeyOnly, 1, {}, 0, 100, st::Success},
        {"back past every OTTO", op::GetPrevious, 1, {}, 0, 100, st::Success, 2},
        {"Get Less: the newest ANNA", op::GetLess, 1, bert, 0, 100, st::Success, 5},
        {"Get Less or Equal", op::GetLessOrEqual, 1, anna, 0, 100, st::Success, 5},
        {"Get Greater", op::GetGreater, 1, anna, 0, 100, st::Success, 2},
        {"Get Greater or Equal: the oldest", op::GetGreaterOrEqual, 1, anna, 0, 100, st::Success,
            1},
        {"nothing greater", op::GetGreater, 1, nameKey("ZZ"), 0, 100, st::EndOfFile},
        {"Get Last", op::GetLast, 1, {}, 0, 100, st::Success, 6},
        {"nothing after the last", op::GetNext, 1, {}, 0, 100, st::EndOfFile},
        {"Step Last", op::StepLast, 0, {}, 0, 100, st::Success, 6},
        {"nothing physically after it", op::StepNext, 0, {}, 0, 100, st::EndOfFile},
        {"Step Previous", op::StepPrevious, 0, {}, 0, 100, st::Success, 5},
        {"no logical position after a Step", op::GetNext, 1, {}, 0, 100, st::InvalidPositioning},
    });
}

TEST_F(Positions, Percentages)
{
    // Key 1 in order: 1, 3, 5, 2, 4, 6; key 2 (blank tags left out): 1, 4, 3, 6.
    run({
        {"over 100 %", op::GetByPercentage, 1, {}, 10001, 100, st::InvalidOperation},
        {"under 4 bytes offered", op::GetByPercentage, 1, {}, 0, 3, st::DataBufferTooShort},
        {"0 %", op::GetByPercentage, 1, {}, 0, 100, st::Success, 1},
        {"100 %", op::GetByPercentage, 1, {}, 10000, 100, st::Success, 6},
        {"50 %: entry 2 of 0 to 5", op::GetByPercentage, 1, {}, 5000, 100, st::Success, 5},
        {"positioned as Get First there", op::GetNext, 1, {}, 0, 100, st::Success, 2},
        {"59.99 %: still entry 2", op::GetByPercentage, 1, {}, 5999, 100, st::Success, 5},
        {"60 %: entry 3", op::GetByPercentage, 1, {}, 6000, 100, st::Success, 2},
        {"physical order", op::GetByPercentage, -1, {}, 7500, 100, st::Success, 4},
        {"positioned as Step there", op::StepNext, 0, {}, 0, 100, st::Success, 5},
        {"no logical position", op::GetNext, 1, {}, 0, 100, st::InvalidPositioning},
        {"a key with null values", op::GetByPercentage, 2, {}, 10000, 100, st::Success, 6},
        {"Find: the first of equal values", op::FindPercentage, 1, nameKey("ANNA"), 0, 4,
            st::Success, -1, 0},
        {"Find: rank 4 of 6", op::FindPercentage, 1, nameKey("OTTO"), 0, 4, st::Success, -1, 8000},
        {"Find: rounded half up", op::FindPercentage, 2, Bytes {'B', 'B', 'B', 'B'}, 0, 4,
            st::Success, -1, 6667},
        {"Find: a value no record holds", op::FindPercentage, 1, nameKey("CARL"), 0, 4,
            st::KeyNotFound},
        {"Find: a null value", op::FindPercentage, 2, Bytes(4, ' '), 0, 4, st::KeyNotFound},
        {"Find: a position", op::FindPercentage, -1, {}, 4, 4, st::Success, -1, 6000},
        {"Find: no record there", op::FindPercentage, -1, {}, 77, 4, st::InvalidRecordAddress},
        {"Find: under 4 bytes", op::FindPercentage, -1, {}, 4, 3, st::DataBufferTooShort},
        {"Find moved nothing", op::GetPrevious, 2, {}, 0, 100, st::Success, 3},
    });
}

TEST_F(Positions, AShortReadStillPositions)
{
    Bytes data(10, 0);
    btr::le::put32(data.data(), 3);
    EXPECT_EQ(h.call(op::GetDirect, data.data(), 10, 1), st::DataBufferTooShort);
    EXPECT_EQ(h.lastLength, 10) << "the length offered stays";
    EXPECT_EQ(idOf(data), 3) << "as much as fits is copied";
    Bytes r;
    ASSERT_EQ(h.read(op::GetNext, r, 1), st::Success);
    EXPECT_EQ(idOf(r), 5);
}

TEST_F(Positions, UpdateChecksInOrderAndWritesNothingWhenRefused)
{
    Handle other;
    ASSERT_EQ(other.open(path), st::Success);
    Bytes r;
    btr::le::putN(h.key, 8, 4);
    ASSERT_EQ(h.read(op::GetEqual, r, 0), st::Success);
    ASSERT_EQ(idOf(r), 4);
    struct Case
    {
        const char* what;
        Bytes record;
        int16_t status;
    };
    Bytes shortRecord = rec(4, "OTTO", "AAAA", 40);
    shortRecord.resize(39);
    Bytes longRecord = rec(4, "OTTO", "AAAA", 40);
    longRecord.push_back(0);
    const Case cases[] = {
        {"shorter than the record", shortRecord, st::DataBufferTooShort},
        {"longer than a fixed record", longRecord, st::DataBufferTooShort},
        {"a key that may not change", rec(40, "OTTO", "AAAA", 40), st::ModifiableKeyValue},
        {"a unique value held elsewhere", rec(4, "OTTO", "AAAA", 60), st::DuplicateKey},
        {"both: 10 first", rec(40, "OTTO", "AAAA", 60), st::ModifiableKeyValue},
    };
    for (Case c : cases)
        EXPECT_EQ(h.call(op::Update, c.record.data(), uint16_t(c.record.size()), 0), c.status)
            << c.what;
    // Changed by another handle since it was read: 80 comes before 10.
    Bytes data(4096);
    btr::le::put32(data.data(), 4);
    ASSERT_EQ(other.call(op::GetDirect, data.data(), 4096, -1), st::Success);
    Bytes elsewhere = rec(4, "OTTO B", "AAAA", 41);
    ASSERT_EQ(other.call(op::Update, elsewhere.data(), 40, -1), st::Success);
    Bytes both = rec(40, "OTTO", "AAAA", 60);
    EXPECT_EQ(h.call(op::Update, both.data(), 40, 0), st::Conflict);
    Bytes fine = rec(4, "OTTO C", "AAAA", 42);
    EXPECT_EQ(h.call(op::Update, fine.data(), 40, 0), st::Conflict) << "still what was read";
    EXPECT_EQ(h.call(op::Delete, fine.data(), 0, 0), st::Conflict);
    // Read again, it may be changed.
    ASSERT_EQ(h.read(op::GetEqual, r, 0), st::Success);
    EXPECT_EQ(r, elsewhere);
    EXPECT_EQ(h.call(op::Update, fine.data(), 40, 0), st::Success);
    // The other handle's copy is now the stale one; and a deleted record conflicts too.
    EXPECT_EQ(other.call(op::Update, elsewhere.data(), 40, -1), st::Conflict);
    ASSERT_EQ(h.call(op::Delete, fine.data(), 0, 0), st::Success);
    EXPECT_EQ(other.call(op::Delete, data.data(), 0, -1), st::Conflict);
    EXPECT_EQ(other.close(), st::Success);
}

TEST_F(Positions, UpdateMovesTheRecordAndItsPositions)
{
    auto walk = [&](int k) {
        std::vector<int64_t> ids;
        Bytes r;
        Handle w;
        EXPECT_EQ(w.open(path), st::Success);
        for (int16_t s = w.read(op::GetFirst, r, k); s == st::Success;
             s = w.read(op::GetNext, r, k))
            ids.push_back(idOf(r));
        EXPECT_EQ(w.close(), st::Success);
        return ids;
    };
    Bytes r, data(4096);
    // BERT becomes ANNA: last among the ANNAs, though its position is lower than two of them.
    std::copy_n(nameKey("BERT").begin(), 20, h.key);
    ASSERT_EQ(h.read(op::GetEqual, r, 1), st::Success);
    Bytes anna = rec(2, "ANNA", "    ", 20);
    ASSERT_EQ(h.call(op::Update, anna.data(), 40, 1), st::Success);
    EXPECT_EQ(walk(1), (std::vector<int64_t> {1, 3, 5, 2, 4, 6}));
    EXPECT_EQ(std::string(h.key, h.key + 4), "ANNA") << "the new value comes back";
    ASSERT_EQ(h.read(op::GetNext, r, 1), st::Success) << "the position followed the record";
    EXPECT_EQ(idOf(r), 4);
    // A change that leaves the key's value as it was leaves its place too.
    ASSERT_EQ(h.read(op::GetPrevious, r, 1), st::Success);
    ASSERT_EQ(idOf(r), 2);
    ASSERT_EQ(h.read(op::GetPrevious, r, 1), st::Success);
    ASSERT_EQ(idOf(r), 5);
    Bytes same = rec(5, "ANNA", "    ", 55);
    ASSERT_EQ(h.call(op::Update, same.data(), 40, 1), st::Success);
    EXPECT_EQ(walk(1), (std::vector<int64_t> {1, 3, 5, 2, 4, 6}));
    // Key number -1: the logical position stays where it was, at ANNA 5's old place.
    Bytes zed = rec(5, "ZED", "    ", 55);
    ASSERT_EQ(h.call(op::Update, zed.data(), 40, -1), st::Success);
    ASSERT_EQ(h.read(op::GetNext, r, 1), st::Success);
    ASSERT_EQ(idOf(r), 2);
    // Updated with another key number than the Get's: that key's Get Next answers 7 after, and
    // the logical position is on the new key at the record's new place.
    Bytes tagged = rec(2, "ANNA", "DDDD", 20);
    ASSERT_EQ(h.call(op::Update, tagged.data(), 40, 2), st::Success);
    EXPECT_EQ(h.read(op::GetNext, r, 1), st::DifferentKeyNumber);
    // The physical position never moved.
    ASSERT_EQ(h.read(op::StepNext, r), st::Success);
    EXPECT_EQ(idOf(r), 3);
    // ... the logical one, being on key 2 now, did: tags AAAA 1, 4, BBBB 3, CC 6, DDDD 2.
    btr::le::put32(data.data(), 2);
    ASSERT_EQ(h.call(op::GetDirect, data.data(), 4096, -1), st::Success);
    ASSERT_EQ(h.call(op::Update, tagged.data(), 40, 2), st::Success);
    ASSERT_EQ(h.read(op::GetPrevious, r, 2), st::Success);
    EXPECT_EQ(idOf(r), 6);
}

TEST_F(Positions, DeleteKeepsTheNeighboursAndNeverLendsItsPosition)
{
    Bytes r, data(4096);
    btr::le::put32(data.data(), 3);
    ASSERT_EQ(h.call(op::GetDirect, data.data(), 4096, 1), st::Success);
    ASSERT_EQ(h.call(op::Delete, data.data(), 0, 1), st::Success);
    uint8_t p[4];
    EXPECT_EQ(h.call(op::GetPosition, p, 4), st::InvalidPositioning);
    EXPECT_EQ(h.call(op::Delete, data.data(), 0, 1), st::InvalidPositioning);
    Bytes again = rec(3, "ANNA", "BBBB", 30);
    EXPECT_EQ(h.call(op::Update, again.data(), 40, 1), st::InvalidPositioning);
    ASSERT_EQ(h.read(op::GetNext, r, 1), st::Success);
    EXPECT_EQ(idOf(r), 5);
    btr::le::put32(data.data(), 3);
    EXPECT_EQ(h.call(op::GetDirect, data.data(), 4096, -1), st::InvalidRecordAddress);
    // Deleted by position after a Step: Step Previous and Get Previous go back from its place.
    btr::le::put32(data.data(), 4);
    ASSERT_EQ(h.call(op::GetDirect, data.data(), 4096, 1), st::Success);
    ASSERT_EQ(h.call(op::Delete, data.data(), 0, 1), st::Success);
    ASSERT_EQ(h.read(op::StepPrevious, r), st::Success);
    EXPECT_EQ(idOf(r), 2);
    // The last record goes; the next Insert takes a position after it all the same.
    ASSERT_EQ(h.read(op::StepLast, r), st::Success);
    ASSERT_EQ(h.call(op::Delete, data.data(), 0, -1), st::Success);
    Bytes added = rec(7, "NEW", "    ", 70);
    ASSERT_EQ(h.insert(added, -1), st::Success);
    ASSERT_EQ(h.call(op::GetPosition, p, 4), st::Success);
    EXPECT_EQ(btr::le::get32(p), 7u);
    ASSERT_EQ(h.close(), st::Success);
    ASSERT_EQ(h.open(path), st::Success);
    ASSERT_EQ(h.insert(added = rec(8, "NEWER", "    ", 80), -1), st::Success);
    ASSERT_EQ(h.call(op::GetPosition, p, 4), st::Success);
    EXPECT_EQ(btr::le::get32(p), 8u) << "not reused after a reopen either";
}

TEST_F(Positions, WritesAreRefusedOnAReadOnlyHandle)
{
    Handle ro;
    ASSERT_EQ(ro.open(path, -2), st::Success);
    Bytes r;
    ASSERT_EQ(ro.read(op::StepFirst, r), st::Success);
    EXPECT_EQ(ro.call(op::Update, r.data(), 40, -1), st::AccessDenied);
    EXPECT_EQ(ro.call(op::Delete, r.data(), 0, -1), st::AccessDenied);
    EXPECT_EQ(ro.close(), st::Success);
}

TEST(Autoincrement, DeletingTheHighestValueLowersTheNextOne)
{
    ScratchDir dir;
    Spec s;
    s.recordLength = 8;
    s.keys = {{Seg {1, 4, 0, 15}}};
    ASSERT_EQ(create(dir.file("AUTO.BTR"), image(s)), st::Success);
    Handle h;
    ASSERT_EQ(h.open(dir.file("AUTO.BTR")), st::Success);
    for (int i = 0; i < 3; ++i) {
        Bytes r(8, 0);
        ASSERT_EQ(h.insert(r), st::Success);
    }
    Bytes r;
    ASSERT_EQ(h.read(op::GetLast, r), st::Success);
    ASSERT_EQ(get32(r.data()), 3u);
    ASSERT_EQ(h.call(op::Delete, r.data(), 0, 0), st::Success);
    Bytes next(8, 0);
    ASSERT_EQ(h.insert(next), st::Success);
    EXPECT_EQ(get32(next.data()), 3u);
    EXPECT_EQ(h.close(), st::Success);
}

} // namespace
