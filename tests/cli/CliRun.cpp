#include "CliRun.h"

#include "Cli.h"
#include "MemoryStream.h"
#include "SpecBuffer.h"
#include "WinBtr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace clitest {

CliResult runCli(const std::vector<std::string>& args, const std::string& input, bool terminal)
{
    std::vector<const char*> argv {"varnok-cli"};
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    testsupport::MemoryStream out;
    testsupport::MemoryStream err;
    std::string inputBytes = input;
    std::FILE* in = inputBytes.empty() ? std::fopen("/dev/null", "rb")
                                       : fmemopen(inputBytes.data(), inputBytes.size(), "rb");
    cli::Io io {in, out.stream(), err.stream(), terminal};
    CliResult result;
    result.status = cli::run(int(argv.size() - 1), argv.data(), io);
    std::fclose(in);
    result.out = out.text();
    result.err = err.text();
    return result;
}

Bytes statOf(const std::string& path)
{
    TWinBtr file;
    if (file.Open(path.c_str(), "", 0) != 0)
        return {};
    Bytes image(btr::SpecBufferSize);
    file.StatTo(image.data());
    file.Close();
    return image;
}

Bytes withoutLiveFigures(const Bytes& stat)
{
    spec::SpecBuffer b;
    std::copy(stat.begin(), stat.end(), b.bytes.begin());
    const spec::Layout layout = b.readLayout();
    b.setHeaderField(spec::file::NumRecords, 0);
    b.setHeaderField(spec::file::UnusedPages, 0);
    for (int k = 0; k < layout.entryCount; ++k)
        b.setSegmentField(k, spec::segment::NumKeyValues, 0);
    return Bytes(b.bytes.begin(), b.bytes.end());
}

DefinitionImage twoKeyDefinition()
{
    DefinitionImage d;
    d.recordLength = 50;
    d.pageSize = 1024;
    d.addKey({SegmentEntry {1, 4, 0x0100, 0, btr::exttype::Integer}});
    d.addKey({SegmentEntry {5, 20, 0x0101, 0, btr::exttype::String}});
    return d;
}

Bytes twoKeyRecord(int32_t id, const std::string& name, uint8_t fill)
{
    Bytes r(50, fill);
    testsupport::put32(r, 0, uint32_t(id));
    std::fill(r.begin() + 4, r.begin() + 24, ' ');
    std::copy(name.begin(), name.end(), r.begin() + 4);
    return r;
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string fixtureTestName(const char* file)
{
    std::string name = file;
    std::replace(name.begin(), name.end(), '.', '_');
    return name;
}

} // namespace clitest
