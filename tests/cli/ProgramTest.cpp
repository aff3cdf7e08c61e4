// The program itself, as a shell runs it: its exit statuses, and results and errors on their own
// streams.
#include "CliRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>
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

namespace {

// The commands `varnok-cli --help` lists.
std::vector<std::string> listedCommands()
{
    const CliResult r = runCli({"--help"});
    std::vector<std::string> commands;
    const size_t at = r.out.find("Subcommands:\n");
    size_t line = at == std::string::npos ? r.out.size() : at + 13;
    while (line < r.out.size() && r.out.compare(line, 2, "  ") == 0) {
        const size_t start = r.out.find_first_not_of(' ', line);
        commands.push_back(r.out.substr(start, r.out.find(' ', start) - start));
        line = r.out.find('\n', line) + 1;
    }
    return commands;
}

TEST(Program, TheManualAndTheCompletionKnowEveryCommand)
{
    const std::vector<std::string> commands = listedCommands();
    ASSERT_GE(commands.size(), 5U);
    const std::string manual = fileText(VARNOK_MANUAL_SOURCE);
    const std::string completion = fileText(VARNOK_COMPLETION_SOURCE);
    const size_t listAt = completion.find("local commands=\"");
    ASSERT_NE(listAt, std::string::npos);
    std::string list(" "); // appended to: GCC 12 at -O3 reports a false -Wrestrict on " " + ...
    list.append(completion, listAt + 16, completion.find('"', listAt + 16) - listAt - 16);
    list.append(" ");
    for (const std::string& c : commands) {
        EXPECT_NE(manual.find("\n## " + c + " "), std::string::npos) << c << " has no section";
        EXPECT_NE(list.find(" " + c + " "), std::string::npos) << c << " is not completed";
        EXPECT_NE(completion.find("        " + c + ")"), std::string::npos)
            << c << "'s options are not completed";
    }
}

// The options `varnok-cli COMMAND --help` lists, short and long, but --help's own.
std::vector<std::string> listedOptions(const std::string& command)
{
    const CliResult r = runCli({command, "--help"});
    std::vector<std::string> options;
    const size_t at = r.out.find("Options:\n");
    if (at == std::string::npos)
        return options;
    std::istringstream lines(r.out.substr(at));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  -", 0) != 0)
            continue;
        std::istringstream names(line.substr(2, line.find(' ', 2) - 2));
        for (std::string name; std::getline(names, name, ',');) {
            if (name != "-h" && name != "--help")
                options.push_back(name);
        }
    }
    return options;
}

// Each command's options, as its --help lists them, are completed and described in its section of
// the manual.
TEST(Program, TheManualAndTheCompletionKnowEveryOption)
{
    const std::string manual = fileText(VARNOK_MANUAL_SOURCE);
    const std::string completion = fileText(VARNOK_COMPLETION_SOURCE);
    for (const std::string& c : listedCommands()) {
        const size_t block = completion.find("        " + c + ")");
        ASSERT_NE(block, std::string::npos) << c;
        const size_t listAt = completion.find("options=\"", block);
        // Appended: GCC 12 at -O3 reports a false -Wrestrict on " " + ...
        std::string completed(" ");
        completed.append(completion, listAt + 9, completion.find('"', listAt + 9) - listAt - 9);
        completed.append(" ");
        const size_t sectionAt = manual.find("\n## " + c + " ");
        ASSERT_NE(sectionAt, std::string::npos) << c;
        size_t sectionEnd = manual.find("\n# ", sectionAt + 1);
        for (size_t next = sectionAt + 1;
             (next = manual.find("\n## ", next)) != std::string::npos && next < sectionEnd;
             ++next) {
            if (manual.compare(next + 4, c.size() + 1, c + " ") != 0) {
                sectionEnd = next;
                break;
            }
        }
        const std::string section = manual.substr(sectionAt, sectionEnd - sectionAt);
        for (const std::string& option : listedOptions(c)) {
            EXPECT_NE(completed.find(" " + option + " "), std::string::npos)
                << c << " " << option << " is not completed";
            EXPECT_NE(section.find(option), std::string::npos)
                << c << " " << option << " is not in the manual";
        }
    }
}

// Every command whose --help offers --owner has it in its manual section and its completion.
TEST(Program, TheManualAndTheCompletionKnowTheOwnerOption)
{
    const std::string manual = fileText(VARNOK_MANUAL_SOURCE);
    const std::string completion = fileText(VARNOK_COMPLETION_SOURCE);
    size_t offered = 0;
    for (const std::string& c : listedCommands()) {
        const CliResult help = runCli({c, "--help"});
        if (help.out.find("--owner") == std::string::npos)
            continue;
        ++offered;
        const size_t section = manual.find("\n## " + c + " ");
        ASSERT_NE(section, std::string::npos) << c;
        // The section runs to the next heading of another command (copy and recover have two).
        size_t next = section;
        do
            next = manual.find("\n## ", next + 1);
        while (next != std::string::npos
            && manual.compare(next, c.size() + 5, "\n## " + c + " ") == 0);
        const size_t option = manual.find("*--owner* _NAME_", section);
        EXPECT_LT(option, next == std::string::npos ? manual.size() : next) << c;
        const size_t branch = completion.find("        " + c + ")");
        ASSERT_NE(branch, std::string::npos) << c;
        const size_t end = completion.find(";;", branch);
        EXPECT_NE(completion.substr(branch, end - branch).find("--owner"), std::string::npos)
            << c << "'s completion leaves out --owner";
    }
    EXPECT_EQ(offered, 7u) << "stat, copy, save, recover, fields, export and convert";
}

} // namespace
