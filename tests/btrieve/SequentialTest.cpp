// The sequential format, byte for byte: what the writer produces and what the reader accepts,
// refuses (with the record's number and offset) and never misreads.
#include "Sequential.h"
#include "MemoryStream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using sequential::Reader;
using sequential::Writer;

using MemoryOut = testsupport::MemoryStream;

// The records a reader finds in `bytes`, and how it ended.
struct ReadBack
{
    std::vector<std::string> records;
    Reader::Result end = Reader::End;
    std::string error;
};

ReadBack readAll(const std::string& bytes)
{
    ReadBack back;
    // fmemopen refuses a zero-length buffer: an empty file is a stream at its end.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(bytes.empty()
            ? std::fopen("/dev/null", "rb")
            : fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb"),
        &std::fclose);
    Reader reader(in.get());
    for (;;) {
        const Reader::Result r = reader.next();
        if (r != Reader::Record) {
            back.end = r;
            back.error = reader.error();
            return back;
        }
        back.records.emplace_back(reinterpret_cast<const char*>(reader.data()), reader.length());
    }
}

// A test name from a description: letters and digits kept, the rest '_'.
std::string testName(const char* what)
{
    std::string name;
    for (const char* c = what; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

const std::string Binary("\r\n\x1A\0,9\r", 7);

TEST(SequentialWriter, WritesLengthCommaBytesCrLfAndEndsWithCtrlZ)
{
    MemoryOut out;
    Writer writer(out.stream());
    ASSERT_TRUE(writer.write(reinterpret_cast<const uint8_t*>("ABCD"), 4));
    ASSERT_TRUE(writer.write(reinterpret_cast<const uint8_t*>(Binary.data()), 7));
    const std::string longRecord(12345, 'x');
    ASSERT_TRUE(writer.write(reinterpret_cast<const uint8_t*>(longRecord.data()), 12345));
    ASSERT_TRUE(writer.finish());
    EXPECT_EQ(writer.records(), 3U);
    EXPECT_EQ(out.text(), "4,ABCD\r\n7," + Binary + "\r\n12345," + longRecord + "\r\n\x1A");
}

TEST(SequentialReader, ReadsBackWhatTheWriterWrote)
{
    MemoryOut out;
    Writer writer(out.stream());
    std::vector<std::string> records {"A", Binary, std::string(65535, '\x1A'), ""};
    for (const std::string& r : records)
        writer.write(reinterpret_cast<const uint8_t*>(r.data()), uint16_t(r.size()));
    writer.finish();
    const ReadBack back = readAll(out.text());
    EXPECT_EQ(back.end, Reader::End) << back.error;
    EXPECT_EQ(back.records, records);
}

struct Accepted
{
    const char* what;
    std::string bytes;
    std::vector<std::string> records;
};

class SequentialAccepts : public testing::TestWithParam<Accepted>
{
};

TEST_P(SequentialAccepts, Reads)
{
    const ReadBack back = readAll(GetParam().bytes);
    EXPECT_EQ(back.end, Reader::End) << back.error;
    EXPECT_EQ(back.records, GetParam().records);
}

INSTANTIATE_TEST_SUITE_P(Forms, SequentialAccepts,
    testing::Values(Accepted {"empty", "", {}}, Accepted {"only the end mark", "\x1A", {}},
        Accepted {"without the end mark", "2,ab\r\n3,cde\r\n", {"ab", "cde"}},
        Accepted {"a blank for the comma", "2 ab\r\n", {"ab"}},
        Accepted {"a line feed alone", "2,ab\n1,c\n", {"ab", "c"}},
        Accepted {"leading zeros", "002,ab\r\n", {"ab"}},
        Accepted {"bytes after the end mark", "1,a\r\n\x1A\x1A garbage", {"a"}},
        Accepted {"the end mark inside a record", "3,\x1A\r\n\r\n", {"\x1A\r\n"}}),
    [](const auto& param) { return testName(param.param.what); });

struct Refused
{
    const char* what;
    std::string bytes;
    size_t goodRecords;
    const char* error; // the reader's message, record number and offset included
};

class SequentialRefuses : public testing::TestWithParam<Refused>
{
};

TEST_P(SequentialRefuses, AtTheFirstBadRecordWithItsNumberAndOffset)
{
    const ReadBack back = readAll(GetParam().bytes);
    EXPECT_EQ(back.end, Reader::Malformed);
    EXPECT_EQ(back.records.size(), GetParam().goodRecords);
    EXPECT_EQ(back.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Damage, SequentialRefuses,
    testing::Values(Refused {"cut in the length", "2,ab\r\n1", 1,
                        "record 2 at byte 6: the file ends after the record's length"},
        Refused {"cut after the comma", "2,ab\r\n10,", 1,
            "record 2 at byte 6: the file ends after 0 of the record's 10 bytes"},
        Refused {"cut inside the record", "2,ab\r\n10,abc", 1,
            "record 2 at byte 6: the file ends after 3 of the record's 10 bytes"},
        Refused {"cut before the line end", "2,ab", 0,
            "record 1 at byte 0: CR LF should follow the record's 2 bytes"},
        Refused {"record longer than its length", "2,abc\r\n", 0,
            "record 1 at byte 0: CR LF should follow the record's 2 bytes"},
        Refused {"no length", ",ab\r\n", 0,
            "record 1 at byte 0: a record's length should begin here, in decimal digits"},
        Refused {"a sign", "-2,ab\r\n", 0,
            "record 1 at byte 0: a record's length should begin here, in decimal digits"},
        Refused {"a letter after the digits", "2x,ab\r\n", 0,
            "record 1 at byte 0: a comma should follow the record's length"},
        Refused {"six digits", "000002,ab\r\n", 0,
            "record 1 at byte 0: the record's length has more than 5 digits"},
        Refused {"beyond 65535", "65536,", 0,
            "record 1 at byte 0: the record's length 65536 is more than 65535 bytes"},
        Refused {"a stray line end between records", "1,a\r\n\r\n1,b\r\n", 1,
            "record 2 at byte 5: a record's length should begin here, in decimal digits"}),
    [](const auto& param) { return testName(param.param.what); });

TEST(SequentialReader, AReadErrorIsNotTakenForTheEnd)
{
    // A directory opens as a stream on Linux, but every read of it fails.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen("/", "rb"), &std::fclose);
    ASSERT_TRUE(in);
    Reader reader(in.get());
    EXPECT_EQ(reader.next(), Reader::ReadFailed);
    EXPECT_NE(reader.error().find("record 1 at byte 0"), std::string::npos) << reader.error();
}

TEST(SequentialWriter, AFullDiskIsReportedNotSwallowed)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> full(
        std::fopen("/dev/full", "wb"), &std::fclose);
    ASSERT_TRUE(full);
    std::setvbuf(full.get(), nullptr, _IONBF, 0);
    Writer writer(full.get());
    EXPECT_FALSE(writer.write(reinterpret_cast<const uint8_t*>("abc"), 3));
    EXPECT_FALSE(writer.finish());
}

} // namespace
