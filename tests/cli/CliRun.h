// Running varnok-cli in the test's own process, with its standard streams in memory, and the data
// files the tests give it, made and read back through TWinBtr and the embedded record manager.
#pragma once

#include "ByteVector.h"
#include "DefinitionImage.h"
#include "ScratchDir.h"
#include "TestFiles.h"

#include <cstdint>
#include <string>
#include <vector>

namespace clitest {

using testsupport::Bytes;
using testsupport::DefinitionImage;
using testsupport::ScratchDir;
using testsupport::SegmentEntry;

struct CliResult
{
    int status = -1;
    std::string out;
    std::string err;
};

// Runs `varnok-cli args...` with `input` as standard input; `terminal` makes standard error look
// like a terminal.
CliResult runCli(
    const std::vector<std::string>& args, const std::string& input = {}, bool terminal = false);

using testsupport::createFile;
using testsupport::insertRecords;
using testsupport::readRecords;

// The Stat image the record manager reports for `path` (1920 bytes), empty when it cannot open it.
Bytes statOf(const std::string& path);
// The definition part of a Stat image that a file created from it must report again: everything
// but the live figures (record count, unique values per key, unused pages).
Bytes withoutLiveFigures(const Bytes& stat);

// A record of the two-key layout the tests use: 50 bytes, key 0 a unique 4-byte integer at 1,
// key 1 a 20-byte string at 5 with duplicates, the rest `fill`.
DefinitionImage twoKeyDefinition();
Bytes twoKeyRecord(int32_t id, const std::string& name, uint8_t fill = 0);

// The legacy fixture files every command is tried on, and a test name for each ('_' for '.').
inline const std::vector<const char*> LegacyFixtures {"GALTELA.DAT", "MBBSEMU.DAT", "MBMGEPLT.DAT",
    "MULTIACS.DAT", "VARIABLE.DAT", "WCCACMS2.DAT", "WGSMENU2.DAT", "BBSGEN.VIR"};
std::string fixtureTestName(const char* file);

std::string fileText(const std::string& path);
void writeText(const std::string& path, const std::string& text);

} // namespace clitest
