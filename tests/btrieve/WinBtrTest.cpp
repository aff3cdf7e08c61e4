#include "WinBtr.h"
#include "DefinitionImage.h"
#include "FakeBtrCall.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {

// A Stat answer: the 1920-byte definition with the three header fields the object reads.
std::vector<uint8_t> statImage(uint16_t recordLength, uint16_t numIndexes, uint32_t numRecords)
{
    testsupport::DefinitionImage d;
    d.recordLength = recordLength;
    d.pageSize = 0;
    d.numIndexes = static_cast<int16_t>(numIndexes);
    d.numRecords = numRecords;
    std::vector<uint8_t> image = d.bytes();
    image[1919] = 0x5A; // marks the last byte, to see the whole image arrived
    return image;
}

fake::Reply statReply(
    uint16_t recordLength, uint16_t numIndexes, uint32_t numRecords = 0, int16_t status = 0)
{
    return fake::Reply {status, statImage(recordLength, numIndexes, numRecords), -1};
}

std::vector<uint16_t> ops()
{
    std::vector<uint16_t> result;
    for (const fake::Call& c : fake::calls())
        result.push_back(c.op);
    return result;
}

class WinBtrTest : public ::testing::Test
{
protected:
    void SetUp() override { fake::reset(); }

    // Opens `file` on an object whose file has the given record length and key count.
    void openFile(TWinBtr& file, uint16_t recordLength, uint16_t numIndexes)
    {
        fake::scriptStatus(0);                             // Open
        fake::script(statReply(recordLength, numIndexes)); // Stat for the record length
        fake::script(statReply(recordLength, numIndexes)); // Stat for the key count
        ASSERT_EQ(file.Open("DATA.BTR", "", 0), 0);
        fake::reset();
    }
};

TEST_F(WinBtrTest, ClientIdTravelsOnEveryCall)
{
    TWinBtr anonymous(nullptr);
    anonymous.Close(); // no call: nothing open
    anonymous.CallWith(btr::op::Stat, anonymous.StatBuffer, btr::SpecBufferSize);
    std::array<uint8_t, 16> id {};
    for (size_t i = 0; i < id.size(); ++i)
        id[i] = static_cast<uint8_t>(0xA0 + i);
    TWinBtr named(id.data());
    named.Open("X", "", 0);

    ASSERT_EQ(fake::calls().size(), 4u); // Stat, Open, Stat, Stat
    EXPECT_EQ(fake::calls()[0].clientId, std::vector<uint8_t>(16, 0));
    for (size_t i = 1; i < fake::calls().size(); ++i)
        EXPECT_EQ(fake::calls()[i].clientId, std::vector<uint8_t>(id.begin(), id.end()));
}

TEST_F(WinBtrTest, OpenSendsNameModeAndOwnerLengthThenSizesTheBuffer)
{
    TWinBtr file;
    file.KeyNumber = 7;
    fake::scriptStatus(0);
    fake::script(statReply(120, 2, 5));
    fake::script(statReply(120, 2, 5));
    EXPECT_EQ(file.Open("CUSTOMER.BTR", "ab", 0xFE), 0);

    ASSERT_EQ(ops(), (std::vector<uint16_t> {btr::op::Open, btr::op::Stat, btr::op::Stat}));
    const fake::Call& open = fake::calls()[0];
    EXPECT_EQ(open.key, "CUSTOMER.BTR");
    EXPECT_EQ(open.keyNumber, 0xFE);
    EXPECT_EQ(open.keyLength, 255);
    EXPECT_EQ(open.offeredLength, 3); // "ab" and its terminating zero
    EXPECT_EQ(fake::calls()[1].offeredLength, btr::SpecBufferSize);
    EXPECT_TRUE(file.IsOpen);
    EXPECT_EQ(file.BufferSize, 120);
    EXPECT_EQ(file.DataLength, 120);
    EXPECT_NE(file.Buffer, nullptr);
    EXPECT_EQ(file.DataPtr, file.Buffer);
    EXPECT_EQ(file.KeyNumber, TWinBtr::DefaultKeyNumber);
    EXPECT_EQ(file.KeyLength, 12);
    EXPECT_FALSE(file.UseStep);
    EXPECT_EQ(file.LastOp, btr::op::Stat); // Open itself does not change LastOp
}

