// The lazy model on its own: the rows it gives in every order, after jumps, and the writes it
// makes, on our own files and on each family of the vendor's formats.
#include "RecordFiles.h"
#include "RecordModel.h"

#include "Layout.h"
#include "ScratchDir.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

using records::RecordModel;
using records::ViewOrder;
using recordstest::idIn;

std::unique_ptr<RecordModel> openModel(const std::string& path, int8_t mode = btr::mode::Normal)
{
    auto file = std::make_unique<TWinBtr>();
    EXPECT_EQ(file->Open(path.c_str(), "", uint8_t(mode)), btr::status::Success) << path;
    file->Stat();
    spec::SpecBuffer stat;
    std::copy(std::begin(file->StatBuffer), std::end(file->StatBuffer), stat.bytes.begin());
    auto model
        = std::make_unique<RecordModel>(std::move(file), "TEST.DAT", mode == btr::mode::Normal);
    model->setLayout(fields::keyLayout(stat), "CP437");
    return model;
}

uint32_t idAt(RecordModel& model, int row)
{
    const std::vector<uint8_t>* r = model.recordAt(row);
    EXPECT_NE(r, nullptr) << "row " << row;
    return r ? idIn(*r) : UINT32_MAX;
}

struct Family
{
    const char* name;
    uint16_t version; // 0: our own
    bool compressed;
};

class EveryFamily : public testing::TestWithParam<Family>
{
protected:
    std::string make(uint32_t n)
    {
        const std::string path = dir.file("FILE.DAT");
        if (GetParam().version == 0)
            recordstest::makeOwnFile(path, n);
        else
            recordstest::makeLegacyFile(path, n, GetParam().version, GetParam().compressed);
        return path;
    }
    int8_t mode() const
    {
        return GetParam().version == 0 ? btr::mode::Normal : btr::mode::ReadOnly;
    }
    testsupport::ScratchDir dir;
};

// Far more records than the model keeps, so that rows far apart are reached by jumps.
constexpr uint32_t Many = 6000;

TEST_P(EveryFamily, KeyOrderGivesEveryIdInItsRowBothWays)
{
    auto model = openModel(make(Many), mode());
    ASSERT_EQ(model->rowCount(), int(Many));
    for (int row : {0, 1, 2, 3000, 3001, 5999, 5998, 1500, 17, 4444})
        EXPECT_EQ(idAt(*model, row), uint32_t(row)) << row;
    ASSERT_TRUE(model->setOrder(ViewOrder {0, true}));
    for (int row : {0, 1, 2999, 3000, 5999, 5998, 10})
        EXPECT_EQ(idAt(*model, row), Many - 1 - uint32_t(row)) << row;
}

TEST_P(EveryFamily, PhysicalOrderHoldsEveryRecordOnce)
{
    auto model = openModel(make(Many), mode());
    ASSERT_TRUE(model->setOrder(ViewOrder {-1, false}));
    ASSERT_EQ(model->rowCount(), int(Many));
    std::set<uint32_t> seen;
    // Read in an order that jumps about: the end first, then the middle, then from the start.
    for (int row = int(Many) - 1; row >= int(Many) - 300; --row)
        seen.insert(idAt(*model, row));
    for (int row = 2500; row < 3000; ++row)
        seen.insert(idAt(*model, row));
    for (int row = 0; row < int(Many); ++row)
        seen.insert(idAt(*model, row));
    EXPECT_EQ(seen.size(), size_t(Many));
    EXPECT_LE(model->reads(), uint64_t(Many) * 3 / 2) << "the rows around a jump are read again";
    if (GetParam().version == 0) {
        EXPECT_EQ(idAt(*model, 0), recordstest::idOf(0, Many));
    }
}

// The rows after a jump are the records that follow it along the key, whichever way one scrolls
// on from there.
TEST_P(EveryFamily, RowsAroundAJumpFollowOneAnother)
{
    auto model = openModel(make(Many), mode());
    ASSERT_TRUE(model->setOrder(ViewOrder {1, false}));
    const std::vector<uint8_t>* mid = model->recordAt(int(Many / 2));
    ASSERT_NE(mid, nullptr);
    std::string previous;
    for (int row = int(Many / 2) - 500; row < int(Many / 2) + 500; ++row) {
        const std::vector<uint8_t>* r = model->recordAt(row);
        ASSERT_NE(r, nullptr) << row;
        const std::string name(r->begin() + 4, r->begin() + 24);
        EXPECT_LE(previous, name) << "row " << row;
        previous = name;
    }
    const std::vector<uint8_t>* last = model->recordAt(int(Many) - 1);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(std::string(last->begin() + 4, last->begin() + 13), "NAME 0049");
}

