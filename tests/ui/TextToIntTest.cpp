#include "TextToInt.h"
#include "Errors.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

struct Accepted
{
    const char* text;
    int32_t value;
};

class TextToIntAccepts : public testing::TestWithParam<Accepted>
{
};

TEST_P(TextToIntAccepts, GivesTheValue)
{
    EXPECT_EQ(TextToInt(QString::fromLatin1(GetParam().text)), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Texts, TextToIntAccepts,
    testing::Values(Accepted {"", 0}, Accepted {"0", 0}, Accepted {"17", 17},
        Accepted {"   42", 42}, Accepted {"+5", 5}, Accepted {"-5", -5}, Accepted {"  -12", -12},
        Accepted {"007", 7}, Accepted {"$10", 16}, Accepted {"$ff", 255}, Accepted {"$FF", 255},
        Accepted {"$aBc", 0xABC}, Accepted {"  $41", 65}, Accepted {"2147483647", 2147483647},
        Accepted {"-2147483648", -2147483647 - 1}, Accepted {"$7FFFFFFF", 2147483647},
        Accepted {"$FFFFFFFF", -1}, Accepted {"$80000000", -2147483647 - 1},
        Accepted {"$000000001", 1}, Accepted {"00000000000000000012", 12}));

class TextToIntRejects : public testing::TestWithParam<const char*>
{
};

TEST_P(TextToIntRejects, WithTheConversionMessage)
{
    const QString text = QString::fromLatin1(GetParam());
    try {
        TextToInt(text);
        FAIL() << "accepted " << GetParam();
    } catch (const EConvertError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("'%1' is not a valid integer value").arg(text));
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, TextToIntRejects,
    testing::Values(" ", "   ", "12 ", "1 2", "abc", "12a", "+", "-", "$", "-$10", "+$10", "$ 10",
        "$1G", "2147483648", "-2147483649", "99999999999", "$100000000", "\t5", "5.0", "0x10",
        "--1", "+-1"));

TEST(ErrorBoxText, AppendsADotAfterLettersAndDigitsOnly)
{
    EXPECT_EQ(errorBoxText(QStringLiteral("File not found")), QStringLiteral("File not found."));
    EXPECT_EQ(errorBoxText(QStringLiteral("I/O error 32")), QStringLiteral("I/O error 32."));
    EXPECT_EQ(errorBoxText(QStringLiteral("'x' is not a valid integer value")),
        QStringLiteral("'x' is not a valid integer value."));
    EXPECT_EQ(errorBoxText(QStringLiteral("Done.")), QStringLiteral("Done."));
    EXPECT_EQ(errorBoxText(QStringLiteral("value '")), QStringLiteral("value '"));
    EXPECT_EQ(errorBoxText(QStringLiteral("a-")), QStringLiteral("a-"));
    EXPECT_EQ(errorBoxText(QStringLiteral("a/")), QStringLiteral("a/."));
    EXPECT_EQ(errorBoxText(QString()), QString());
}

TEST(FileErrors, TextsByCode)
{
    const std::pair<int, const char*> table[]
        = {{2, "File not found"}, {3, "Invalid filename"}, {4, "Too many open files"},
            {5, "File access denied"}, {100, "Read beyond end of file"}, {101, "Disk full"},
            {106, "Invalid numeric input"}, {32, "I/O error 32"}, {1, "I/O error 1"}};
    for (const auto& [code, text] : table)
        EXPECT_EQ(fileErrorText(code), QString::fromLatin1(text)) << code;
}

TEST(FileErrors, CodesFromErrno)
{
    const std::pair<int, int> table[] = {{ENOENT, 2}, {ENOTDIR, 3}, {ENAMETOOLONG, 3}, {EINVAL, 3},
        {EMFILE, 4}, {EACCES, 5}, {EPERM, 5}, {EROFS, 5}, {EISDIR, 5}, {ENOSPC, 101}, {EIO, EIO}};
    for (const auto& [err, code] : table)
        EXPECT_EQ(fileErrorCode(err), code) << err;
    EXPECT_EQ(fileErrorCode(ENOENT, Directory::Missing), 3);
    EXPECT_EQ(fileErrorCode(EACCES, Directory::Missing), 5);
    try {
        raiseFileError(EACCES);
        FAIL();
    } catch (const EInOutError& error) {
        EXPECT_EQ(error.errorCode(), 5);
        EXPECT_EQ(error.message(), QStringLiteral("File access denied"));
    }
}

} // namespace