TEST_F(WinBtrTest, OpenWithEmptyOwnerOffersNoData)
{
    TWinBtr file;
    file.Open("A.BTR", "", 0);
    ASSERT_FALSE(fake::calls().empty());
    EXPECT_EQ(fake::calls()[0].offeredLength, 0);
}

TEST_F(WinBtrTest, FailedOpenChangesOnlyStatusAndKeyLength)
{
    TWinBtr file;
    fake::scriptStatus(12);
    EXPECT_EQ(file.Open("MISSING.BTR", "", 0), 12);
    EXPECT_EQ(fake::calls().size(), 1u);
    EXPECT_FALSE(file.IsOpen);
    EXPECT_EQ(file.Buffer, nullptr);
    EXPECT_EQ(file.BufferSize, 0);
    EXPECT_EQ(file.KeyLength, 11);
    EXPECT_EQ(file.LastOp, 0);
}

TEST_F(WinBtrTest, StatFailingAfterOpenLeavesTheFileOpenWithoutBuffer)
{
    TWinBtr file;
    fake::scriptStatus(0);
    fake::scriptStatus(2); // Stat fails
    EXPECT_EQ(file.Open("DATA.BTR", "", 0), 2);
    EXPECT_EQ(fake::calls().size(), 2u);
    EXPECT_TRUE(file.IsOpen);
    EXPECT_EQ(file.Buffer, nullptr);
    EXPECT_EQ(
        std::count(file.StatBuffer, file.StatBuffer + btr::SpecBufferSize, 0), btr::SpecBufferSize);

    // The next Open closes it first and goes on.
    fake::reset();
    fake::scriptStatus(0); // Close
    fake::scriptStatus(0); // Open
    fake::script(statReply(10, 1));
    fake::script(statReply(10, 1));
    EXPECT_EQ(file.Open("OTHER.BTR", "", 0), 0);
    EXPECT_EQ(ops(),
        (std::vector<uint16_t> {btr::op::Close, btr::op::Open, btr::op::Stat, btr::op::Stat}));
}

TEST_F(WinBtrTest, FailedCloseKeepsTheFileAndAFollowingOpenStillGoesAhead)
{
    TWinBtr file;
    openFile(file, 40, 1);
    fake::scriptStatus(2);
    EXPECT_EQ(file.Close(), 2);
    EXPECT_TRUE(file.IsOpen);
    EXPECT_EQ(file.BufferSize, 40);
    EXPECT_EQ(fake::calls()[0].offeredLength, 4);

    fake::reset();
    fake::scriptStatus(2); // Close fails again
    fake::scriptStatus(0); // Open
    fake::script(statReply(40, 1));
    fake::script(statReply(40, 1));
    EXPECT_EQ(file.Open("DATA.BTR", "", 0), 0);
    EXPECT_EQ(ops().front(), btr::op::Close);
    EXPECT_EQ(ops()[1], btr::op::Open);
}

TEST_F(WinBtrTest, CloseWithoutFileAnswersThreeAndMakesNoCall)
{
    TWinBtr file;
    EXPECT_EQ(file.Close(), btr::status::FileNotOpen);
    EXPECT_TRUE(fake::calls().empty());
}

TEST_F(WinBtrTest, SuccessfulCloseReleasesBufferAndCache)
{
    TWinBtr file;
    openFile(file, 64, 1);
    EXPECT_EQ(file.Close(), 0);
    EXPECT_FALSE(file.IsOpen);
    EXPECT_EQ(file.Buffer, nullptr);
    EXPECT_EQ(file.BufferSize, 0);
    EXPECT_EQ(
        std::count(file.StatBuffer, file.StatBuffer + btr::SpecBufferSize, 0), btr::SpecBufferSize);
}

