// The program itself, as a shell runs it: its exit statuses, and results and errors on their own
// streams.
#include "CliRun.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>

using namespace clitest;

namespace {

struct Ran
{
    int status = -1;
    std::string out;
    std::string err;
};

Ran runProgram(const ScratchDir& dir, const std::string& arguments)
{
    const std::string command = std::string("'") + VARNOK_CLI + "' " + arguments + " >'"
        + dir.file("out") + "' 2>'" + dir.file("err") + "' </dev/null";
    const int raw = std::system(command.c_str());
    Ran ran;
    ran.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    ran.out = fileText(dir.file("out"));
    ran.err = fileText(dir.file("err"));
    return ran;
}

TEST(Program, ExitStatusesAndStreams)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    insertRecords(dir.file("A.BTR"), {twoKeyRecord(1, "ONE")});

    Ran r = runProgram(dir, "stat '" + dir.file("A.BTR") + "'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(dir.file("A.BTR") + "\n", 0), 0U) << r.out;
    EXPECT_EQ(r.err, "");

    r = runProgram(dir, "stat '" + dir.file("NONE.BTR") + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
        "varnok-cli: Cannot open " + dir.file("NONE.BTR") + ": file not found (status 12).\n");

    r = runProgram(dir, "frobnicate");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("frobnicate"), std::string::npos) << r.err;

    r = runProgram(dir, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Usage: varnok-cli"), std::string::npos) << r.out;

    // Saved to a pipe, not a terminal: the records and nothing else.
    r = runProgram(dir, "save '" + dir.file("A.BTR") + "'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.size(), 3 + 50 + 2 + 1U);
    EXPECT_EQ(r.err, "");
}

} // namespace
