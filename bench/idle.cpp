// Idle CPU use of the application model while device polling runs against the simulated
// device tools: the process's own CPU time plus that of its finished children, over wall time.
//
//   idle            measure for 60 s
//   idle SECONDS    measure for that many seconds (e.g. 12 for a quick look)
//
// Target: under 0.5 % of one core.

#include "store/store.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <memory>

namespace {

double seconds(const timeval& time) { return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6; }

// User and system time of this process and of every child it has waited for.
double cpuSeconds()
{
    rusage self{};
    rusage children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime) + seconds(children.ru_stime);
}

// One trusted phone and one account: the steady state of a user with an iPhone plugged in.
QByteArray world()
{
    const QJsonObject device{{QStringLiteral("udid"), QStringLiteral("00008101-001A2B3C4D5E6F70")},
                             {QStringLiteral("name"), QStringLiteral("iPhone Ани")},
                             {QStringLiteral("ios"), QStringLiteral("17.4.1")}};
    const QJsonObject root{{QStringLiteral("devices"), QJsonArray{device}}, {QStringLiteral("accounts"), QJsonArray{}},
                           {QStringLiteral("apps"), QJsonArray{}}};
    return QJsonDocument(root).toJson();
}

} // namespace

int main(int argc, char** argv)
{
    double duration = 60;
    if (argc > 1) {
        bool ok = false;
        duration = QString::fromLocal8Bit(argv[1]).toDouble(&ok);
        if (!ok || duration <= 0) {
            std::fprintf(stderr, "usage: %s [SECONDS]\n", argv[0]);
            return 2;
        }
    }

    // A sandbox home before anything reads the standard folders.
    QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "cannot create a temporary home\n");
        return 1;
    }
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DOWNLOAD_DIR", "XDG_STATE_HOME"})
        qunsetenv(name);
    qputenv("HOME", QFile::encodeName(home.path()));
    const QString worldPath = QDir(home.path()).filePath(QStringLiteral("world.json"));
    {
        QFile file(worldPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(world()) < 0) {
            std::fprintf(stderr, "cannot write the simulated world\n");
            return 1;
        }
    }
    qputenv("TELMORA_SIM_WORLD", QFile::encodeName(worldPath));
    qputenv("CRVEL_BIN_DIR", TELMORA_SIM_BIN_DIR);

    QCoreApplication app(argc, argv);

    telmora::StoreOptions options;
    options.resourcesFolder = home.path(); // no catalog: nothing but polling runs
    options.autoStart = true;
    auto store = std::make_unique<telmora::Store>(options);

    // Measure the steady state: from the first time the phone is listed.
    QElapsedTimer wall;
    double cpuStart = 0;
    QTimer finish;
    finish.setSingleShot(true);
    QObject::connect(&finish, &QTimer::timeout, &app, &QCoreApplication::quit);
    const auto begin = [&] {
        if (wall.isValid() || store->devices().isEmpty())
            return;
        wall.start();
        cpuStart = cpuSeconds();
        finish.start(static_cast<int>(duration * 1000));
    };
    QObject::connect(store.get(), &telmora::Store::devicesChanged, &app, begin);
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, &app, [&] {
        if (!wall.isValid()) {
            std::fprintf(stderr, "the simulated phone was never listed; is %s built?\n", TELMORA_SIM_BIN_DIR);
            app.exit(1);
        }
    });
    giveUp.start(30000);

    std::printf("measuring idle CPU for %.0f s with device polling...\n", duration);
    std::fflush(stdout);
    const int status = app.exec();
    if (status != 0)
        return status;

    const double cpu = cpuSeconds() - cpuStart;
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    const double percent = 100.0 * cpu / elapsed;
    std::printf("devices listed: %lld\n", static_cast<long long>(store->devices().size()));
    std::printf("wall %.1f s, CPU %.3f s (self + children)\n", elapsed, cpu);
    std::printf("idle CPU: %.3f %% of one core (target < 0.5 %%): %s\n", percent, percent < 0.5 ? "met" : "NOT met");
    store.reset();
    return 0;
}
