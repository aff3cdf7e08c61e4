// The code-page guess: how often it reads texts back as written, and what it costs.
//
//   1. every sample text (tests/support/CodePageTexts) in every candidate code page that holds it,
//      guessed alone: right when it reads back as written (the code page itself or one that reads
//      it the same), by code page and length: a short text (a name, a place), the same in
//      capitals, three short texts together (one record's fields), a paragraph;
//   2. the guess over a full sample (64 KB of words outside ASCII), and the decoding of a million
//      20-byte values through the decoder's table against iconv value by value;
//   3. export of N records (default 1000000) of CP866 text (a legacy 6.0 file written for the run)
//      with the code page guessed against named: what sampling the first records costs.
//
//   varnok_codepage_bench [N]
#include "BenchFile.h"
#include "CodePage.h"
#include "CodePageTexts.h"
#include "TextDecoder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iconv.h>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using bench::Clock;
using bench::secondsSince;

std::string guessOf(const std::vector<uint8_t>& bytes)
{
    fields::TextSample sample;
    sample.addText(bytes.data(), bytes.size());
    return fields::guessCodePage(sample).encoding;
}

std::string readAs(const std::vector<uint8_t>& bytes, const std::string& encoding)
{
    fields::TextDecoder decoder(encoding);
    std::string out;
    decoder.append(bytes.data(), bytes.size(), out);
    return out;
}

// The text in capitals, as DOS programs kept much of theirs.
std::string capitals(const std::string& text)
{
    static const std::map<uint32_t, uint32_t> capitalOf = [] {
        std::map<uint32_t, uint32_t> m;
        for (uint32_t c = 0x41; c < 0x530; ++c) {
            if (fields::lowerLetter(c) != c && c != 0x130)
                m.emplace(fields::lowerLetter(c), c);
        }
        return m;
    }();
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const size_t length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        uint32_t c = length == 1 ? b : b & (0x7F >> length);
        for (size_t k = 1; k < length; ++k)
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        const auto found = capitalOf.find(c);
        fields::appendCodePoint(found == capitalOf.end() ? c : found->second, out);
        i += length;
    }
    return out;
}

void accuracy()
{
    struct Tally
    {
        int right = 0;
        int total = 0;
    };
    const char* lengths[] = {"short", "capitals", "record", "long"};
    std::map<std::string, std::array<Tally, 4>> tallies;
    for (const std::string& page : fields::guessedCodePages()) {
        for (const testsupport::LanguageSamples& l : testsupport::codePageSamples()) {
            std::vector<std::pair<std::string, int>> texts;
            for (size_t i = 0; i < l.shortTexts.size(); ++i) {
                texts.emplace_back(l.shortTexts[i], 0);
                texts.emplace_back(capitals(l.shortTexts[i]), 1);
                if (i + 2 < l.shortTexts.size() && i % 3 == 0)
                    texts.emplace_back(
                        l.shortTexts[i] + " " + l.shortTexts[i + 1] + " " + l.shortTexts[i + 2], 2);
            }
            texts.emplace_back(l.longText, 3);
            for (const auto& [text, length] : texts) {
                std::vector<uint8_t> bytes;
                if (!testsupport::encodeText(text, page, bytes))
                    continue;
                Tally& t = tallies[page][size_t(length)];
                ++t.total;
                t.right += readAs(bytes, guessOf(bytes)) == text ? 1 : 0;
            }
        }
    }
    std::printf("texts read back as written (right/all), by the code page they were written in:\n"
                "%-9s",
        "");
    for (const char* l : lengths)
        std::printf("  %10s", l);
    std::printf("\n");
    for (const std::string& page : fields::guessedCodePages()) {
        std::printf("%-9s", page.c_str());
        for (const Tally& t : tallies[page]) {
            char cell[32];
            std::snprintf(cell, sizeof cell, "%d/%d", t.right, t.total);
            std::printf("  %10s", cell);
        }
        std::printf("\n");
    }
}

