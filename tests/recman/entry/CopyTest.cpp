// The program's own way through the record manager: TWinBtr opening, Stat, Create from the Stat
// image and the Copy loop (Get First/Get Next on the source, SetDataPtr + Insert on the
// destination).
#include "EntryHelpers.h"
#include "WinBtr.h"

using namespace entrytest;

namespace {

// The Copy command's loop; returns the number of records inserted.
int copyRecords(const std::string& from, const std::string& to)
{
    TWinBtr source;
    TWinBtr dest;
    if (source.Open(from.c_str(), "", 0) != st::Success)
        return -1;
    if (dest.Open(to.c_str(), "", 0) != st::Success)
        return -1;
    int copied = 0;
    source.GetFirst();
    while (source.GetStatus() == st::Success) {
        dest.SetDataPtr(source.Buffer);
        dest.Insert();
        if (dest.GetStatus() != st::Success)
            break;
        ++copied;
        source.GetNext();
    }
    source.Close();
    dest.Close();
    return copied;
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
    EXPECT_EQ(copyRecords(from, to), 1000);

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
    EXPECT_EQ(copyRecords(dir.file("A.BTR"), dir.file("B.BTR")), 10);

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
    EXPECT_EQ(copyRecords(dir.file("A.BTR"), dir.file("C.BTR")), 4);
}

} // namespace
