// The operations through BTRCALLID: key order, positioning, statuses for each situation.
#include "EntryHelpers.h"

#include <algorithm>
#include <map>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace entrytest;

namespace {

class Operations : public ::testing::Test
{
protected:
    void SetUp() override
    {
        path = dir.file("TWO.BTR");
        ASSERT_EQ(create(path, image(twoKeySpec())), st::Success);
        ASSERT_EQ(h.open(path), st::Success);
    }
    void TearDown() override { h.close(); }

    // Inserts ids in a scrambled order with names drawn from a few values.
    void fill(int n)
    {
        std::vector<int> ids(n);
        for (int i = 0; i < n; ++i)
            ids[i] = (i * 37) % n - n / 2; // negatives and positives, not in order
        for (int id : ids) {
            auto r = twoKeyRecord(id, names[static_cast<size_t>(id + n) % names.size()]);
            ASSERT_EQ(h.insert(r), st::Success) << id;
            inserted.push_back(id);
        }
    }

    ScratchDir dir;
    std::string path;
    Handle h;
    std::vector<std::string> names {"OTTO", "ANNA", "anna", "ZOE", "BERT"};
    std::vector<int> inserted;
};

TEST_F(Operations, GetWalksKeyOrderAndDuplicatesInInsertionOrder)
{
    fill(101);
    std::vector<uint8_t> r;
    // Key 0: signed integers ascending, key value in the key buffer.
    std::vector<int64_t> got;
    for (int16_t s = h.read(op::GetFirst, r, 0); s == st::Success; s = h.read(op::GetNext, r, 0)) {
        ASSERT_EQ(r.size(), 100u);
        ASSERT_EQ(std::memcmp(h.key, r.data(), 8), 0);
        got.push_back(idOf(r));
    }
    std::vector<int64_t> want(inserted.begin(), inserted.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);

    // Key 1: names in byte order, equal names in the order they were inserted.
    std::vector<std::pair<std::string, int64_t>> byName;
    for (int16_t s = h.read(op::GetFirst, r, 1); s == st::Success; s = h.read(op::GetNext, r, 1)) {
        ASSERT_EQ(std::memcmp(h.key, r.data() + 8, 20), 0);
        byName.emplace_back(std::string(reinterpret_cast<char*>(&r[8]), 20), idOf(r));
    }
    std::vector<std::pair<std::string, int64_t>> expected;
    for (int id : inserted) {
        auto rec = twoKeyRecord(id, names[static_cast<size_t>(id + 101) % names.size()]);
        expected.emplace_back(std::string(reinterpret_cast<char*>(&rec[8]), 20), id);
    }
    std::stable_sort(expected.begin(), expected.end(),
        [](const auto& a, const auto& b) { return a.first < b.first; });
    EXPECT_EQ(byName, expected);
    // Past the end stays at the end.
    EXPECT_EQ(h.read(op::GetNext, r, 1), st::EndOfFile);
    EXPECT_EQ(h.read(op::GetNext, r, 1), st::EndOfFile);
}

TEST_F(Operations, StepWalksInsertionOrderAndPositionNamesTheRecord)
{
    fill(20);
    std::vector<uint8_t> r;
    std::vector<int64_t> got;
    std::map<uint32_t, int64_t> byPosition;
    for (int16_t s = h.read(op::StepFirst, r); s == st::Success; s = h.read(op::StepNext, r)) {
        got.push_back(idOf(r));
        uint8_t p[4];
        ASSERT_EQ(h.call(op::GetPosition, p, 4), st::Success);
        EXPECT_EQ(h.lastLength, 4);
        byPosition[get32(p)] = idOf(r);
    }
    EXPECT_EQ(got, std::vector<int64_t>(inserted.begin(), inserted.end()));
    EXPECT_EQ(byPosition.size(), got.size()); // every record has its own position
}

TEST_F(Operations, InsertPositionsOnItsKeyAndGetNextMovesOn)
{
    fill(10); // ids -5..4
    auto r = twoKeyRecord(100, "MID");
    uint8_t before[8];
    std::memcpy(before, h.key, 8);
    ASSERT_EQ(h.insert(r, -1), st::Success); // no position change, key buffer untouched
    EXPECT_EQ(std::memcmp(before, h.key, 8), 0);
    r = twoKeyRecord(2, "X");
    EXPECT_EQ(h.insert(r, 0), st::DuplicateKey);
    r = twoKeyRecord(-10, "ANNA");
    ASSERT_EQ(h.insert(r, 0), st::Success);
    EXPECT_EQ(idOf(std::vector<uint8_t>(h.key, h.key + 8)), -10);
    std::vector<uint8_t> next;
    ASSERT_EQ(h.read(op::GetNext, next, 0), st::Success);
    EXPECT_EQ(idOf(next), -5);
    EXPECT_EQ(h.read(op::GetNext, next, 1), st::DifferentKeyNumber);
}

TEST_F(Operations, WritesBetweenReadsAreSeenByTheNextRead)
{
    fill(6); // ids -3..2
    ASSERT_EQ(h.close(), st::Success);
    ASSERT_EQ(h.open(path), st::Success);
    Handle reader;
    ASSERT_EQ(reader.open(path), st::Success);
    std::vector<uint8_t> r;
    ASSERT_EQ(reader.read(op::GetFirst, r, 0), st::Success);
    EXPECT_EQ(idOf(r), -3);
    // Written through another handle on the same file while the reader is half-way.
    auto added = twoKeyRecord(-2 + 0, "LATE");
    EXPECT_EQ(h.insert(added), st::DuplicateKey);
    added = twoKeyRecord(10, "LATE");
    ASSERT_EQ(h.insert(added, -1), st::Success);
    std::vector<int64_t> rest;
    for (int16_t s = reader.read(op::GetNext, r, 0); s == st::Success;
         s = reader.read(op::GetNext, r, 0))
        rest.push_back(idOf(r));
    EXPECT_EQ(rest, (std::vector<int64_t> {-2, -1, 0, 1, 2, 10}));
    EXPECT_EQ(reader.close(), st::Success);
}

TEST(Exit, WritesPendingAtNormalExitAreCommitted)
{
    ScratchDir dir;
    const std::string path = dir.file("EXIT.BTR");
    ASSERT_EQ(create(path, image(twoKeySpec())), st::Success);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        static Handle w; // left open on purpose
        int16_t s = w.open(path);
        for (int i = 0; i < 7 && s == st::Success; ++i) {
            auto r = twoKeyRecord(i, "EXIT");
            s = w.insert(r);
        }
        std::exit(s == st::Success ? 0 : 1);
    }
    int wstatus = 0;
    ::waitpid(child, &wstatus, 0);
    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 0);
    Handle h;
    ASSERT_EQ(h.open(path), st::Success);
    EXPECT_EQ(h.recordCount(), 7u);
    EXPECT_EQ(h.close(), st::Success);
}

