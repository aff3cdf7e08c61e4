#include "WinBtr.h"
#include "DefinitionImage.h"
#include "FakeBtrCall.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
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
    EXPECT_EQ(file.CallByKey(btr::op::GetFirst, nullptr, 4, 1), btr::status::InvalidKeyPath);
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

// Each browsing, update and transaction call: the operation, key number, data offered and the
// argument it places in the data buffer, in and out of UseStep.
TEST_F(WinBtrTest, BrowsingCallsSendTheirOperationKeyAndArgument)
{
    struct Case
    {
        const char* what;
        std::function<int16_t(TWinBtr&)> call;
        bool useStep;
        uint16_t op;
        uint8_t keyNumber;
        uint16_t offered;
        std::vector<uint8_t> dataIn; // the first bytes sent, when they carry an argument
    };
    const uint8_t key[] = {'A', 'B', 'C'};
    const uint8_t noKey = 0xFF;
    const Case cases[] = {
        {"GetLast", [](TWinBtr& f) { return f.GetLast(); }, false, 13, 2, 12, {}},
        {"GetLast stepping", [](TWinBtr& f) { return f.GetLast(); }, true, 34, 2, 12, {}},
        {"GetPrevious", [](TWinBtr& f) { return f.GetPrevious(); }, false, 7, 2, 12, {}},
        {"GetPrevious stepping", [](TWinBtr& f) { return f.GetPrevious(); }, true, 35, 2, 12, {}},
        {"StepFirst", [](TWinBtr& f) { return f.StepFirst(); }, false, 33, 2, 12, {}},
        {"StepNext", [](TWinBtr& f) { return f.StepNext(); }, false, 24, 2, 12, {}},
        {"StepLast", [](TWinBtr& f) { return f.StepLast(); }, false, 34, 2, 12, {}},
        {"StepPrevious", [](TWinBtr& f) { return f.StepPrevious(); }, false, 35, 2, 12, {}},
        {"GetEqual", [&](TWinBtr& f) { return f.GetEqual(key, 3); }, false, 5, 2, 12, {}},
        {"GetGreater", [&](TWinBtr& f) { return f.GetGreater(key, 3); }, false, 8, 2, 12, {}},
        {"GetGreaterOrEqual", [&](TWinBtr& f) { return f.GetGreaterOrEqual(key, 3); }, false, 9, 2,
            12, {}},
        {"GetLess", [&](TWinBtr& f) { return f.GetLess(key, 3); }, false, 10, 2, 12, {}},
        {"GetLessOrEqual", [&](TWinBtr& f) { return f.GetLessOrEqual(key, 3); }, false, 11, 2, 12,
            {}},
        {"GetEqual on KeyBuffer", [](TWinBtr& f) { return f.GetEqual(); }, false, 5, 2, 12, {}},
        {"GetKey", [](TWinBtr& f) { return f.GetKey(btr::op::GetFirst); }, false, 62, 2, 12, {}},
        {"GetDirect", [](TWinBtr& f) { return f.GetDirect(0x01020304); }, false, 23, 2, 12,
            {4, 3, 2, 1}},
        {"GetDirect stepping", [](TWinBtr& f) { return f.GetDirect(7); }, true, 23, noKey, 12,
            {7, 0, 0, 0}},
        {"GetByPercentage", [](TWinBtr& f) { return f.GetByPercentage(5000); }, false, 44, 2, 12,
            {0x88, 0x13}},
        {"GetByPercentage stepping", [](TWinBtr& f) { return f.GetByPercentage(10000); }, true, 44,
            noKey, 12, {0x10, 0x27}},
        {"FindPercentage by key",
            [](TWinBtr& f) {
                uint16_t p = 0;
                return f.FindPercentage(p);
            },
            false, 45, 2, 4, {}},
        {"FindPercentage by position",
            [](TWinBtr& f) {
                uint16_t p = 0;
                return f.FindPercentage(0x0A0B, p);
            },
            false, 45, noKey, 4, {0x0B, 0x0A, 0, 0}},
        {"Update", [](TWinBtr& f) { return f.Update(); }, false, 3, 2, 12, {}},
        {"Delete", [](TWinBtr& f) { return f.Delete(); }, false, 4, 2, 12, {}},
        {"BeginTransaction", [](TWinBtr& f) { return f.BeginTransaction(); }, false, 19, 0, 4, {}},
        {"EndTransaction", [](TWinBtr& f) { return f.EndTransaction(); }, false, 20, 0, 4, {}},
        {"AbortTransaction", [](TWinBtr& f) { return f.AbortTransaction(); }, false, 21, 0, 4, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TWinBtr file;
        openFile(file, 12, 2);
        file.KeyNumber = 2;
        file.UseStep = c.useStep;
        EXPECT_EQ(c.call(file), 0);
        ASSERT_EQ(fake::calls().size(), 1u);
        const fake::Call& sent = fake::calls()[0];
        EXPECT_EQ(sent.op, c.op);
        EXPECT_EQ(sent.keyNumber, c.keyNumber);
        EXPECT_EQ(sent.offeredLength, c.offered);
        EXPECT_EQ(file.KeyNumber, 2) << "the object's key number stays";
        ASSERT_GE(sent.dataIn.size(), c.dataIn.size());
        EXPECT_TRUE(std::equal(c.dataIn.begin(), c.dataIn.end(), sent.dataIn.begin()));
        EXPECT_EQ(file.LastOp, c.op);
        fake::reset();
    }
}

TEST_F(WinBtrTest, GetsByValuePlaceTheKeyOrRefuseWithoutACall)
{
    TWinBtr file;
    openFile(file, 12, 2);
    const std::vector<uint8_t> key(255, 'k');
    EXPECT_EQ(file.GetGreaterOrEqual(key.data(), 255), 0);
    ASSERT_EQ(fake::calls().size(), 1u);
    EXPECT_EQ(fake::calls()[0].key, std::string(255, 'k')) << "a key of 255 bytes fits";
    fake::reset();
    EXPECT_EQ(file.GetGreaterOrEqual(nullptr, 4), btr::status::InvalidKeyPath);
    EXPECT_EQ(file.GetEqual(key.data(), 256), btr::status::KeyBufferTooShort);
    EXPECT_TRUE(fake::calls().empty());
}

TEST_F(WinBtrTest, GetKeyLeavesTheRecordBufferAlone)
{
    TWinBtr file;
    openFile(file, 12, 2);
    std::fill(file.Buffer, file.Buffer + 12, 0x5A);
    fake::script(fake::Reply {0, {}, 0}); // no data, length 0
    EXPECT_EQ(file.GetKey(btr::op::GetNext), 0);
    EXPECT_EQ(fake::calls()[0].op, btr::op::GetNext + btr::op::KeyOnly);
    EXPECT_TRUE(std::all_of(file.Buffer, file.Buffer + 12, [](uint8_t b) { return b == 0x5A; }));
    EXPECT_EQ(file.ReturnedLength, 0);
}

TEST_F(WinBtrTest, FindPercentageReadsWhatComesBack)
{
    TWinBtr file;
    openFile(file, 12, 2);
    uint16_t percent = 99;
    fake::script(fake::Reply {0, {0x10, 0x27, 0, 0}, 4});
    EXPECT_EQ(file.FindPercentage(percent), 0);
    EXPECT_EQ(percent, 10000);
    fake::script(fake::Reply {btr::status::KeyNotFound, {0x10, 0x27, 0, 0}, 4});
    EXPECT_EQ(file.FindPercentage(percent), btr::status::KeyNotFound);
    EXPECT_EQ(percent, 0);
    // A file without keys: the current record's place in physical order.
    fake::reset();
    file.UseStep = true;
    fake::script(fake::Reply {0, {9, 0, 0, 0}, 4}); // Get Position
    fake::script(fake::Reply {0, {0x88, 0x13, 0, 0}, 4});
    EXPECT_EQ(file.FindPercentage(percent), 0);
    EXPECT_EQ(percent, 5000);
    ASSERT_EQ(fake::calls().size(), 2u);
    EXPECT_EQ(fake::calls()[1].keyNumber, 0xFF);
    EXPECT_EQ(fake::calls()[1].dataIn, (std::vector<uint8_t> {9, 0, 0, 0}));
}

} // namespace