INSTANTIATE_TEST_SUITE_P(Records, EveryFamily,
    testing::Values(Family {"own", 0, false}, Family {"v6", legacytest::Version60, false},
        Family {"v6compressed", legacytest::Version60, true},
        Family {"v95", legacytest::Version95, false}, Family {"v5", legacytest::Version5, false}),
    [](const testing::TestParamInfo<Family>& p) { return std::string(p.param.name); });

TEST(RecordModel, AKeyWithNullsLeftOutCountsItsEntries)
{
    testsupport::ScratchDir dir;
    const std::string path = dir.file("NULLS.BTR");
    recordstest::makeOwnFile(path, 300, true);
    auto model = openModel(path);
    ASSERT_TRUE(model->setOrder(ViewOrder {2, false}));
    EXPECT_EQ(model->rowCount(), 100);
    for (int row = 0; row < 100; ++row) {
        const std::vector<uint8_t>* r = model->recordAt(row);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(std::string(r->begin() + 28, r->begin() + 31), "TAG");
    }
    EXPECT_EQ(model->recordAt(100), nullptr);
}

TEST(RecordModel, FindGivesTheRowOfTheFirstEntryAtOrAfterTheValue)
{
    testsupport::ScratchDir dir;
    const std::string path = dir.file("FIND.BTR");
    recordstest::makeOwnFile(path, Many);
    auto model = openModel(path);
    const auto key = [](uint32_t id) {
        std::vector<uint8_t> k(4);
        std::memcpy(k.data(), &id, 4);
        return k;
    };
    for (uint32_t id : {0u, 1u, 2999u, 4321u, Many - 1})
        EXPECT_EQ(model->findAtOrAfter(0, key(id)), int64_t(id));
    EXPECT_EQ(model->findAtOrAfter(0, key(Many + 5)), -1);
    // Along the name key: the first of the 120 records named NAME 0007.
    std::vector<uint8_t> name(20, ' ');
    std::memcpy(name.data(), "NAME 0007", 9);
    const int64_t row = model->findAtOrAfter(1, name);
    ASSERT_GE(row, 0);
    EXPECT_EQ(row, int64_t(7 * (Many / recordstest::Names)));
    EXPECT_EQ(model->order().key, 1);
    ASSERT_TRUE(model->setOrder(ViewOrder {0, true}));
    EXPECT_EQ(model->findAtOrAfter(0, key(10)), int64_t(Many - 1 - 10));
}

TEST(RecordModel, AnEditIsWrittenAndARefusedOneChangesNothing)
{
    testsupport::ScratchDir dir;
    const std::string path = dir.file("EDIT.BTR");
    recordstest::makeOwnFile(path, 50);
    auto model = openModel(path);
    // Columns of the keys' layout: key0 (the id), key1 (the name), then fillers.
    ASSERT_EQ(model->layout().fields[1].name, "key1");
    EXPECT_TRUE(model->setData(model->index(10, 1), QStringLiteral("ZEBRA"), Qt::EditRole));
    EXPECT_EQ(
        model->data(model->index(10, 1), Qt::DisplayRole).toString(), QStringLiteral("ZEBRA"));
    std::vector<testsupport::Bytes> stored = testsupport::readRecords(path, 0);
    ASSERT_EQ(stored.size(), 50u);
    EXPECT_EQ(std::string(stored[10].begin() + 4, stored[10].begin() + 9), "ZEBRA");

    EXPECT_FALSE(model->writeField(3, 0, QStringLiteral("twelve")));
    EXPECT_TRUE(model->lastError().contains(QStringLiteral("key0")))
        << model->lastError().toStdString();
    // The id's key may not change: the record manager refuses, with its status.
    EXPECT_FALSE(model->writeField(3, 0, QStringLiteral("4")));
    EXPECT_TRUE(model->lastError().contains(QStringLiteral("status 10")))
        << model->lastError().toStdString();
    EXPECT_EQ(testsupport::readRecords(path, 0), stored);
}