TEST_F(Operations, StatusesOfReads)
{
    std::vector<uint8_t> r;
    EXPECT_EQ(h.read(op::GetFirst, r, 0), st::EndOfFile);
    EXPECT_EQ(h.read(op::GetNext, r, 0), st::InvalidPositioning);
    EXPECT_EQ(h.read(op::StepFirst, r), st::EndOfFile);
    EXPECT_EQ(h.read(op::StepNext, r), st::InvalidPositioning);
    uint8_t p[4];
    EXPECT_EQ(h.call(op::GetPosition, p, 4), st::InvalidPositioning);
    fill(5);

    struct Case
    {
        const char* what;
        uint16_t op;
        int keyNumber;
        uint16_t offer;
        uint8_t keyLength;
        int16_t status;
    };
    const Case cases[] = {
        {"undefined key", op::GetFirst, 2, 100, 255, st::InvalidKeyNumber},
        {"negative key", op::GetFirst, -1, 100, 255, st::InvalidKeyNumber},
        {"key buffer shorter than key 1", op::GetFirst, 1, 100, 19, st::KeyBufferTooShort},
        {"key buffer fits key 1", op::GetFirst, 1, 100, 20, st::Success},
        {"next on another key", op::GetNext, 0, 100, 255, st::DifferentKeyNumber},
        {"record longer than buffer", op::GetNext, 1, 60, 255, st::DataBufferTooShort},
        {"next after short read", op::GetNext, 1, 100, 255, st::Success},
        {"operation unknown", 99, 0, 100, 255, st::InvalidOperation},
        {"operation with lock bias", 112, 0, 100, 255, st::InvalidOperation},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> buf(c.offer, 0xEE);
        EXPECT_EQ(h.call(c.op, buf.data(), c.offer, c.keyNumber, c.keyLength), c.status) << c.what;
        if (c.status == st::DataBufferTooShort) {
            EXPECT_EQ(h.lastLength, c.offer) << "the length offered stays";
            EXPECT_NE(buf[59], 0xEE) << "as much as fits is copied";
        }
    }
    EXPECT_EQ(h.call(op::GetPosition, p, 3), st::DataBufferTooShort);
}

