// Begin, End and Abort Transaction within one process: per client id, across files, what Abort
// undoes and what stays.
#include "EntryHelpers.h"

using namespace entrytest;
using testsupport::Bytes;

namespace {

int16_t transaction(uint16_t op, uint8_t client)
{
    uint8_t id[btr::ClientIdSize] = {};
    id[0] = client;
    uint8_t pos[btr::PositionBlockSize] = {}, key[btr::KeyBufferSize] = {}, data[4] = {};
    uint16_t length = 0;
    return BTRCALLID(op, pos, data, &length, key, 255, 0, id);
}

// Every record along key 0, with the live counters.
struct Contents
{
    std::vector<Bytes> records;
    Bytes stat;
    bool operator==(const Contents&) const = default;
};

Contents contents(Handle& h)
{
    Contents c;
    Bytes r;
    for (int16_t s = h.read(op::GetFirst, r); s == st::Success; s = h.read(op::GetNext, r))
        c.records.push_back(r);
    int16_t status;
    c.stat = h.stat(status);
    EXPECT_EQ(status, st::Success);
    return c;
}

class Transactions : public ::testing::Test
{
protected:
    void SetUp() override
    {
        path = dir.file("TX.BTR");
        ASSERT_EQ(create(path, image(twoKeySpec())), st::Success);
        ASSERT_EQ(h.open(path), st::Success);
        for (int id = 1; id <= 5; ++id) {
            Bytes r = twoKeyRecord(id, numbered("NAME", id % 2));
            ASSERT_EQ(h.insert(r), st::Success);
        }
    }
    void TearDown() override
    {
        transaction(op::AbortTransaction, 0);
        h.close();
    }

    // Reads the record of `id` by key 0 into `r`.
    int16_t find(Handle& on, int64_t id, Bytes& r)
    {
        btr::le::putN(on.key, 8, uint64_t(id));
        return on.read(op::GetEqual, r);
    }

