// The records window on a large file, offscreen: open to the first rows painted (the layout
// inferred from a sample of the records, as on a file without a dictionary), a jump to the middle
// and to the end (the scroll bar dragged there), and a key value found, each painted; and the
// peak memory of the process that did it, at two sizes so that it can be seen to stay flat.
//
//   varnok_records_bench [N] [DIR]
//
// For N (default 1000000) and N / 10 records: a 6.0 file and a compressed 6.0 file written by the
// tests' synthetic writer (100-byte records, key 0 an 8-byte integer without duplicates in
// scrambled order, key 1 a 20-byte string of 5000 values with duplicates), and our own file
// with the same records copied in. Each is opened by a child process of its own, so that each
// peak memory figure is that file's alone. DIR defaults to a fresh directory under the system's
// temporary directory, removed afterwards.
#include "BenchFile.h"
#include "CopyRecords.h"
#include "RecordModel.h"
#include "RecordsWindow.h"
#include "WinBtr.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QComboBox>
#include <QScrollBar>
#include <QTableView>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

namespace {

using bench::Clock;
using bench::secondsSince;

// Paints the window as the screen would show it.
void paint(records::RecordsWindow& window)
{
    QApplication::processEvents();
    QImage image(window.size(), QImage::Format_ARGB32);
    QPainter painter(&image);
    window.render(&painter);
}

// In the child: open, paint, jump, find; prints the times in ms and the records read.
int measure(const char* path)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "varnok_records_bench";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    records::RecordsWindow window;
    window.resize(1280, 800);
    window.show();
    auto start = Clock::now();
    if (!window.openFile(QString::fromLocal8Bit(path)))
        return 1;
    paint(window);
    const double open = secondsSince(start) * 1000;
    auto* table = window.findChild<QTableView*>(QStringLiteral("recordsTable"));
    records::RecordModel* model = window.model();
    const int rows = model->rowCount();

    start = Clock::now();
    table->verticalScrollBar()->setValue(table->verticalScrollBar()->maximum() / 2);
    paint(window);
    const double middle = secondsSince(start) * 1000;

    start = Clock::now();
    table->verticalScrollBar()->setValue(table->verticalScrollBar()->maximum());
    paint(window);
    const double end = secondsSince(start) * 1000;

    auto* keys = window.findChild<QComboBox*>(QStringLiteral("findKeyCombo"));
    keys->setCurrentIndex(0);
    window.findChild<QLineEdit*>(QStringLiteral("findEdit"))->setText(QString::number(rows / 3));
    start = Clock::now();
    window.findChild<QPushButton*>(QStringLiteral("findButton"))->click();
    paint(window);
    const double find = secondsSince(start) * 1000;
    const bool found = table->currentIndex().row() == rows / 3;
    std::printf("%d %.1f %.1f %.1f %.1f %llu %d\n", rows, open, middle, end, find,
        static_cast<unsigned long long>(model->reads()), found ? 1 : 0);
    return 0;
}

struct Reading
{
    bool ok = false;
    int rows = 0;
    double open = 0, middle = 0, end = 0, find = 0, peakMiB = 0;
    unsigned long long reads = 0;
    int found = 0;
};

Reading runChild(const std::string& self, const std::string& path)
{
    Reading r;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return r;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeFds[1], 1);
        ::close(pipeFds[0]);
        ::execl(self.c_str(), self.c_str(), "--measure", path.c_str(), nullptr);
        std::_Exit(127);
    }
    ::close(pipeFds[1]);
    char out[256] = {};
    size_t got = 0;
    for (ssize_t n; got < sizeof out - 1 && (n = ::read(pipeFds[0], out + got, sizeof out - 1 - got)) > 0;)
        got += size_t(n);
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage {};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status)
        || WEXITSTATUS(status) != 0)
        return r;
    r.ok = std::sscanf(out, "%d %lf %lf %lf %lf %llu %d", &r.rows, &r.open, &r.middle, &r.end,
               &r.find, &r.reads, &r.found)
        == 7;
    r.peakMiB = double(usage.ru_maxrss) / 1024.0;
    return r;
}

bool makeOwnCopy(const std::string& legacy, const std::string& ours)
{
    TWinBtr source, destination;
    if (source.Open(legacy.c_str(), "", 0) != btr::status::Success)
        return false;
    uint8_t spec[btr::SpecBufferSize] = {};
    source.StatTo(spec);
    destination.ClearKey(255);
    std::strncpy(reinterpret_cast<char*>(destination.KeyBuffer), ours.c_str(), 254);
    if (destination.CallWith(btr::op::Create, spec, sizeof spec) != btr::status::Success)
        return false;
    if (destination.Open(ours.c_str(), "", 0) != btr::status::Success)
        return false;
    const CopyOutcome copied = copyRecords(source, destination, {});
    source.Close();
    destination.Close();
    return !copied.failed();
}

int run(const std::string& self, const std::filesystem::path& dir, uint32_t n)
{
    std::printf("%-14s %9s %10s %10s %10s %10s %9s %9s\n", "file", "records", "open ms",
        "middle ms", "end ms", "find ms", "reads", "peak MiB");
    bool ok = true;
    for (uint32_t records : {n / 10, n}) {
        const std::string plain = (dir / "PLAIN.DAT").string();
        const std::string packed = (dir / "PACKED.DAT").string();
        const std::string ours = (dir / "OURS.BTR").string();
        legacytest::writeLegacyFile(plain, bench::benchFileSpec(records));
        legacytest::LegacyFileSpec spec = bench::benchFileSpec(records);
        spec.definition.fileFlags |= recman::fileflag::Compressed;
        legacytest::writeLegacyFile(packed, spec);
        std::filesystem::remove(ours);
        if (!makeOwnCopy(plain, ours)) {
            std::printf("cannot make our own file of %u records\n", records);
            return 1;
        }
        const std::pair<const char*, std::string> files[]
            = {{"own", ours}, {"6.0", plain}, {"6.0 compressed", packed}};
        for (const auto& [label, path] : files) {
            const Reading r = runChild(self, path);
            if (!r.ok) {
                std::printf("%-14s %9u  cannot be shown\n", label, records);
                ok = false;
                continue;
            }
            std::printf("%-14s %9d %10.1f %10.1f %10.1f %10.1f %9llu %9.1f%s\n", label, r.rows,
                r.open, r.middle, r.end, r.find, r.reads, r.peakMiB,
                r.found ? "" : "  (find missed its row)");
        }
        for (const std::string& path : {plain, packed, ours})
            std::filesystem::remove(path);
    }
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--measure")
        return measure(argv[2]);
    const uint32_t n = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    try {
        std::optional<bench::ScratchDirectory> scratch;
        std::filesystem::path dir;
        if (argc > 2) {
            dir = argv[2];
        } else {
            scratch.emplace("varnok-records-bench");
            dir = scratch->path();
        }
        const std::string self = std::filesystem::canonical("/proc/self/exe").string();
        return run(self, dir, std::max(n, 20u));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "varnok_records_bench: %s\n", e.what());
        return 1;
    }
}
