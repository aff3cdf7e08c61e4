// TWinBtr's browsing, update and transaction calls against the record manager itself, as a
// records window makes them: a row by percentage, the rows after and before it, a row again by
// its position, a value found, a row edited and deleted, an edit taken back.
#include "EntryHelpers.h"
#include "WinBtr.h"

using namespace entrytest;

namespace {

TEST(WinBtrBrowsing, AWindowsCallsOnOurOwnFile)
{
    ScratchDir dir;
    const std::string path = dir.file("ROWS.BTR");
    ASSERT_EQ(create(path, image(twoKeySpec())), st::Success);
    {
        Handle h;
        ASSERT_EQ(h.open(path), st::Success);
        for (int64_t id = 1; id <= 101; ++id) {
            auto r = twoKeyRecord(id, numbered("ROW", id % 10));
            ASSERT_EQ(h.insert(r), st::Success);
        }
        ASSERT_EQ(h.close(), st::Success);
    }
    TWinBtr file;
    ASSERT_EQ(file.Open(path.c_str(), "", 0), st::Success);
    const auto id = [&file] { return idOf(std::vector<uint8_t>(file.Buffer, file.Buffer + 8)); };

    // The middle of key 0, the rows around it, and back to it by position.
    ASSERT_EQ(file.GetByPercentage(5000), st::Success);
    EXPECT_EQ(id(), 51);
    const int32_t middle = file.GetPosition();
    ASSERT_EQ(file.GetNext(), st::Success);
    EXPECT_EQ(id(), 52);
    ASSERT_EQ(file.GetPrevious(), st::Success);
    ASSERT_EQ(file.GetPrevious(), st::Success);
    EXPECT_EQ(id(), 50);
    ASSERT_EQ(file.GetLast(), st::Success);
    EXPECT_EQ(id(), 101);
    ASSERT_EQ(file.GetDirect(middle), st::Success);
    EXPECT_EQ(id(), 51);
    uint16_t percent = 0;
    ASSERT_EQ(file.FindPercentage(percent), st::Success);
    EXPECT_EQ(percent, 5000);
    ASSERT_EQ(file.FindPercentage(middle, percent), st::Success);
    EXPECT_EQ(percent, 5000);

    // Found by a value of key 1, then the key alone of the next value.
    file.KeyNumber = 1;
    const std::vector<uint8_t> row3 = twoKeyRecord(0, "ROW3");
    ASSERT_EQ(file.GetGreaterOrEqual(&row3[8], 20), st::Success);
    EXPECT_EQ(id(), 3);
    ASSERT_EQ(file.GetKey(btr::op::GetNext), st::Success);
    EXPECT_EQ(std::string(file.KeyBuffer, file.KeyBuffer + 4), "ROW3");
    EXPECT_EQ(id(), 3) << "the record read before stays in the buffer";

    // An edit written back, a row deleted, an edit taken back.
    file.KeyNumber = 0;
    ASSERT_EQ(file.GetDirect(middle), st::Success);
    file.Buffer[50] = 'E';
    ASSERT_EQ(file.Update(), st::Success);
    ASSERT_EQ(file.GetNext(), st::Success);
    ASSERT_EQ(file.Delete(), st::Success);
    EXPECT_EQ(file.RecordCount(), 100);
    ASSERT_EQ(file.BeginTransaction(), st::Success);
    EXPECT_EQ(file.BeginTransaction(), st::TransactionActive);
    ASSERT_EQ(file.GetDirect(middle), st::Success);
    file.Buffer[50] = 'X';
    ASSERT_EQ(file.Update(), st::Success);
    ASSERT_EQ(file.AbortTransaction(), st::Success);
    EXPECT_EQ(file.EndTransaction(), st::NoTransaction);
    ASSERT_EQ(file.GetDirect(middle), st::Success);
    EXPECT_EQ(file.Buffer[50], 'E');
    ASSERT_EQ(file.Close(), st::Success);
}

} // namespace
