#include "TestFiles.h"

#include "WinBtr.h"

#include <gtest/gtest.h>

#include <cstring>

namespace testsupport {

void createFile(const std::string& path, const DefinitionImage& definition)
{
    TWinBtr file;
    Bytes image = definition.bytes();
    file.ClearKey(256);
    std::memcpy(file.KeyBuffer, path.c_str(), path.size() + 1);
    file.KeyNumber = 0;
    ASSERT_EQ(file.CallWith(btr::op::Create, image.data(), int(image.size())), 0) << path;
}

void insertRecords(const std::string& path, const std::vector<Bytes>& records)
{
    TWinBtr file;
    ASSERT_EQ(file.Open(path.c_str(), "", 0), 0) << path;
    for (const Bytes& r : records) {
        Bytes copy = r;
        file.SetDataPtr(copy.data());
        file.DataLength = uint16_t(copy.size());
        ASSERT_EQ(file.Insert(), 0) << path;
    }
    ASSERT_EQ(file.Close(), 0);
}

std::vector<Bytes> readRecords(const std::string& path, int key)
{
    std::vector<Bytes> records;
    TWinBtr file;
    if (file.Open(path.c_str(), "", 0) != 0)
        return records;
    file.AllocBuffer(65535);
    file.UseStep = key < 0;
    file.KeyNumber = uint8_t(key < 0 ? 0 : key);
    for (file.GetFirst(); file.Ok(); file.GetNext())
        records.emplace_back(file.Buffer, file.Buffer + file.ReturnedLength);
    EXPECT_EQ(file.GetStatus(), btr::status::EndOfFile) << path;
    file.Close();
    return records;
}

} // namespace testsupport
