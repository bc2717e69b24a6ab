// A tool printing 1,000 progress lines a second on a PTYTool while the interface
// thread runs a 10 ms timer: how late does the timer get, and does all output arrive?
//
//   pty_flood [seconds] [lines-per-second]
//
// The child is this program itself in its --child mode, so the pace is exact.
#include "model/parsers.h"
#include "model/text.h"
#include "tools/pty.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

using namespace telmora;

namespace {

// Prints numbered download-progress lines like ipatool's, `rate` a second, then "END".
int runChild(int seconds, int rate)
{
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    const int total = seconds * rate;
    for (int i = 0; i < total; ++i) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1'000'000LL / rate));
        const int percent = i * 100 / total;
        std::printf("\rdownloading %3d%% |%-20.*s| (%d/%d MB, 3.2 MB/s) line %d\n", percent, percent / 5,
                    "████████████████████", percent, 100, i);
        std::fflush(stdout);
    }
    std::printf("END %d\n", total);
    std::fflush(stdout);
    return 0;
}

// Not a capturing lambda: its captures would be gone after the first suspension.
QCoro::Task<> awaitEnd(PTYTool* tool, int* status, QTimer* timer)
{
    *status = co_await tool->wait();
    timer->stop();
    QCoreApplication::quit();
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[index];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "--child") == 0)
        return runChild(std::atoi(argv[2]), std::atoi(argv[3]));

    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int rate = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1000;

    qint64 bytes = 0;
    qint64 chunks = 0;
    int lines = 0;
    QString pending; // a line split across two chunks
    Progress lastProgress;

    PTYTool tool(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--child"), QString::number(seconds), QString::number(rate)});

    // The timer stands for the interface: each tick's lateness is how long the event
    // loop was held up.
    std::vector<double> lateness;
    QElapsedTimer clock;
    qint64 lastTick = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        lateness.push_back(std::max(0.0, double(now - lastTick) / 1e6 - 10.0));
        lastTick = now;
    });

    QElapsedTimer reading;
    try {
        tool.start([&](const QString& text) {
            // What a download job does with each chunk: clean it, read the progress.
            bytes += text.toUtf8().size();
            ++chunks;
            const QString cleaned = removeControlSequences(text);
            lastProgress = parseProgress(cleaned);
            pending += cleaned;
            qsizetype end = 0;
            while ((end = pending.indexOf(u'\n')) >= 0) {
                if (pending.left(end).contains(QStringLiteral(" line ")))
                    ++lines;
                pending.remove(0, end + 1);
            }
        });
    } catch (const ToolStartError& error) {
        std::fprintf(stderr, "cannot start the child: %s\n", error.what());
        return 1;
    }
    reading.start();
    clock.start();
    timer.start();

    int status = -1;
    awaitEnd(&tool, &status, &timer);
    app.exec();

    const double elapsed = double(reading.nsecsElapsed()) / 1e9;
    const int expected = seconds * rate;
    std::printf("pty_flood: %d lines/s for %d s, child status %d\n", rate, seconds, status);
    std::printf("  timer ticks        %zu (10 ms timer)\n", lateness.size());
    std::printf("  worst lateness     %.2f ms\n", lateness.empty() ? 0.0 : *std::max_element(lateness.begin(), lateness.end()));
    std::printf("  p99 lateness       %.2f ms\n", percentile(lateness, 0.99));
    std::printf("  bytes read         %lld in %lld chunks, %.0f bytes/s\n", static_cast<long long>(bytes),
                static_cast<long long>(chunks), double(bytes) / elapsed);
    std::printf("  lines received     %d of %d (%s)\n", lines, expected, lines == expected ? "all output arrived" : "OUTPUT LOST");
    return lines == expected ? 0 : 2;
}