TEST_F(Operations, InsertChecksLengthAndKeysAndWritesNothingWhenRefused)
{
    fill(3);
    struct Case
    {
        const char* what;
        size_t length;
        int id;
        int keyNumber;
        uint8_t keyLength;
        int16_t status;
    };
    const Case cases[] = {
        {"shorter than the record", 99, 50, 0, 255, st::DataBufferTooShort},
        {"longer than a fixed record", 101, 51, 0, 255, st::DataBufferTooShort},
        {"duplicate in a unique key", 100, 0, 0, 255, st::DuplicateKey},
        {"key number not defined", 100, 52, 5, 255, st::InvalidKeyNumber},
        {"key buffer too short for key 1", 100, 53, 1, 10, st::KeyBufferTooShort},
    };
    for (const Case& c : cases) {
        auto r = twoKeyRecord(c.id, "NEW");
        r.resize(c.length);
        EXPECT_EQ(
            h.call(op::Insert, r.data(), static_cast<uint16_t>(r.size()), c.keyNumber, c.keyLength),
            c.status)
            << c.what;
    }
    EXPECT_EQ(h.recordCount(), 3u);
}

TEST_F(Operations, PositionBlocksThatNameNoOpenFileAnswerThree)
{
    std::vector<uint8_t> r(100);
    Handle zeroed;
    EXPECT_EQ(zeroed.read(op::StepFirst, r), st::FileNotOpen);

    Handle forged;
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        for (auto& b : forged.pos)
            b = static_cast<uint8_t>(rng());
        EXPECT_EQ(forged.read(op::StepFirst, r), st::FileNotOpen);
    }
    // A copy of a live block whose handle index or generation is off by one.
    for (int byte : {8, 16}) {
        std::memcpy(forged.pos, h.pos, sizeof h.pos);
        forged.pos[byte] ^= 1;
        EXPECT_EQ(forged.read(op::StepFirst, r), st::FileNotOpen) << byte;
    }

    // A closed block, and a stale copy of it after its slot was reused.
    Handle second;
    ASSERT_EQ(second.open(path), st::Success);
    Handle stale = second;
    ASSERT_EQ(second.close(), st::Success);
    EXPECT_EQ(second.close(), st::FileNotOpen);
    EXPECT_EQ(stale.read(op::StepFirst, r), st::FileNotOpen);
    Handle third;
    ASSERT_EQ(third.open(path), st::Success);
    EXPECT_EQ(stale.read(op::StepFirst, r), st::FileNotOpen);
    EXPECT_EQ(third.close(), st::Success);

    uint16_t len = 100;
    EXPECT_EQ(BTRCALLID(op::StepFirst, nullptr, r.data(), &len, h.key, 255, 0, nullptr),
        st::InvalidOperation);
}