TEST_F(WinBtrTest, GetAndStepOperationsFollowTheKeyCount)
{
    struct Case
    {
        uint16_t numIndexes;
        uint16_t first;
        uint16_t next;
    };
    for (const Case& c : {Case {0, btr::op::StepFirst, btr::op::StepNext},
             Case {1, btr::op::GetFirst, btr::op::GetNext},
             Case {3, btr::op::GetFirst, btr::op::GetNext}}) {
        TWinBtr file;
        openFile(file, 20, c.numIndexes);
        file.GetFirst();
        file.GetNext();
        file.Insert();
        EXPECT_EQ(ops(), (std::vector<uint16_t> {c.first, c.next, btr::op::Insert}))
            << "keys: " << c.numIndexes;
        for (const fake::Call& call : fake::calls()) {
            EXPECT_EQ(call.data, file.Buffer);
            EXPECT_EQ(call.offeredLength, 20);
            EXPECT_EQ(call.keyNumber, 0);
            EXPECT_EQ(call.keyLength, 255);
        }
        fake::reset();
    }
}

TEST_F(WinBtrTest, ShortReadZeroesTheRestOfTheBufferAndFailedReadZeroesNothing)
{
    TWinBtr file;
    openFile(file, 8, 1);
    std::memset(file.Buffer, 0xEE, 8);
    fake::script(fake::Reply {0, {1, 2, 3}, 3});
    EXPECT_EQ(file.GetFirst(), 0);
    EXPECT_EQ(std::vector<uint8_t>(file.Buffer, file.Buffer + 8),
        (std::vector<uint8_t> {1, 2, 3, 0, 0, 0, 0, 0}));

    std::memset(file.Buffer, 0xEE, 8);
    fake::script(fake::Reply {22, {9, 9}, 2});
    EXPECT_EQ(file.GetNext(), 22);
    EXPECT_EQ(std::vector<uint8_t>(file.Buffer, file.Buffer + 8),
        (std::vector<uint8_t> {9, 9, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST_F(WinBtrTest, ReturnedLengthIsTheLengthOfTheLastDataCall)
{
    TWinBtr file;
    openFile(file, 8, 1);
    EXPECT_EQ(file.ReturnedLength, 0);
    fake::script(fake::Reply {0, {1, 2, 3}, 3});
    file.GetFirst();
    EXPECT_EQ(file.ReturnedLength, 3);
    fake::script(fake::Reply {0, {1, 2, 3, 4, 5, 6, 7, 8}, 8});
    file.GetNext();
    EXPECT_EQ(file.ReturnedLength, 8);
    // Calls made with a caller's buffer leave it alone.
    uint8_t scratch[4] = {};
    fake::script(fake::Reply {0, {1}, 1});
    file.CallWith(btr::op::Stat, scratch, sizeof scratch);
    EXPECT_EQ(file.ReturnedLength, 8);
}

TEST_F(WinBtrTest, LargeBufferIsZeroFilledToItsRealSize)
{
    TWinBtr file;
    openFile(file, 40000, 1);
    ASSERT_EQ(file.BufferSize, 40000);
    std::memset(file.Buffer, 0xEE, 40000);
    fake::script(fake::Reply {0, {7}, 1});
    file.GetFirst();
    EXPECT_EQ(fake::calls()[0].offeredLength, 40000);
    EXPECT_EQ(file.Buffer[0], 7);
    EXPECT_EQ(std::count(file.Buffer + 1, file.Buffer + 40000, 0), 39999);
}

TEST_F(WinBtrTest, SetDataPtrServesOneDataCall)
{
    TWinBtr file;
    openFile(file, 16, 1);
    std::array<uint8_t, 16> record {};
    record.fill(0x77);
    file.SetDataPtr(nullptr);
    EXPECT_EQ(file.DataPtr, file.Buffer);
    file.SetDataPtr(record.data());
    EXPECT_EQ(file.DataPtr, record.data());
    fake::script(fake::Reply {0, {}, 2}); // the manager answers a shorter length
    file.Insert();
    file.GetNext();
    ASSERT_EQ(fake::calls().size(), 2u);
    EXPECT_EQ(fake::calls()[0].data, record.data());
    EXPECT_EQ(fake::calls()[0].offeredLength, 16);
    EXPECT_EQ(fake::calls()[1].data, file.Buffer);
    // A buffer handed in by its owner is never written by the object.
    EXPECT_EQ(std::count(record.begin(), record.end(), 0x77), 16);
}

TEST_F(WinBtrTest, DataLengthServesTheNextDataCallOnly)
{
    TWinBtr file;
    openFile(file, 50, 1);
    file.DataLength = 30;
    file.Insert();
    file.Insert();
    EXPECT_EQ(fake::calls()[0].offeredLength, 30);
    EXPECT_EQ(fake::calls()[1].offeredLength, 50);
    EXPECT_EQ(file.TakeDataLength(), 50);
}

TEST_F(WinBtrTest, ClearKeyZeroesOnlyWithinTheKeyBuffer)
{
    struct Case
    {
        uint16_t n;
        int zeros; // leading zero bytes expected
    };
    for (const Case& c :
        {Case {0, 0}, Case {1, 1}, Case {255, 255}, Case {256, 256}, Case {257, 0}}) {
        TWinBtr file;
        std::memset(file.KeyBuffer, 0xCC, sizeof file.KeyBuffer);
        file.ClearKey(c.n);
        const int zeros = static_cast<int>(
            std::find_if(file.KeyBuffer, file.KeyBuffer + 256, [](uint8_t b) { return b != 0; })
            - file.KeyBuffer);
        EXPECT_EQ(zeros, c.zeros) << "n = " << c.n;
        EXPECT_EQ(std::count(file.KeyBuffer, file.KeyBuffer + 256, 0xCC), 256 - c.zeros);
    }
}

TEST_F(WinBtrTest, StatTurnsShortBufferIntoSuccessAndKeepsTheFirst1920Bytes)
{
    TWinBtr file;
    openFile(file, 30, 2);
    fake::script(statReply(30, 2, 9, btr::status::DataBufferTooShort));
    std::array<uint8_t, btr::SpecBufferSize> dest {};
    EXPECT_EQ(file.StatTo(dest.data()), 0);
    EXPECT_EQ(dest[1919], 0x5A);
    EXPECT_EQ(dest[6], 9);
    EXPECT_EQ(file.LastOp, btr::op::Stat);
}

TEST_F(WinBtrTest, FailedStatClearsTheCacheAndCopiesZeros)
{
    TWinBtr file;
    openFile(file, 30, 2);
    fake::scriptStatus(btr::status::IoError);
    std::array<uint8_t, btr::SpecBufferSize> dest {};
    dest.fill(0x11);
    EXPECT_EQ(file.StatTo(dest.data()), btr::status::IoError);
    EXPECT_EQ(std::count(dest.begin(), dest.end(), 0), btr::SpecBufferSize);
    // The next record length question asks the record manager again.
    fake::reset();
    fake::script(statReply(31, 2));
    uint16_t length = 0;
    EXPECT_EQ(file.GetRecordLength(length), 0);
    EXPECT_EQ(length, 31);
    EXPECT_EQ(ops(), std::vector<uint16_t> {btr::op::Stat});
}

TEST_F(WinBtrTest, RecordLengthUsesTheCacheWhileCountsAlwaysAsk)
{
    TWinBtr file;
    openFile(file, 30, 2);
    uint16_t length = 0;
    file.GetRecordLength(length);
    EXPECT_EQ(length, 30);
    EXPECT_TRUE(fake::calls().empty());

    fake::script(statReply(30, 2, 100000));
    fake::script(statReply(30, 4, 100001));
    EXPECT_EQ(file.RecordCount(), 100000);
    EXPECT_EQ(file.IndexCount(), 4);
    EXPECT_EQ(fake::calls().size(), 2u);

    fake::scriptStatus(btr::status::IoError);
    EXPECT_EQ(file.RecordCount(), 0);
    fake::scriptStatus(btr::status::IoError);
    EXPECT_EQ(file.IndexCount(), 0);
}

TEST_F(WinBtrTest, CountsWithoutFileAreZeroAndMakeNoCall)
{
    TWinBtr file;
    uint16_t length = 99;
    EXPECT_EQ(file.RecordCount(), 0);
    EXPECT_EQ(file.IndexCount(), 0);
    file.GetRecordLength(length);
    EXPECT_EQ(length, 0);
    EXPECT_TRUE(fake::calls().empty());
}

TEST_F(WinBtrTest, AllocBufferKeepsABufferOfTheSameSize)
{
    TWinBtr file;
    file.AllocBuffer(64);
    uint8_t* buffer = file.Buffer;
    file.DataLength = 10;
    std::array<uint8_t, 4> other {};
    file.SetDataPtr(other.data());
    file.Status = 5;
    file.AllocBuffer(64);
    EXPECT_EQ(file.Status, 0);
    EXPECT_EQ(file.Buffer, buffer);
    EXPECT_EQ(file.DataLength, 10);
    EXPECT_EQ(file.DataPtr, other.data());

    file.AllocBuffer(0);
    EXPECT_EQ(file.Buffer, nullptr);
    EXPECT_EQ(file.DataPtr, nullptr);
    EXPECT_EQ(file.BufferSize, 0);
    EXPECT_EQ(file.Status, 0);
}

TEST_F(WinBtrTest, LockedCallAsksForThePositionAfterwards)
{
    TWinBtr file;
    openFile(file, 12, 1);
    file.LockBias = 200;
    fake::scriptStatus(0);
    fake::script(fake::Reply {0, {0x10, 0x27, 0, 0}, 4});
    EXPECT_EQ(file.GetFirst(), 0);
    EXPECT_EQ(ops(), (std::vector<uint16_t> {212, btr::op::GetPosition}));
    EXPECT_EQ(file.RecordPosition, 10000);
    EXPECT_EQ(file.LockBias, 0);
    EXPECT_EQ(file.LastOp, btr::op::GetPosition);

    // A failed locked call returns its own status and asks for nothing more.
    fake::reset();
    file.LockBias = 100;
    fake::scriptStatus(btr::status::EndOfFile);
    EXPECT_EQ(file.GetNext(), btr::status::EndOfFile);
    EXPECT_EQ(ops(), std::vector<uint16_t> {106});
}

TEST_F(WinBtrTest, GetPositionIsZeroOnFailure)
{
    TWinBtr file;
    openFile(file, 12, 1);
    fake::script(fake::Reply {btr::status::InvalidPositioning, {1, 2, 3, 4}, 4});
    EXPECT_EQ(file.GetPosition(), 0);
    EXPECT_EQ(fake::calls()[0].offeredLength, 4);
}

TEST_F(WinBtrTest, ReasonAsksAfterAFailureAndLeavesItsStatus)
{
    TWinBtr file;
    fake::scriptStatus(btr::status::NotADataFile);
    EXPECT_EQ(file.Open("X.DAT", "", 0), btr::status::NotADataFile);
    const std::string why = "version 7.x files are not read";
    fake::script(fake::Reply {0, std::vector<uint8_t>(why.begin(), why.end()), int(why.size())});
    uint8_t kind = 99;
    EXPECT_EQ(file.Reason(&kind), why);
    EXPECT_EQ(kind, btr::reason::None); // the fake writes no kind into the key buffer
    EXPECT_EQ(file.GetStatus(), btr::status::NotADataFile);
    EXPECT_EQ(fake::calls().back().op, btr::op::Reason);
    // A record manager that does not know the operation gives no reason.
    fake::scriptStatus(btr::status::InvalidOperation);
    EXPECT_EQ(file.Reason(&kind), "");
    EXPECT_EQ(kind, btr::reason::None);
}

TEST_F(WinBtrTest, FileFactsComeInTheirOwnBufferOrAreZero)
{
    TWinBtr file;
    openFile(file, 12, 1);
    uint8_t* record = file.Buffer;
    record[0] = 0x55;
    std::vector<uint8_t> answer(btr::facts::Size, 0);
    answer[btr::facts::at::Family] = btr::facts::V95;
    fake::script(fake::Reply {0, answer, btr::facts::Size});
    uint8_t facts[btr::facts::Size];
    EXPECT_EQ(file.GetFileFacts(facts), 0);
    EXPECT_EQ(fake::calls().back().op, btr::op::FileFacts);
    EXPECT_EQ(fake::calls().back().offeredLength, btr::facts::Size);
    EXPECT_EQ(facts[btr::facts::at::Family], btr::facts::V95);
    EXPECT_EQ(record[0], 0x55);
    EXPECT_EQ(file.DataPtr, file.Buffer);
    // A record manager without the operation: nothing is known.
    fake::script(fake::Reply {btr::status::InvalidOperation, {7, 7, 7}, 3});
    EXPECT_EQ(file.GetFileFacts(facts), btr::status::InvalidOperation);
    EXPECT_EQ(facts[0], 0);
}

TEST_F(WinBtrTest, CallByKeyPlacesTheKeyOrRefuses)
{
    TWinBtr file;
    openFile(file, 12, 2);
    EXPECT_EQ(file.CallByKey(btr::op::GetFirst, nullptr, 4, 1), btr::status::KeyNotGiven);
    std::array<uint8_t, 200> key {};
    key.fill('k');
    EXPECT_EQ(
        file.CallByKey(btr::op::GetFirst, key.data(), 128, 1), btr::status::KeyBufferTooShort);
    EXPECT_TRUE(fake::calls().empty());
    EXPECT_EQ(file.KeyBuffer[0], 0);

    EXPECT_EQ(file.CallByKey(btr::op::GetFirst, key.data(), 127, 1), 0);
    ASSERT_EQ(fake::calls().size(), 1u);
    EXPECT_EQ(fake::calls()[0].keyNumber, 1);
    EXPECT_EQ(fake::calls()[0].key, std::string(127, 'k'));
    EXPECT_EQ(file.KeyLength, 127);
}

TEST_F(WinBtrTest, CallWithSendsTheCallersBufferAndLeavesTheRecordBufferAlone)
{
    TWinBtr file;
    openFile(file, 12, 1);
    file.DataLength = 5;
    std::array<uint8_t, 300> data {};
    fake::script(fake::Reply {0, {1}, 1});
    EXPECT_EQ(file.CallWith(btr::op::Create, data.data(), 300), 0);
    EXPECT_EQ(fake::calls()[0].data, data.data());
    EXPECT_EQ(fake::calls()[0].offeredLength, 300);
    EXPECT_EQ(file.LastOp, btr::op::Create);
    EXPECT_EQ(file.DataLength, 5);
    EXPECT_EQ(file.DataPtr, file.Buffer);
}

TEST_F(WinBtrTest, AcceptShortBufferTurns22IntoSuccess)
{
    TWinBtr file;
    openFile(file, 12, 1);
    fake::scriptStatus(btr::status::DataBufferTooShort);
    EXPECT_EQ(file.GetFirst(), btr::status::DataBufferTooShort);
    file.AcceptShortBuffer = true;
    EXPECT_TRUE(file.Ok());
    EXPECT_EQ(file.Status, 0);
}

TEST_F(WinBtrTest, DestroyClosesAnOpenFile)
{
    {
        TWinBtr file;
        openFile(file, 12, 1);
        fake::scriptStatus(btr::status::IoError); // even a failed Close frees everything
    }
    EXPECT_EQ(ops(), std::vector<uint16_t> {btr::op::Close});
    fake::reset();
    {
        TWinBtr file;
    }
    EXPECT_TRUE(fake::calls().empty());
}

} // namespace