    ScratchDir dir;
    std::string path;
    Handle h;
};

TEST_F(Transactions, BeginEndAndAbortAnswerPerClient)
{
    struct Case
    {
        const char* what;
        uint16_t op;
        uint8_t client;
        int16_t status;
    };
    const Case cases[] = {
        {"End without Begin", op::EndTransaction, 1, st::NoTransaction},
        {"Abort without Begin", op::AbortTransaction, 1, st::NoTransaction},
        {"Begin", op::BeginTransaction, 1, st::Success},
        {"Begin again", op::BeginTransaction, 1, st::TransactionActive},
        {"Begin again, concurrent", op::BeginConcurrentTransaction, 1, st::TransactionActive},
        {"another client's Begin", op::BeginTransaction, 2, st::Success},
        {"End", op::EndTransaction, 1, st::Success},
        {"End again", op::EndTransaction, 1, st::NoTransaction},
        {"the other client's still open", op::AbortTransaction, 2, st::Success},
        {"Begin, concurrent", op::BeginConcurrentTransaction, 1, st::Success},
        {"Abort", op::AbortTransaction, 1, st::Success},
        {"Abort again", op::AbortTransaction, 1, st::NoTransaction},
    };
    for (const Case& c : cases)
        EXPECT_EQ(transaction(c.op, c.client), c.status) << c.what;
}

TEST_F(Transactions, AbortUndoesEveryWriteAndLeavesPositionsAsIfNothingHappened)
{
    const Contents before = contents(h);
    Bytes r;
    ASSERT_EQ(find(h, 3, r), st::Success);
    ASSERT_EQ(transaction(op::BeginTransaction, 0), st::Success);
    Bytes changed = twoKeyRecord(3, numbered("NAME", 1), 'C');
    ASSERT_EQ(h.call(op::Update, changed.data(), 100, 0), st::Success);
    Handle other;
    ASSERT_EQ(other.open(path), st::Success);
    ASSERT_EQ(find(other, 4, r), st::Success);
    ASSERT_EQ(other.call(op::Delete, r.data(), 0, 0), st::Success);
    Bytes added = twoKeyRecord(10, "ADDED");
    ASSERT_EQ(other.insert(added), st::Success);
    EXPECT_EQ(other.recordCount(), 5u);
    ASSERT_EQ(transaction(op::AbortTransaction, 0), st::Success);

    // The added record is gone, and its handle's current record with it.
    EXPECT_EQ(other.call(op::Delete, r.data(), 0, 0), st::InvalidPositioning);
    // The record this handle changed is current again as it is now: no 80.
    Bytes again = twoKeyRecord(3, numbered("NAME", 1), 'A');
    EXPECT_EQ(h.call(op::Update, again.data(), 100, 0), st::Success);
    EXPECT_EQ(h.call(op::Update, changed.data(), 100, 0), st::Success);
    ASSERT_EQ(find(h, 3, r), st::Success);
    Bytes original = twoKeyRecord(3, numbered("NAME", 1));
    ASSERT_EQ(h.call(op::Update, original.data(), 100, 0), st::Success);
    EXPECT_EQ(contents(other), before);
    EXPECT_EQ(find(other, 10, r), st::KeyNotFound);
    EXPECT_EQ(other.close(), st::Success);
}

TEST_F(Transactions, EndKeepsTheWritesAndCloseWaitsForIt)
{
    ASSERT_EQ(transaction(op::BeginTransaction, 0), st::Success);
    Bytes kept = twoKeyRecord(20, "KEPT");
    ASSERT_EQ(h.insert(kept), st::Success);
    // Closed inside the transaction: the file stays open for it until it ends.
    ASSERT_EQ(h.close(), st::Success);
    ASSERT_EQ(transaction(op::EndTransaction, 0), st::Success);
    ASSERT_EQ(h.open(path), st::Success);
    Bytes r;
    EXPECT_EQ(find(h, 20, r), st::Success);

    ASSERT_EQ(transaction(op::BeginTransaction, 0), st::Success);
    Bytes dropped = twoKeyRecord(21, "DROPPED");
    ASSERT_EQ(h.insert(dropped), st::Success);
    ASSERT_EQ(h.close(), st::Success);
    ASSERT_EQ(transaction(op::AbortTransaction, 0), st::Success);
    ASSERT_EQ(h.open(path), st::Success);
    EXPECT_EQ(find(h, 21, r), st::KeyNotFound);
    EXPECT_EQ(h.recordCount(), 6u);
}

TEST_F(Transactions, AnotherClientWaitsForTheFileButReadsIt)
{
    Handle other;
    other.clientId[0] = 7;
    ASSERT_EQ(other.open(path), st::Success);
    ASSERT_EQ(transaction(op::BeginTransaction, 0), st::Success);
    Bytes mine = twoKeyRecord(30, "MINE");
    ASSERT_EQ(h.insert(mine), st::Success);
    Bytes theirs = twoKeyRecord(31, "THEIRS");
    EXPECT_EQ(other.insert(theirs), st::FileInUse);
    Bytes r;
    EXPECT_EQ(find(other, 30, r), st::Success) << "the same process shares what is written";
    EXPECT_EQ(other.call(op::Update, r.data(), 100, 0), st::FileInUse);
    ASSERT_EQ(transaction(op::EndTransaction, 0), st::Success);
    EXPECT_EQ(other.insert(theirs), st::Success);
    EXPECT_EQ(other.close(), st::Success);
}

TEST_F(Transactions, OneTransactionSpansFiles)
{
    const std::string second = dir.file("TX2.BTR");
    ASSERT_EQ(create(second, image(twoKeySpec())), st::Success);
    Handle h2;
    ASSERT_EQ(h2.open(second), st::Success);
    ASSERT_EQ(transaction(op::BeginTransaction, 0), st::Success);
    Bytes a = twoKeyRecord(40, "A"), b = twoKeyRecord(41, "B");
    ASSERT_EQ(h.insert(a), st::Success);
    ASSERT_EQ(h2.insert(b), st::Success);
    ASSERT_EQ(transaction(op::AbortTransaction, 0), st::Success);
    EXPECT_EQ(h.recordCount(), 5u);
    EXPECT_EQ(h2.recordCount(), 0u);
    EXPECT_EQ(h2.close(), st::Success);
}

} // namespace