TEST_F(Operations, NullPointersAnswerOne)
{
    std::vector<uint8_t> r = twoKeyRecord(1, "A");
    uint16_t len = 100;
    EXPECT_EQ(
        BTRCALLID(op::Insert, h.pos, nullptr, &len, h.key, 255, 0, nullptr), st::InvalidOperation);
    EXPECT_EQ(BTRCALLID(op::Insert, h.pos, r.data(), nullptr, h.key, 255, 0, nullptr),
        st::InvalidOperation);
    EXPECT_EQ(BTRCALLID(op::Insert, h.pos, r.data(), &len, nullptr, 255, 0, nullptr),
        st::InvalidOperation);
    EXPECT_EQ(BTRCALLID(op::GetFirst, h.pos, r.data(), &len, nullptr, 255, 0, nullptr),
        st::InvalidOperation);
    EXPECT_EQ(BTRCALLID(op::StepFirst, h.pos, nullptr, &len, nullptr, 255, 0, nullptr),
        st::InvalidOperation);
    EXPECT_EQ(
        BTRCALLID(op::Stat, h.pos, nullptr, &len, h.key, 255, 0, nullptr), st::InvalidOperation);
    EXPECT_EQ(BTRCALLID(op::GetPosition, h.pos, nullptr, &len, h.key, 255, 0, nullptr),
        st::InvalidOperation);
    EXPECT_EQ(
        BTRCALLID(op::Open, h.pos, nullptr, &len, nullptr, 255, 0, nullptr), st::InvalidOperation);
    EXPECT_EQ(BTRCALLID(op::Create, nullptr, nullptr, &len, h.key, 255, 0, nullptr),
        st::InvalidOperation);
    EXPECT_EQ(h.recordCount(), 0u);
}

TEST_F(Operations, OpenModesAndSharing)
{
    auto r = twoKeyRecord(1, "A");
    Handle ro;
    ASSERT_EQ(ro.open(path, -2), st::Success);
    EXPECT_EQ(ro.insert(r), st::AccessDenied);
    // Handles on one file share what was written, before any commit.
    ASSERT_EQ(h.insert(r), st::Success);
    std::vector<uint8_t> got;
    ASSERT_EQ(ro.read(op::GetFirst, got), st::Success);
    EXPECT_EQ(idOf(got), 1);
    EXPECT_EQ(ro.recordCount(), 1u);

    Handle ex;
    EXPECT_EQ(ex.open(path, -4), st::IncompatibleMode); // others hold it
    ASSERT_EQ(ro.close(), st::Success);
    ASSERT_EQ(h.close(), st::Success);
    ASSERT_EQ(ex.open(path, -4), st::Success);
    Handle other;
    EXPECT_EQ(other.open(path), st::IncompatibleMode);
    ASSERT_EQ(ex.close(), st::Success);
    EXPECT_EQ(other.open(path, -1), st::Success);
    EXPECT_EQ(other.close(), st::Success);
    Handle verify;
    EXPECT_EQ(verify.open(path, -3), st::Success);
    EXPECT_EQ(verify.close(), st::Success);
    ASSERT_EQ(h.open(path), st::Success); // for TearDown
}

TEST(OpenStatuses, NamesAndFilesThatCannotBeOpened)
{
    ScratchDir dir;
    {
        std::ofstream(dir.file("TEXT.BTR")) << "just some text, not a data file\n";
    }
    {
        std::ofstream(dir.file("EMPTY.BTR"));
    }
    {
        // An SQLite database that is not one of ours.
        std::ofstream out(dir.file("OTHER.DB"), std::ios::binary);
        std::string header(4096, '\0');
        header.replace(0, 16, std::string("SQLite format 3\0", 16));
        out << header;
    }
    struct Case
    {
        std::string name;
        int mode;
        int16_t status;
    };
    const Case cases[] = {
        {dir.file("MISSING.BTR"), 0, st::FileNotFound},
        {dir.file("NODIR/X.BTR"), 0, st::FileNotFound},
        {dir.path(), 0, st::FileNotFound},
        {dir.file("TEXT.BTR"), 0, st::NotADataFile},
        {dir.file("EMPTY.BTR"), 0, st::NotADataFile},
        {dir.file("OTHER.DB"), 0, st::NotADataFile},
        {"", 0, st::InvalidFileName},
        {dir.file("TEXT.BTR"), 5, st::InvalidOperation},
    };
    for (const Case& c : cases) {
        Handle h;
        EXPECT_EQ(h.open(c.name, c.mode), c.status) << c.name;
        std::vector<uint8_t> r;
        EXPECT_EQ(h.read(op::StepFirst, r), st::FileNotOpen) << c.name;
    }
    // A name that does not end within the key buffer.
    std::vector<char> unterminated(255, 'A');
    uint8_t pos[128] = {};
    uint16_t len = 0;
    EXPECT_EQ(BTRCALLID(op::Open, pos, nullptr, &len, unterminated.data(), 255, 0, nullptr),
        st::InvalidFileName);
}

