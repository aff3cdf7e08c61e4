// The program itself, as a shell runs it: its exit statuses, and results and errors on their own
// streams.
#include "CliRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
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

// The long options `varnok-cli COMMAND --help` lists, but --help itself.
std::vector<std::string> listedOptions(const std::string& command)
{
    const CliResult r = runCli({command, "--help"});
    std::vector<std::string> options;
    const size_t at = r.out.find("\nOptions:\n");
    for (size_t line = at == std::string::npos ? r.out.size() : at + 10; line < r.out.size();) {
        const size_t end = std::min(r.out.find('\n', line), r.out.size());
        const std::string text = r.out.substr(line, end - line);
        line = end + 1;
        if (text.rfind("  -", 0) != 0)
            continue;
        const std::string names = text.substr(2, text.find(' ', 2) - 2);
        const size_t dashes = names.find("--");
        if (dashes != std::string::npos && names.substr(dashes) != "--help")
            options.push_back(names.substr(dashes));
    }
    return options;
}

// Whether `text` names option `o` (and not only a longer option that begins with it).
bool names(const std::string& text, const std::string& o)
{
    for (size_t at = text.find(o); at != std::string::npos; at = text.find(o, at + 1)) {
        const size_t after = at + o.size();
        if (after == text.size() || (text[after] != '-' && !std::isalnum(text[after])))
            return true;
    }
    return false;
}

TEST(Program, TheManualAndTheCompletionKnowEveryOption)
{
    const std::string manual = fileText(VARNOK_MANUAL_SOURCE);
    const std::string completion = fileText(VARNOK_COMPLETION_SOURCE);
    for (const std::string& c : listedCommands()) {
        const size_t section = manual.find("\n## " + c + " ");
        // The section runs to the next top-level heading or another command's (a command may
        // have two synopsis lines).
        size_t next = manual.find("\n## ", section + 1);
        while (
            next != std::string::npos && manual.compare(next, c.size() + 5, "\n## " + c + " ") == 0)
            next = manual.find("\n## ", next + 1);
        const size_t sectionEnd = std::min({manual.find("\n# ", section + 1), next, manual.size()});
        const size_t cases = completion.find("        " + c + ")");
        ASSERT_NE(section, std::string::npos) << c;
        ASSERT_NE(cases, std::string::npos) << c;
        // A command's completion runs to the next command's case or the end of the cases.
        const std::string completed
            = completion.substr(cases, completion.find(";;\n        ", cases) - cases);
        for (const std::string& o : listedOptions(c)) {
            EXPECT_TRUE(names(manual.substr(section, sectionEnd - section), o))
                << c << " " << o << " is not in the manual";
            EXPECT_TRUE(names(completed, o)) << c << " " << o << " is not completed";
        }
    }
}

} // namespace