TEST(RecordModel, AChangeByAnotherHandleIsNotOverwritten)
{
    testsupport::ScratchDir dir;
    const std::string path = dir.file("RACE.BTR");
    recordstest::makeOwnFile(path, 20);
    auto model = openModel(path);
    ASSERT_NE(model->recordAt(5), nullptr);
    {
        TWinBtr other;
        ASSERT_EQ(other.Open(path.c_str(), "", 0), btr::status::Success);
        uint32_t id = 5;
        ASSERT_EQ(other.GetEqual(&id, 4), btr::status::Success);
        std::memcpy(other.Buffer + 4, "OTHER", 5);
        ASSERT_EQ(other.Update(), btr::status::Success);
        other.Close();
    }
    EXPECT_FALSE(model->writeField(5, 1, QStringLiteral("MINE")));
    EXPECT_TRUE(model->lastError().contains(QStringLiteral("another process")));
    EXPECT_EQ(
        model->data(model->index(5, 1), Qt::DisplayRole).toString(), QStringLiteral("OTHER0005"));
}

TEST(RecordModel, InsertAndDeleteReadTheFileAgain)
{
    testsupport::ScratchDir dir;
    const std::string path = dir.file("ROWS.BTR");
    recordstest::makeOwnFile(path, 10);
    auto model = openModel(path);
    ASSERT_TRUE(model->deleteRecord(0));
    EXPECT_EQ(model->rowCount(), 9);
    ASSERT_TRUE(model->insertRecord());
    EXPECT_EQ(model->rowCount(), 10);
    // A blank record's id is 0, which the blank record holds already: the unique key refuses a
    // copy of it.
    EXPECT_FALSE(model->insertRecord(0));
    EXPECT_TRUE(model->lastError().contains(QStringLiteral("status 5")));
    EXPECT_EQ(model->rowCount(), 10);
    ASSERT_TRUE(model->deleteRecord(0));
    EXPECT_EQ(model->rowCount(), 9);
    EXPECT_EQ(idAt(*model, 0), 1u);
    EXPECT_EQ(testsupport::readRecords(path, 0).size(), 9u);
}

TEST(RecordModel, AFileOfTheVendorsEngineIsNeverWritten)
{
    testsupport::ScratchDir dir;
    const std::string path = dir.file("OLD.DAT");
    recordstest::makeLegacyFile(path, 30, legacytest::Version61);
    const std::vector<char> before = recordstest::fileBytes(path);
    auto model = openModel(path, btr::mode::ReadOnly);
    EXPECT_FALSE(model->flags(model->index(0, 1)) & Qt::ItemIsEditable);
    EXPECT_FALSE(model->setData(model->index(0, 1), QStringLiteral("X"), Qt::EditRole));
    EXPECT_FALSE(model->insertRecord());
    EXPECT_FALSE(model->deleteRecord(0));
    EXPECT_TRUE(model->lastError().contains(QStringLiteral("read-only")));
    model.reset();
    EXPECT_EQ(recordstest::fileBytes(path), before);
}

TEST(RecordModel, AnInvalidValueIsHexAndMarked)
{
    testsupport::ScratchDir dir;
    const std::string path = dir.file("BAD.BTR");
    recordstest::makeOwnFile(path, 5);
    auto model = openModel(path);
    fields::Layout layout = model->layout();
    fields::Field date;
    date.name = "when";
    date.offset = 24;
    date.length = 4;
    date.type.type = btr::exttype::Date;
    date.source = fields::Source::LayoutFile;
    fields::Field month;
    month.name = "broken";
    month.offset = 4;
    month.length = 4;
    month.type.type = btr::exttype::Date; // "NAME" is no date
    month.source = fields::Source::LayoutFile;
    layout.fields = {date, month};
    fields::completeLayout(layout);
    model->setLayout(layout, "CP437");
    int good = -1, bad = -1;
    for (size_t c = 0; c < model->layout().fields.size(); ++c) {
        if (model->layout().fields[c].name == "when")
            good = int(c);
        if (model->layout().fields[c].name == "broken")
            bad = int(c);
    }
    ASSERT_GE(good, 0);
    ASSERT_GE(bad, 0);
    EXPECT_FALSE(model->data(model->index(0, good), RecordModel::InvalidRole).toBool());
    EXPECT_TRUE(model->data(model->index(0, bad), RecordModel::InvalidRole).toBool());
    EXPECT_TRUE(model->data(model->index(0, bad), Qt::DisplayRole).toString().startsWith("0x"));
    EXPECT_TRUE(model->data(model->index(0, bad), Qt::BackgroundRole).isValid());
    EXPECT_EQ(model->data(model->index(0, bad), Qt::ToolTipRole).toString().left(17),
        QStringLiteral("Not a valid date:"));
    const QString tip = model->headerData(bad, Qt::Horizontal, Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.contains(QStringLiteral("position 5, length 4"))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("type date")));
}

} // namespace
