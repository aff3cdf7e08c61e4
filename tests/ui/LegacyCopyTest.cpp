// Files written by the vendor's engine, through the window: Open shows their definition, Create
// makes a file of ours from the form, Copy moves every record into it in key order.
#include "DataFiles.h"

#include "RequireFixtures.h"
#include "SpecBuffer.h"
#include "WinBtr.h"

#include <QFile>

#include <array>

namespace {

// Every record of `name` in the order of key `keyNumber` (Get First / Get Next).
std::vector<std::vector<uint8_t>> inKeyOrder(const std::string& name, uint8_t keyNumber)
{
    std::vector<std::vector<uint8_t>> records;
    uint8_t pos[btr::PositionBlockSize] = {};
    char path[btr::KeyBufferSize] = {};
    std::strncpy(path, name.c_str(), sizeof path - 1);
    uint16_t length = 0;
    if (BTRCALLID(btr::op::Open, pos, nullptr, &length, path, 255, 0, nullptr) != 0)
        return records;
    std::vector<uint8_t> buffer(65535);
    uint8_t key[btr::KeyBufferSize] = {};
    for (uint16_t op = btr::op::GetFirst;; op = btr::op::GetNext) {
        length = static_cast<uint16_t>(buffer.size());
        if (BTRCALLID(op, pos, buffer.data(), &length, key, 255, keyNumber, nullptr) != 0)
            break;
        records.emplace_back(buffer.begin(), buffer.begin() + length);
    }
    uint8_t scratch[4] = {};
    length = 4;
    BTRCALLID(btr::op::Close, pos, scratch, &length, key, 255, 0, nullptr);
    return records;
}

// The definition as Stat reports it, without the free-page figure (each store has its own).
std::array<uint8_t, btr::SpecBufferSize> definitionOf(const std::string& name)
{
    std::array<uint8_t, btr::SpecBufferSize> image {};
    TWinBtr file;
    if (file.Open(name.c_str(), "", 0) == 0)
        file.StatTo(image.data());
    file.Close();
    spec::SpecBuffer b;
    std::copy(image.begin(), image.end(), b.bytes.begin());
    b.setHeaderField(spec::file::UnusedPages, 0);
    const spec::Layout layout = b.readLayout();
    // Only the bytes the definition describes count: header, segments, the collating sequence.
    const int used = layout.hasAcs ? layout.acsOffset() + spec::AcsBlockSize : layout.acsOffset();
    std::fill(b.bytes.begin() + used, b.bytes.end(), 0);
    return b.bytes;
}

// MBMGEPLT.DAT is not among them: its keys are 6-byte unsigned binary, which Create refuses (29).
class LegacyCopy : public DataFileTest, public testing::WithParamInterface<const char*>
{
};

TEST_P(LegacyCopy, OpenCreateCopyMovesEveryRecordInKeyOrder)
{
    REQUIRE_LEGACY_FIXTURES();
    const QString name = QString::fromLatin1(GetParam());
    // A working copy, so that sizing the file for the window may ask for write access.
    const QString fixture = QString::fromStdString(testsupport::fixturePath(GetParam()).string());
    ASSERT_TRUE(QFile::copy(fixture, name));
    QFile::setPermissions(name, QFile::ReadOwner | QFile::WriteOwner);

    open(name);
    ASSERT_TRUE(presenter->messages.isEmpty()) << presenter->messages.join('|').toStdString();
    ASSERT_TRUE(presenter->errors.isEmpty()) << presenter->errors.join('|').toStdString();
    const int keys = window->ENIndex->text().toInt();
    ASSERT_GT(keys, 0);

    createAs(QStringLiteral("COPY.BTR"));
    ASSERT_TRUE(presenter->messages.isEmpty()) << presenter->messages.join('|').toStdString();
    copy(name, QStringLiteral("COPY.BTR"));
    ASSERT_TRUE(presenter->messages.isEmpty()) << presenter->messages.join('|').toStdString();

    const std::string source = name.toStdString();
    EXPECT_EQ(definitionOf("COPY.BTR"), definitionOf(source));
    for (int k = 0; k < keys; ++k) {
        const auto expected = inKeyOrder(source, static_cast<uint8_t>(k));
        if (k == 0) {
            EXPECT_EQ(expected.size(), window->ENRec->text().toULongLong());
        }
        EXPECT_EQ(inKeyOrder("COPY.BTR", static_cast<uint8_t>(k)), expected) << "key " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, LegacyCopy,
    testing::Values("GALTELA.DAT", "VARIABLE.DAT", "MBBSEMU.DAT", "WGSMENU2.DAT", "MULTIACS.DAT",
        "WCCACMS2.DAT"),
    [](const testing::TestParamInfo<const char*>& param) {
        std::string n = param.param;
        return n.substr(0, n.find('.'));
    });

} // namespace
