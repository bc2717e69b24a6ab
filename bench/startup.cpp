// Start to first frame, and resident memory once the window has settled, of the application
// (demo world, offscreen, software renderer) against a bare QML window that this program
// builds itself. The two are started alternately, each in a fresh sandbox home.
//
//   startup          7 runs of each
//   startup RUNS     that many runs of each
//   startup --bare   the bare window alone: prints "frame" and "rss <N> kB" as the
//                    application's --startup-probe does, then quits
//
// Targets: first frame within 1.5× and memory within 2× the bare window's.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

constexpr int defaultRuns = 7;
constexpr int probeTimeoutMs = 60000;
constexpr double frameTarget = 1.5;
constexpr double memoryTarget = 2.0;
constexpr char closedLocalProxy[] = "http://127.0.0.1:1"; // nothing listens on port 1

// The smallest window of the same size and style as the application's.
constexpr char bareWindowQml[] = R"(import QtQuick
import QtQuick.Controls
ApplicationWindow {
    width: 1120
    height: 720
    visible: true
    title: "Bare"
    Text {
        anchors.centerIn: parent
        text: "Bare window"
    }
}
)";

void printResidentMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            std::printf("rss %s\n", line.mid(6).simplified().constData());
    }
    std::fflush(stdout);
}

// The same report as the application's probe, so both are read the same way.
void probeFirstFrame(QQuickWindow* window)
{
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [] {
        static bool first = true;
        if (!first)
            return;
        first = false;
        std::printf("frame\n");
        std::fflush(stdout);
        QTimer::singleShot(2000, [] {
            printResidentMemory();
            QCoreApplication::exit(0);
        });
    });
}

int runBareWindow(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QQmlApplicationEngine engine;
    engine.loadData(QByteArray(bareWindowQml));
    auto* window = engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst());
    if (!window)
        return 1;
    probeFirstFrame(window);
    return app.exec();
}

struct Sample {
    double frameMs = 0;
    qint64 rssKB = 0;
};

struct Contender {
    const char* label;
    QString program;
    QStringList arguments;
    bool demoWorld; // the application: simulated tools and the demo notice
};

// Offscreen and software-rendered, in a sandbox home and runtime folder of its own, with
// none of the caller's XDG folders, as the project's run script starts the demo. Web requests
// (the catalog's app lookups) go to a closed local port: the run stays offline and repeatable.
QProcessEnvironment sandboxEnvironment(const Contender& contender, const QTemporaryDir& home, const QTemporaryDir& runtime)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_DOWNLOAD_DIR",
                             "TELMORA_SIM_WORLD", "TELMORA_SIM_SPEED", "QSG_RENDER_LOOP", "QT_QPA_UPDATE_IDLE_TIME",
                             "no_proxy", "NO_PROXY"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"})
        environment.insert(QString::fromLatin1(name), QString::fromLatin1(closedLocalProxy));
    if (contender.demoWorld) {
        environment.insert(QStringLiteral("CRVEL_BIN_DIR"), QStringLiteral(TELMORA_SIM_BIN_DIR));
        environment.insert(QStringLiteral("TELMORA_DEMO"), QStringLiteral("1"));
    }
    return environment;
}

// "rss 81234 kB" → 81234.
std::optional<qint64> residentKB(const QByteArray& line)
{
    const QList<QByteArray> words = line.simplified().split(' ');
    if (words.size() != 3 || words.at(0) != "rss" || words.at(2) != "kB")
        return std::nullopt;
    bool ok = false;
    const qint64 value = words.at(1).toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

// Wall time from the start of the process to its "frame" line, and its memory line.
std::optional<Sample> runOnce(const Contender& contender)
{
    const QTemporaryDir home;
    const QTemporaryDir runtime; // created private (0700), as the runtime folder must be
    if (!home.isValid() || !runtime.isValid())
        return std::nullopt;
    QProcess process;
    process.setProgram(contender.program);
    process.setArguments(contender.arguments);
    process.setProcessEnvironment(sandboxEnvironment(contender, home, runtime));

    std::optional<double> frameMs;
    std::optional<qint64> rss;
    QElapsedTimer clock;
    clock.start();
    process.start();
    while (!rss && clock.elapsed() < probeTimeoutMs) {
        if (!process.canReadLine() && !process.waitForReadyRead(static_cast<int>(probeTimeoutMs - clock.elapsed())))
            break;
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            if (line == "frame" && !frameMs)
                frameMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
            else if (!rss)
                rss = residentKB(line);
        }
    }
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
    if (!frameMs || !rss) {
        std::fprintf(stderr, "%s gave no probe report (exit %d):\n%s\n", contender.label, process.exitCode(),
                     process.readAllStandardError().constData());
        return std::nullopt;
    }
    return Sample{*frameMs, *rss};
}

