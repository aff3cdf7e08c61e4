// The program's own way through the record manager: TWinBtr opening, Stat, Create from the Stat
// image and the copy loop (Get First/Get Next on the source, SetDataPtr + Insert on the
// destination), with its rules for records of other lengths and where it stops.
#include "CopyRecords.h"
#include "EntryHelpers.h"
#include "WinBtr.h"

using namespace entrytest;

namespace {

// Opens both files and runs the copy loop between them, counting the progress calls.
CopyOutcome copyFile(const std::string& from, const std::string& to, int* progressCalls = nullptr)
{
    TWinBtr source;
    TWinBtr dest;
    CopyOutcome failed;
    failed.stop = CopyOutcome::Read;
    if (source.Open(from.c_str(), "", 0) != st::Success)
        return failed;
    if (dest.Open(to.c_str(), "", 0) != st::Success)
        return failed;
    const CopyOutcome outcome = copyRecords(source, dest, [progressCalls] {
        if (progressCalls)
            ++*progressCalls;
    });
    source.Close();
    dest.Close();
    return outcome;
}

int16_t createLike(const std::string& from, const std::string& to)
{
    TWinBtr f;
    uint8_t spec[btr::SpecBufferSize] = {};
    if (f.Open(from.c_str(), "", 0) != st::Success)
        return f.Status;
    f.StatTo(spec);
    f.Close();
    f.ClearKey(255);
    std::memcpy(f.KeyBuffer, to.c_str(), to.size() + 1);
    f.KeyNumber = 0;
    return f.CallWith(btr::op::Create, spec, btr::SpecBufferSize);
}

TEST(Copy, RecordsArriveInKeyOrderInAFileCreatedFromTheSourceStat)
{
    ScratchDir dir;
    const std::string from = dir.file("FROM.BTR"), to = dir.file("TO.BTR");
    ASSERT_EQ(create(from, image(twoKeySpec())), st::Success);
    {
        Handle h;
        ASSERT_EQ(h.open(from), st::Success);
        for (int i = 0; i < 1000; ++i) {
            auto r = twoKeyRecord((i * 611) % 1000, "NAME" + std::to_string(i % 17), 'r');
            ASSERT_EQ(h.insert(r), st::Success);
        }
        ASSERT_EQ(h.close(), st::Success);
    }
    ASSERT_EQ(createLike(from, to), st::Success);
    int progressCalls = 0;
    const CopyOutcome outcome = copyFile(from, to, &progressCalls);
    EXPECT_EQ(outcome.stop, CopyOutcome::Complete);
    EXPECT_EQ(outcome.status, st::Success);
    EXPECT_EQ(outcome.inserted, 1000);
    EXPECT_EQ(progressCalls, 1000);

    TWinBtr check;
    ASSERT_EQ(check.Open(to.c_str(), "", 0), st::Success);
    EXPECT_EQ(check.RecordCount(), 1000);
    std::vector<int64_t> ids;
    check.UseStep = true; // physical order: the order the Copy inserted them in
    for (check.GetFirst(); check.Ok(); check.GetNext())
        ids.push_back(idOf(std::vector<uint8_t>(check.Buffer, check.Buffer + 8)));
    check.Close();
    ASSERT_EQ(ids.size(), 1000u);
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(ids[i], i);
}

TEST(Copy, FileWithoutKeysIsCopiedInPhysicalOrderAndDuplicatesStopTheCopy)
{
    ScratchDir dir;
    Spec none;
    none.recordLength = 16;
    ASSERT_EQ(create(dir.file("A.BTR"), image(none)), st::Success);
    {
        Handle h;
        ASSERT_EQ(h.open(dir.file("A.BTR")), st::Success);
        for (uint8_t i = 0; i < 10; ++i) {
            std::vector<uint8_t> r(16, static_cast<uint8_t>(10 - i));
            ASSERT_EQ(h.insert(r), st::Success);
        }
        ASSERT_EQ(h.close(), st::Success);
    }
    ASSERT_EQ(createLike(dir.file("A.BTR"), dir.file("B.BTR")), st::Success);
    EXPECT_EQ(copyFile(dir.file("A.BTR"), dir.file("B.BTR")).inserted, 10);

    // Into a destination whose unique key already holds the fifth record's value.
    Spec keyed;
    keyed.recordLength = 16;
    keyed.keys = {{Seg {1, 1, 0, 14}}};
    ASSERT_EQ(create(dir.file("C.BTR"), image(keyed)), st::Success);
    {
        Handle h;
        ASSERT_EQ(h.open(dir.file("C.BTR")), st::Success);
        std::vector<uint8_t> r(16, 6);
        ASSERT_EQ(h.insert(r), st::Success);
        ASSERT_EQ(h.close(), st::Success);
    }
    const CopyOutcome stopped = copyFile(dir.file("A.BTR"), dir.file("C.BTR"));
    EXPECT_EQ(stopped.inserted, 4);
    EXPECT_EQ(stopped.stop, CopyOutcome::Insert);
    EXPECT_EQ(stopped.status, st::DuplicateKey);
    // The destination's own count: the record it held and the four inserted, none lost.
    EXPECT_EQ(stopped.heldBefore, 1);
    EXPECT_EQ(stopped.heldAfter, 5);
    EXPECT_EQ(stopped.lost(), 0);
    EXPECT_EQ(stopped.copied(), 4);
}

// After a failed copy the destination's count says what it gained; Inserts answered 0 beyond it
// were lost (a full disk drops the writes not yet committed). An unknown count changes nothing.
TEST(Copy, CountAfterAFailureIsTheDestinationsOwn)
{
    struct Case
    {
        int32_t before, inserted, after, lost, copied;
    };
    const Case cases[] = {
        {0, 6529, 4000, 2529, 4000},
        {3, 10, 8, 5, 5},
        {3, 10, 13, 0, 10},
        {3, 10, 20, 0, 10}, // another writer added records meanwhile
        {5, 10, 2, 13, 0},  // fewer than before: nothing of this copy is left
        {-1, 10, 4, 0, 10},
        {0, 10, -1, 0, 10},
    };
    for (const Case& c : cases) {
        CopyOutcome outcome;
        outcome.stop = CopyOutcome::Insert;
        outcome.heldBefore = c.before;
        outcome.inserted = c.inserted;
        outcome.heldAfter = c.after;
        EXPECT_EQ(outcome.lost(), c.lost) << c.before << " " << c.inserted << " " << c.after;
        EXPECT_EQ(outcome.copied(), c.copied) << c.before << " " << c.inserted << " " << c.after;
    }
}

// What arrives when the two files' records differ in length: a wider destination gets each
// record followed by zero bytes, a narrower one its leading bytes, and variable-length records
// arrive whole at their own length (never shorter than the destination's fixed part).
TEST(Copy, RecordsOfOtherLengthsArriveWidenedCutOrWhole)
{
    const auto spec = [](uint16_t recordLength, bool variable) {
        Spec s;
        s.recordLength = recordLength;
        s.fileFlags = variable ? 0x0001 : 0;
        s.keys = {{Seg {1, 4, 0, 1}}};
        return s;
    };
    const auto record = [](uint32_t id, size_t length) {
        std::vector<uint8_t> r(length, static_cast<uint8_t>('a' + id));
        std::memcpy(r.data(), &id, sizeof id);
        return r;
    };
    struct Case
    {
        const char* what;
        Spec from, to;
        std::vector<size_t> lengths;  // of the source's records
        std::vector<size_t> expected; // bytes of each record in the destination
    };
    const Case cases[] = {
        {"wider", spec(100, false), spec(160, false), {100, 100}, {160, 160}},
        {"narrower", spec(100, false), spec(40, false), {100, 100}, {40, 40}},
        {"variable", spec(10, true), spec(10, true), {10, 3000, 65000}, {10, 3000, 65000}},
        {"variable into a wider fixed part", spec(10, true), spec(20, true), {12, 500}, {20, 500}},
        {"variable into fixed", spec(10, true), spec(30, false), {10, 400}, {30, 30}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const std::string from = dir.file("FROM.BTR"), to = dir.file("TO.BTR");
        ASSERT_EQ(create(from, image(c.from)), st::Success);
        ASSERT_EQ(create(to, image(c.to)), st::Success);
        {
            Handle h;
            ASSERT_EQ(h.open(from), st::Success);
            for (size_t i = 0; i < c.lengths.size(); ++i) {
                auto r = record(static_cast<uint32_t>(i), c.lengths[i]);
                ASSERT_EQ(h.insert(r), st::Success);
            }
            ASSERT_EQ(h.close(), st::Success);
        }
        const CopyOutcome outcome = copyFile(from, to);
        EXPECT_EQ(outcome.stop, CopyOutcome::Complete);
        EXPECT_EQ(outcome.inserted, static_cast<int32_t>(c.lengths.size()));

        Handle check;
        ASSERT_EQ(check.open(to), st::Success);
        std::vector<uint8_t> r;
        size_t i = 0;
        for (int16_t s = check.read(op::GetFirst, r, 0, 65535); s == st::Success;
             s = check.read(op::GetNext, r, 0, 65535), ++i) {
            ASSERT_LT(i, c.expected.size());
            auto expected = record(static_cast<uint32_t>(i), c.lengths[i]);
            expected.resize(c.expected[i], 0);
            EXPECT_EQ(r, expected) << "record " << i;
        }
        EXPECT_EQ(i, c.expected.size());
        EXPECT_EQ(check.close(), st::Success);
    }
}

} // namespace