TEST(TableLimits, HandleAndFileTablesAreBounded)
{
    ScratchDir dir;
    const std::string path = dir.file("ONE.BTR");
    ASSERT_EQ(create(path, image(twoKeySpec())), st::Success);
    std::vector<Handle> handles(300);
    size_t opened = 0;
    int16_t s = st::Success;
    for (; opened < handles.size(); ++opened) {
        s = handles[opened].open(path);
        if (s != st::Success)
            break;
    }
    EXPECT_EQ(s, st::HandleTableFull);
    EXPECT_GE(opened, 64u);
    for (size_t i = 0; i < opened; ++i)
        EXPECT_EQ(handles[i].close(), st::Success);

    std::vector<Handle> files(100);
    for (opened = 0; opened < files.size(); ++opened) {
        // append() rather than a second operator+, on which GCC 12 reports a false -Wrestrict.
        const std::string name = dir.file("F" + std::to_string(opened).append(".BTR"));
        ASSERT_EQ(create(name, image(twoKeySpec())), st::Success);
        s = files[opened].open(name);
        if (s != st::Success)
            break;
    }
    EXPECT_EQ(s, st::FileTableFull);
    EXPECT_GE(opened, 16u);
    for (size_t i = 0; i < opened; ++i)
        EXPECT_EQ(files[i].close(), st::Success);
}

TEST(KeylessAndKeyOnly, StepRulesAndInsertWithoutKeys)
{
    ScratchDir dir;
    Spec none;
    none.recordLength = 10;
    ASSERT_EQ(create(dir.file("NOKEYS.BTR"), image(none)), st::Success);
    Handle h;
    ASSERT_EQ(h.open(dir.file("NOKEYS.BTR")), st::Success);
    for (uint8_t i = 0; i < 5; ++i) {
        std::vector<uint8_t> r(10, i);
        ASSERT_EQ(h.insert(r, 0), st::Success); // the key number is not looked at
    }
    std::vector<uint8_t> r;
    EXPECT_EQ(h.read(op::GetFirst, r, 0), st::InvalidKeyNumber);
    std::vector<uint8_t> order;
    for (int16_t s = h.read(op::StepFirst, r); s == st::Success; s = h.read(op::StepNext, r))
        order.push_back(r[0]);
    EXPECT_EQ(order, (std::vector<uint8_t> {0, 1, 2, 3, 4}));
    EXPECT_EQ(h.close(), st::Success);

    Spec keyOnly;
    keyOnly.recordLength = 8;
    keyOnly.fileFlags = 0x10;
    keyOnly.keys = {{Seg {1, 8, 0, 0}}};
    ASSERT_EQ(create(dir.file("KEYONLY.BTR"), image(keyOnly)), st::Success);
    ASSERT_EQ(h.open(dir.file("KEYONLY.BTR")), st::Success);
    std::vector<uint8_t> k(8, 'k');
    ASSERT_EQ(h.insert(k), st::Success);
    EXPECT_EQ(h.read(op::StepFirst, r), st::OperationNotAllowed);
    EXPECT_EQ(h.read(op::GetFirst, r), st::Success);
    EXPECT_EQ(h.close(), st::Success);
}

TEST(Autoincrement, ZeroTakesHighestPlusOneAndIsWrittenBack)
{
    ScratchDir dir;
    Spec s;
    s.recordLength = 12;
    s.keys = {{Seg {1, 4, 0, 15}}};
    ASSERT_EQ(create(dir.file("AUTO.BTR"), image(s)), st::Success);
    Handle h;
    ASSERT_EQ(h.open(dir.file("AUTO.BTR")), st::Success);
    auto rec = [](uint32_t v) {
        std::vector<uint8_t> r(12, 'x');
        for (int i = 0; i < 4; ++i)
            r[i] = static_cast<uint8_t>(v >> (8 * i));
        return r;
    };
    std::vector<uint8_t> r = rec(0);
    ASSERT_EQ(h.insert(r), st::Success);
    EXPECT_EQ(get32(r.data()), 1u);
    EXPECT_EQ(get32(h.key), 1u);
    r = rec(10);
    ASSERT_EQ(h.insert(r), st::Success);
    r = rec(0);
    ASSERT_EQ(h.insert(r), st::Success);
    EXPECT_EQ(get32(r.data()), 11u);
    r = rec(11);
    EXPECT_EQ(h.insert(r), st::DuplicateKey);
    EXPECT_EQ(get32(r.data()), 11u);
    ASSERT_EQ(h.close(), st::Success);
    // The highest value survives a reopen.
    ASSERT_EQ(h.open(dir.file("AUTO.BTR")), st::Success);
    r = rec(0);
    ASSERT_EQ(h.insert(r), st::Success);
    EXPECT_EQ(get32(r.data()), 12u);
    EXPECT_EQ(h.close(), st::Success);
}

