// SHA-256 of an update-sized file: sha256OfFile beside `openssl dgst -sha256` on the same
// file, both reading it from the page cache. Target: at least 0.8 of openssl's throughput.
//
//   build/bench/sha256 [megabytes]     (default 512)

#include "update/crypto.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int rounds = 3;

// The fastest of a few runs: the figure least disturbed by other work on the machine.
template<typename Run>
double bestSeconds(Run run)
{
    double best = 1e100;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        best = std::min(best, static_cast<double>(timer.nsecsElapsed()) / 1e9);
    }
    return best;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 512;
    if (megabytes <= 0) {
        std::fprintf(stderr, "usage: sha256 [megabytes]\n");
        return 2;
    }

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("archive.bin"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        QByteArray block(1024 * 1024, Qt::Uninitialized);
        for (qint64 i = 0; i < megabytes; ++i) {
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
            file.write(block);
        }
    }

    QString ours;
    QString theirs;
    const auto runOpenssl = [&] {
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"), {QStringLiteral("dgst"), QStringLiteral("-sha256"), QStringLiteral("-r"), path});
        if (!openssl.waitForFinished(-1) || openssl.exitCode() != 0) {
            std::fprintf(stderr, "openssl failed: %s\n", openssl.readAllStandardError().constData());
            std::exit(1);
        }
        theirs = QString::fromLatin1(openssl.readAllStandardOutput().split(' ').value(0));
    };
    runOpenssl(); // warms the page cache for both
    const double opensslSeconds = bestSeconds(runOpenssl);
    const double oursSeconds = bestSeconds([&] { ours = telmora::sha256OfFile(path); });

    if (ours != theirs) {
        std::fprintf(stderr, "digests differ: %s vs %s\n", qPrintable(ours), qPrintable(theirs));
        return 1;
    }
    const double mb = static_cast<double>(megabytes);
    std::printf("file: %lld MiB, best of %d runs each\n", static_cast<long long>(megabytes), rounds);
    std::printf("sha256OfFile:        %8.3f s  %8.1f MiB/s\n", oursSeconds, mb / oursSeconds);
    std::printf("openssl dgst -sha256: %7.3f s  %8.1f MiB/s\n", opensslSeconds, mb / opensslSeconds);
    std::printf("ratio (ours / openssl): %.2f  (target >= 0.80)\n", opensslSeconds / oursSeconds);
    return 0;
}