template<typename T>
T median(QList<T> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

void printRun(const char* name, const Sample& app, const Sample& bare)
{
    std::printf("%-10s telmora  first frame %7.1f ms  rss %7lld kB    bare  first frame %7.1f ms  rss %7lld kB\n", name,
                app.frameMs, static_cast<long long>(app.rssKB), bare.frameMs, static_cast<long long>(bare.rssKB));
    std::fflush(stdout);
}

void printRatio(const char* what, double ratio, double target)
{
    std::printf("%-28s %5.2f×  (target ≤ %.1f×)  %s\n", what, ratio, target, ratio <= target ? "met" : "NOT met");
}

std::optional<int> runCount(int argc, char** argv)
{
    if (argc < 2)
        return defaultRuns;
    bool ok = false;
    const int runs = QString::fromLocal8Bit(argv[1]).toInt(&ok);
    return ok && runs > 0 ? std::optional<int>(runs) : std::nullopt;
}

int compare(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::optional<int> runs = runCount(argc, argv);
    if (!runs) {
        std::fprintf(stderr, "usage: %s [RUNS] | --bare\n", argv[0]);
        return 2;
    }
    const Contender telmora{"telmora", QStringLiteral(TELMORA_APP_DIR "/telmora"), {QStringLiteral("--startup-probe")}, true};
    const Contender bare{"bare window", QCoreApplication::applicationFilePath(), {QStringLiteral("--bare")}, false};

    std::printf("start to first frame and memory 2 s later: telmora (demo world, offline) and a bare QML window,\n"
                "1120×720, offscreen, software renderer, fresh sandbox home per run; %d runs each, alternately\n",
                *runs);
    // One pair first, so neither pays alone for reading its libraries from disk.
    const std::optional<Sample> warmApp = runOnce(telmora);
    const std::optional<Sample> warmBare = runOnce(bare);
    if (!warmApp || !warmBare)
        return 1;
    printRun("warm-up", *warmApp, *warmBare);

    QList<double> appFrames, bareFrames;
    QList<qint64> appMemory, bareMemory;
    for (int run = 1; run <= *runs; ++run) {
        const std::optional<Sample> appSample = runOnce(telmora);
        const std::optional<Sample> bareSample = runOnce(bare);
        if (!appSample || !bareSample)
            return 1;
        printRun(qPrintable(QStringLiteral("run %1").arg(run)), *appSample, *bareSample);
        appFrames.append(appSample->frameMs);
        bareFrames.append(bareSample->frameMs);
        appMemory.append(appSample->rssKB);
        bareMemory.append(bareSample->rssKB);
    }
    const double appFrame = median(appFrames);
    const double bareFrame = median(bareFrames);
    const qint64 appRss = median(appMemory);
    const qint64 bareRss = median(bareMemory);
    std::printf("median     telmora  first frame %7.1f ms  rss %7lld kB    bare  first frame %7.1f ms  rss %7lld kB\n",
                appFrame, static_cast<long long>(appRss), bareFrame, static_cast<long long>(bareRss));
    printRatio("first frame, telmora / bare", appFrame / bareFrame, frameTarget);
    printRatio("memory, telmora / bare", static_cast<double>(appRss) / static_cast<double>(bareRss), memoryTarget);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--bare") == 0)
        return runBareWindow(argc, argv);
    return compare(argc, argv);
}
