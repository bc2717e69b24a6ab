// Every seed of every fuzz target, kept crash inputs included, through the target's own
// entry function: a reader that crashes or breaks a rule again fails here, without libFuzzer.
#include "targets.h"

#include <QDir>
#include <QFile>
#include <QTest>

class FuzzSeedsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void seed_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("path");
        const QDir seeds(QStringLiteral(TELMORA_SOURCE_DIR "/tests/fuzz"));
        for (int target = 0; target < int(std::size(telmora::fuzz::targets)); ++target) {
            const QString name = QString::fromLatin1(telmora::fuzz::targets[target].name);
            const QStringList files = QDir(seeds.filePath(name)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
            // A target without seeds would pass here without running at all.
            QVERIFY2(!files.isEmpty(), qPrintable(QStringLiteral("no seeds for ") + name));
            for (const QString& file : files)
                QTest::addRow("%s/%s", qPrintable(name), qPrintable(file)) << target << seeds.filePath(name + u'/' + file);
        }
    }

    // A broken rule or a sanitizer finding aborts inside; coming back is the pass.
    void seed()
    {
        QFETCH(int, target);
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray input = file.readAll();
        telmora::fuzz::targets[target].run(reinterpret_cast<const uint8_t*>(input.constData()), size_t(input.size()));
    }
};

QTEST_GUILESS_MAIN(FuzzSeedsTest)
#include "tst_fuzz_seeds.moc"
