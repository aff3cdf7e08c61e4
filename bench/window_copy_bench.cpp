// The window's Copy command against the same copy made directly through TWinBtr.
//
//   varnok_window_copy_bench [records]     (default 1000000)
//
// Builds a source file of 100-byte records (key 0: 8-byte integer, unique; key 1: 20-byte
// string with duplicates), copies it into a fresh file of the same definition once through
// TWinBtr (the copy loop without a window) and once by pressing Copy in the window on
// the offscreen platform, and prints records per second for both, their ratio, and what the
// progress bar's per-record update costs on its own.
#include "Unit1.h"

#include "BtrCall.h"
#include "CopyRecords.h"
#include "SpecBuffer.h"
#include "WinBtr.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int RecordLength = 100;

spec::SpecBuffer definition()
{
    spec::SpecBuffer b;
    b.setHeaderField(spec::file::RecordLength, RecordLength);
    b.setHeaderField(spec::file::PageSize, 4096);
    b.setHeaderField(spec::file::NumIndexes, 2);
    b.setSegmentField(0, spec::segment::Position, 1);
    b.setSegmentField(0, spec::segment::Length, 8);
    b.setSegmentField(0, spec::segment::KeyFlags, spec::keyflag::ExtendedType);
    b.setSegmentField(0, spec::segment::ExtendedType, spec::exttype::Integer);
    b.setSegmentField(1, spec::segment::Position, 9);
    b.setSegmentField(1, spec::segment::Length, 20);
    b.setSegmentField(1, spec::segment::KeyFlags, spec::keyflag::Duplicates);
    return b;
}

bool create(const std::string& name)
{
    spec::SpecBuffer b = definition();
    uint8_t pos[btr::PositionBlockSize] = {};
    char key[btr::KeyBufferSize] = {};
    std::strncpy(key, name.c_str(), sizeof key - 1);
    uint16_t length = spec::BufferSize;
    return BTRCALLID(btr::op::Create, pos, b.data(), &length, key, 255, 0, nullptr) == 0;
}

bool fillSource(const std::string& name, long records)
{
    if (!create(name))
        return false;
    TWinBtr file;
    if (file.Open(name.c_str(), "", 0) != 0)
        return false;
    for (long i = 0; i < records; ++i) {
        // Ids in a scrambled order, so that key order differs from insertion order.
        const uint64_t id
            = (static_cast<uint64_t>(i) * 2654435761u) % static_cast<uint64_t>(records);
        std::memset(file.Buffer, 'x', RecordLength);
        std::memcpy(file.Buffer, &id, sizeof id);
        std::snprintf(reinterpret_cast<char*>(file.Buffer) + 8, 21, "name %-14lu", id % 1000);
        if (file.Insert() != 0)
            return false;
    }
    return file.Close() == 0;
}

double directCopy(const std::string& from, const std::string& to, long& copied)
{
    QElapsedTimer timer;
    timer.start();
    TWinBtr source;
    TWinBtr destination;
    copied = 0;
    if (source.Open(from.c_str(), "", 0) != 0 || destination.Open(to.c_str(), "", 0) != 0)
        return -1;
    copied = copyRecords(source, destination).inserted;
    source.Close();
    destination.Close();
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

class Silent : public TMessagePresenter
{
public:
    void showError(const QString& text) override
    {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
    void showMessage(const QString& text) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
};

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long records = argc > 1 ? std::atol(argv[1]) : 1000000;
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()))
        return 1;

    QElapsedTimer timer;
    timer.start();
    if (!fillSource("SOURCE.BTR", records)) {
        std::fprintf(stderr, "cannot build the source file\n");
        return 1;
    }
    std::printf("source: %ld records built in %.2f s\n", records, timer.nsecsElapsed() / 1e9);

    long direct = 0;
    if (!create("DIRECT.BTR"))
        return 1;
    const double directSeconds = directCopy("SOURCE.BTR", "DIRECT.BTR", direct);
    std::printf("TWinBtr copy:  %ld records in %.2f s, %.0f records/s\n", direct, directSeconds,
        direct / directSeconds);

    if (!create("WINDOW.BTR"))
        return 1;
    TVarnok window;
    window.setPresenter(std::make_unique<Silent>());
    window.show();
    QApplication::processEvents();
    window.EFrom->setText(QStringLiteral("SOURCE.BTR"));
    window.ETo->setText(QStringLiteral("WINDOW.BTR"));
    int highest = 0;
    QObject::connect(window.ProgressBar, &QProgressBar::valueChanged,
        [&highest](int v) { highest = std::max(highest, v); });
    timer.restart();
    window.BCopy->click();
    const double windowSeconds = timer.nsecsElapsed() / 1e9;
    std::printf("window Copy:   %d records in %.2f s, %.0f records/s\n", highest, windowSeconds,
        highest / windowSeconds);
    std::printf(
        "window / TWinBtr time: %.2f (target at most 1.25)\n", windowSeconds / directSeconds);

    // The progress bar alone, updated once per record as the copy does.
    QProgressBar* bar = window.ProgressBar;
    bar->setMaximum(static_cast<int>(records));
    timer.restart();
    for (long i = 1; i <= records; ++i)
        bar->setValue(bar->value() + 1);
    const double barSeconds = timer.nsecsElapsed() / 1e9;
    bar->setValue(0);
    std::printf("progress bar alone: %.0f ns per record (%.2f s)\n", barSeconds * 1e9 / records,
        barSeconds);
    return highest == direct ? 0 : 1;
}