TEST(NullKeys, RecordsWithNullKeysAreLeftOutOfThatKey)
{
    ScratchDir dir;
    Spec s;
    s.recordLength = 8;
    // Key 0: null when every segment is blank; key 1: null when any segment is blank.
    s.keys = {{Seg {1, 2, 0x0009, 0, ' '}, Seg {3, 2, 0x0009, 0, ' '}},
        {Seg {5, 2, 0x0201, 0, ' '}, Seg {7, 2, 0x0201, 0, ' '}}};
    ASSERT_EQ(create(dir.file("NULLS.BTR"), image(s)), st::Success);
    Handle h;
    ASSERT_EQ(h.open(dir.file("NULLS.BTR")), st::Success);
    const char* records[] = {"AA  CCDD", "    CC  ", "  BB    ", "    EEFF", "AA  CCDD"};
    for (const char* text : records) {
        std::vector<uint8_t> r(text, text + 8);
        ASSERT_EQ(h.insert(r, -1), st::Success) << text;
    }
    auto walk = [&](int key) {
        std::vector<std::string> out;
        std::vector<uint8_t> r;
        for (int16_t st = h.read(op::GetFirst, r, key); st == 0; st = h.read(op::GetNext, r, key))
            out.emplace_back(r.begin(), r.end());
        return out;
    };
    EXPECT_EQ(walk(0), (std::vector<std::string> {"  BB    ", "AA  CCDD", "AA  CCDD"}));
    EXPECT_EQ(walk(1), (std::vector<std::string> {"AA  CCDD", "AA  CCDD", "    EEFF"}));
    int16_t status;
    auto img = h.stat(status);
    ASSERT_EQ(status, st::Success);
    EXPECT_EQ(get32(&img[6]), 5u);
    EXPECT_EQ(get32(&img[16 + 6]), 2u); // key 0: "  BB", "AA  "
    EXPECT_EQ(get32(&img[32 + 6]), 2u); // repeated on its second segment
    EXPECT_EQ(get32(&img[48 + 6]), 2u); // key 1: "CCDD", "EEFF"
    EXPECT_EQ(h.close(), st::Success);
}

TEST(VariableLength, LongRecordsComeBackWhole)
{
    ScratchDir dir;
    Spec s;
    s.recordLength = 10;
    s.fileFlags = 0x0001;
    s.keys = {{Seg {1, 4, 0, 1}}};
    ASSERT_EQ(create(dir.file("VAR.BTR"), image(s)), st::Success);
    Handle h;
    ASSERT_EQ(h.open(dir.file("VAR.BTR")), st::Success);
    for (uint32_t i = 1; i <= 3; ++i) {
        std::vector<uint8_t> r(10 + 1000 * i, static_cast<uint8_t>('a' + i));
        std::memcpy(r.data(), &i, 4);
        ASSERT_EQ(h.insert(r), st::Success);
    }
    std::vector<uint8_t> tooShort(9, 0);
    EXPECT_EQ(h.insert(tooShort), st::DataBufferTooShort);
    std::vector<uint8_t> r;
    ASSERT_EQ(h.read(op::GetFirst, r, 0, 5000), st::Success);
    EXPECT_EQ(r.size(), 1010u);
    ASSERT_EQ(h.read(op::GetNext, r, 0, 5000), st::Success);
    EXPECT_EQ(r.size(), 2010u);
    EXPECT_EQ(h.read(op::GetNext, r, 0, 1000), st::DataBufferTooShort);
    EXPECT_EQ(h.lastLength, 1000u);
    EXPECT_EQ(r[999], 'a' + 3);
    EXPECT_EQ(h.close(), st::Success);
}

} // namespace