void speed()
{
    // A full sample: the Russian and Czech paragraphs, over and over, in their code pages.
    std::vector<uint8_t> russian;
    std::vector<uint8_t> czech;
    for (const testsupport::LanguageSamples& l : testsupport::codePageSamples()) {
        if (std::string(l.language) == "Russian")
            testsupport::encodeText(l.longText, "CP866", russian);
        if (std::string(l.language) == "Czech")
            testsupport::encodeText(l.longText, "CP1250", czech);
    }
    for (const auto& [name, text] :
        {std::pair {"CP866 Russian", &russian}, std::pair {"CP1250 Czech", &czech}}) {
        fields::TextSample sample;
        while (!sample.full())
            sample.addText(text->data(), text->size());
        const int rounds = 20;
        std::string guess;
        const auto start = Clock::now();
        for (int i = 0; i < rounds; ++i)
            guess = fields::guessCodePage(sample).encoding;
        const double seconds = secondsSince(start) / rounds;
        std::printf("guess over a full sample of %s (%zu bytes of words): %s in %.2f ms\n", name,
            sample.words().size(), guess.c_str(), seconds * 1000);
    }

    // A million 20-byte values of CP866 text.
    const size_t values = 1000000;
    std::vector<uint8_t> value(russian.begin(), russian.begin() + 20);
    fields::TextDecoder table("CP866");
    std::string out;
    size_t bytes = 0;
    auto start = Clock::now();
    for (size_t i = 0; i < values; ++i) {
        out.clear();
        table.append(value.data(), value.size(), out);
        bytes += out.size();
    }
    const double tableSeconds = secondsSince(start);
    const iconv_t cd = iconv_open("UTF-8", "CP866");
    start = Clock::now();
    for (size_t i = 0; i < values; ++i) {
        out.resize(value.size() * 4);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* in = reinterpret_cast<char*>(value.data());
        size_t inLeft = value.size();
        char* to = out.data();
        size_t toLeft = out.size();
        iconv(cd, &in, &inLeft, &to, &toLeft);
        bytes += out.size() - toLeft;
    }
    const double iconvSeconds = secondsSince(start);
    iconv_close(cd);
    std::printf("a million 20-byte CP866 values to UTF-8: through the table %.3f s, iconv value by "
                "value %.3f s (%.1f times the table) [%zu bytes]\n",
        tableSeconds, iconvSeconds, iconvSeconds / tableSeconds, bytes);
}

double runCli(const std::vector<std::string>& args)
{
    std::vector<char*> argv {const_cast<char*>(VARNOK_CLI), const_cast<char*>("--quiet")};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const auto start = Clock::now();
    const int spawned = posix_spawn(&child, VARNOK_CLI, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? secondsSince(start) : -1;
}

// Record i: an 8-byte id, a 24-byte name and a 24-byte city of CP866 text, a 4-byte amount.
legacytest::LegacyFileSpec cyrillicFile(uint32_t n)
{
    std::vector<std::vector<uint8_t>> names;
    for (const char* text : {"Иванов Пётр Сергеевич", "Сидорова Анна", "ООО Ромашка",
             "Кузнецов Илья", "Екатеринбург", "Москва", "Новосибирск", "Нижний Новгород"}) {
        std::vector<uint8_t> bytes;
        testsupport::encodeText(text, "CP866", bytes);
        bytes.resize(24, ' ');
        names.push_back(bytes);
    }
    legacytest::LegacyFileSpec spec;
    spec.version = legacytest::Version60;
    spec.definition.pageSize = 4096;
    spec.definition.recordLength = 60;
    recman::Key key;
    key.segments.push_back({1, 8, 0x0100, n, 1, 0, 0, 0, 0});
    spec.definition.keys.push_back(key);
    spec.records = n;
    spec.rule = [names](uint32_t i, std::vector<uint8_t>& r) {
        r.assign(60, 0);
        for (int b = 0; b < 8; ++b)
            r[size_t(b)] = uint8_t(uint64_t(i) >> (8 * b));
        std::copy(names[i % 4].begin(), names[i % 4].end(), r.begin() + 8);
        std::copy(names[4 + i % 4].begin(), names[4 + i % 4].end(), r.begin() + 32);
        r[56] = uint8_t(i);
    };
    return spec;
}

bool exportCost(const std::filesystem::path& dir, uint32_t n)
{
    const std::string file = (dir / "KLIENT.DAT").string();
    legacytest::writeLegacyFile(file, cyrillicFile(n));
    const std::string csv = (dir / "out.csv").string();
    double guessed = 1e30;
    double named = 1e30;
    for (int round = 0; round < 2; ++round) {
        const double g = runCli({"export", file, "--output", csv});
        const double k = runCli({"export", file, "--output", csv, "--encoding", "CP866"});
        if (g < 0 || k < 0)
            return false;
        std::printf("round %d: export of %u records of CP866 text, code page guessed %.2f s, "
                    "named %.2f s\n",
            round + 1, n, g, k);
        guessed = std::min(guessed, g);
        named = std::min(named, k);
    }
    std::printf("export: guessed %.2f s = %.0f records/s, named %.2f s; the guess costs %.3f s "
                "(%.1f%%)\n",
        guessed, n / guessed, named, guessed - named, 100 * (guessed - named) / named);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const uint32_t n = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    accuracy();
    speed();
    try {
        bench::ScratchDirectory dir("varnok-codepage-bench");
        return exportCost(dir.path(), n) ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
