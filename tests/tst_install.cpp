// Installing stored packages on a phone: the queue, the waiting file, the system-version
// check, the install-then-upgrade retry, progress and failures.

#include "sandbox.h"
#include "ipafixture.h"
#include "storeaccess.h"

#include "store/store.h"
#include "tools/bin.h"

#include <QCoroTask>
#include <QDir>
#include <QRegularExpression>
#include <QUuid>
#include <QtTest>

#include <memory>

using namespace telmora;
using namespace telmora::test;

namespace {

const QString phone = QString::fromLatin1(SimWorld::sampleUDID); // "iPhone Jane", iOS 17.4.1

// A package the simulated installer accepts: Info.plist, the SC_Info signature and iTunesMetadata.
IPAFile writePackage(const QString& folder, const QString& bundleID = QStringLiteral("com.example.notes"),
                     const QString& name = QStringLiteral("Notes Pro"), const std::optional<QString>& minOS = QStringLiteral("15.0"))
{
    const QString path = QDir(folder).filePath(name + QStringLiteral("_1.0.ipa"));
    QVariantMap entries{{QStringLiteral("CFBundleIdentifier"), bundleID},
                        {QStringLiteral("CFBundleDisplayName"), name},
                        {QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.0")},
                        {QStringLiteral("CFBundleExecutable"), QStringLiteral("App")}};
    if (minOS)
        entries.insert(QStringLiteral("MinimumOSVersion"), *minOS);
    const QString app = QStringLiteral("Payload/App.app/");
    const bool written = writeZip(path, {{app + QStringLiteral("Info.plist"), makeInfoPlist(entries)},
                                         {app + QStringLiteral("SC_Info/App.sinf"), QByteArrayLiteral("sinf")},
                                         {app + QStringLiteral("App"), QByteArray(4096, 'x')},
                                         {QStringLiteral("iTunesMetadata.plist"), makeInfoPlist({})}});
    if (!written)
        qFatal("cannot write %s", qPrintable(path));
    IPAFile file;
    file.url = path;
    file.info = IPAInfo{name, QStringLiteral("1.0"), minOS.value_or(QStringLiteral("NA")), QStringLiteral("iOS")};
    file.size = QFileInfo(path).size();
    return file;
}

// Every value a property takes, in order; "-" for absent.
template<typename Signal, typename Read>
QStringList* record(Store& store, Signal signal, Read read)
{
    auto* values = new QStringList;
    QObject::connect(&store, signal, &store, [values, &store, read] {
        const auto value = read(store);
        values->append(value ? QVariant::fromValue(*value).toString() : QStringLiteral("-"));
    });
    QObject::connect(&store, &QObject::destroyed, [values] { delete values; });
    return values;
}

} // namespace

class InstallTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        m_sandbox->world.addSample();
        m_packages = m_sandbox->filePath(QStringLiteral("Downloads/Telmora"));
        QDir().mkpath(m_packages);
    }
    void cleanup()
    {
        m_store.reset();
        m_sandbox.reset();
    }

    void installsAndReportsProgress()
    {
        m_sandbox->world.setTiming(QStringLiteral("installStep"), 40).write();
        const IPAFile notes = writePackage(m_packages);
        Store& store = storeWith({notes});
        const QStringList* statuses = record(store, &Store::installStatusChanged, [](Store& s) { return s.installStatus(); });
        const QStringList* fractions = record(store, &Store::installFractionChanged, [](Store& s) { return s.installFraction(); });

        QCoro::waitFor(store.install(notes.url));

        QCOMPARE(store.installed(), QSet<QString>{notes.url});
        QCOMPARE(store.notice(), QStringLiteral("Установлено на iPhone Jane: Notes Pro"));
        QVERIFY(store.installErrors().isEmpty());
        QCOMPARE(SimWorld::installed(phone).value(QStringLiteral("com.example.notes")), QStringLiteral("1.0"));
        // The installer gets a copy (its words: upgradeAfterFailedInstall).
        QVERIFY(SimWorld::calls(QStringLiteral("ideviceinstaller")).last().value(3).endsWith(QLatin1String("/app.ipa")));

        // "Подготовка…", then rising percentages each matching its fraction, then nothing.
        QVERIFY2(statuses->size() >= 3, qPrintable(statuses->join(u'|')));
        QCOMPARE(statuses->constFirst(), QStringLiteral("Подготовка…"));
        QCOMPARE(statuses->constLast(), QStringLiteral("-"));
        static const QRegularExpression shown(QStringLiteral("^Установка: (\\d+)%$"));
        int previous = 0;
        for (const QString& status : statuses->mid(1, statuses->size() - 2)) {
            const QRegularExpressionMatch match = shown.match(status);
            QVERIFY2(match.hasMatch(), qPrintable(status));
            QVERIFY(match.captured(1).toInt() >= previous);
            previous = match.captured(1).toInt();
            QVERIFY(fractions->contains(QString::number(previous / 100.0)));
        }
        QCOMPARE(fractions->constLast(), QStringLiteral("-"));
        QCOMPARE(store.installing(), std::nullopt);
        QCOMPARE(installerCopies(), QStringList());
    }

    void progressText_data()
    {
        QTest::addColumn<QByteArray>("printed");
        QTest::addColumn<QString>("status");
        QTest::addColumn<double>("fraction");

        QTest::newRow("decimal percentage") << QByteArray("\rInstall: VerifyingApplication (47.8%)") << QStringLiteral("Установка: 47%") << 0.47;
        QTest::newRow("29 is not 28") << QByteArray("\rInstall: InstallingApplication (29%)") << QStringLiteral("Установка: 29%") << 0.29;
        QTest::newRow("coloured") << QByteArray("\x1b[2K\x1b[32m\rInstall: CreatingContainer (55%)\x1b[0m") << QStringLiteral("Установка: 55%")
                                  << 0.55;
    }

    // Exact progress texts come from a stand-in installer that prints one chunk.
    void progressText()
    {
        QFETCH(QByteArray, printed);
        QFETCH(QString, status);
        QFETCH(double, fraction);
        const QString tools = m_sandbox->filePath(QStringLiteral("tools"));
        QDir().mkpath(tools);
        QFile chunk(QDir(tools).filePath(QStringLiteral("chunk")));
        QVERIFY(chunk.open(QIODevice::WriteOnly));
        chunk.write(printed);
        chunk.close();
        QFile script(QDir(tools).filePath(QStringLiteral("ideviceinstaller")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\ncat \"$(dirname \"$0\")/chunk\"\n");
        script.close();
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
        Bin::setDirForTesting(tools);

        const IPAFile notes = writePackage(m_packages);
        Store& store = storeWith({notes}, QStringLiteral("17.4.1"));
        const QStringList* statuses = record(store, &Store::installStatusChanged, [](Store& s) { return s.installStatus(); });
        const QStringList* fractions = record(store, &Store::installFractionChanged, [](Store& s) { return s.installFraction(); });

        QCoro::waitFor(store.install(notes.url));
        QVERIFY2(statuses->contains(status), qPrintable(statuses->join(u'|')));
        QVERIFY2(fractions->contains(QString::number(fraction)), qPrintable(fractions->join(u'|')));
        QVERIFY(store.installed().contains(notes.url));
    }

    void minimumSystemVersion_data()
    {
        QTest::addColumn<QString>("minOS");
        QTest::addColumn<QString>("ios");
        QTest::addColumn<bool>("refused");

        QTest::newRow("newer minimum") << QStringLiteral("15.0") << QStringLiteral("14.8.1") << true;
        QTest::newRow("no minimum") << QStringLiteral("NA") << QStringLiteral("14.8.1") << false;
        QTest::newRow("equal") << QStringLiteral("15.0") << QStringLiteral("15.0") << false;
        QTest::newRow("numbers, not text") << QStringLiteral("9.3") << QStringLiteral("10.0") << false;
        QTest::newRow("two-digit component") << QStringLiteral("17.10") << QStringLiteral("17.9") << true;
    }

    void minimumSystemVersion()
    {
        QFETCH(QString, minOS);
        QFETCH(QString, ios);
        QFETCH(bool, refused);
        // The phone connectDevice selects, on this version.
        m_sandbox->world.addDevice(QStringLiteral("00008101-001A2B3C4D5E6F70"), QStringLiteral("iPhone"), ios).write();
        const IPAFile file = writePackage(m_packages, QStringLiteral("com.example.notes"), QStringLiteral("Notes Pro"),
                                          minOS == u"NA" ? std::nullopt : std::optional<QString>(minOS));
        Store& store = storeWith({file}, ios);

        QCoro::waitFor(store.install(file.url));
        if (refused) {
            QCOMPARE(store.installErrors().value(file.url),
                     QStringLiteral("Нужна iOS %1 или новее, а на iPhone стоит %2.").arg(minOS, ios));
            QVERIFY(SimWorld::calls(QStringLiteral("ideviceinstaller")).isEmpty());
            QVERIFY(store.installed().isEmpty());
        } else {
            QVERIFY(!store.installErrors().contains(file.url));
            QCOMPARE(store.installed(), QSet<QString>{file.url});
        }
        QCOMPARE(store.installing(), std::nullopt);
    }

    // Both installer syntaxes; the tool is asked which one it speaks once.
    void upgradeAfterFailedInstall_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QStringList>("installWords");
        QTest::addColumn<QStringList>("upgradeWords");
        QTest::newRow("1.2") << QStringLiteral("1.2.0") << QStringList{QStringLiteral("--udid"), phone, QStringLiteral("install")}
                             << QStringList{QStringLiteral("--udid"), phone, QStringLiteral("upgrade")};
        QTest::newRow("1.1") << QStringLiteral("1.1.1") << QStringList{QStringLiteral("-u"), phone, QStringLiteral("-i")}
                             << QStringList{QStringLiteral("-u"), phone, QStringLiteral("-g")};
    }

    void upgradeAfterFailedInstall()
    {
        QFETCH(QString, version);
        QFETCH(QStringList, installWords);
        QFETCH(QStringList, upgradeWords);
        m_sandbox->world.setOption(QStringLiteral("installerVersion"), version)
            .addFailure({.command = QStringLiteral("ideviceinstaller install"),
                             .error = QStringLiteral("ERROR: Install failed. Got error \"ApplicationAlreadyInstalled\""),
                             .status = 1})
            .write();
        const IPAFile notes = writePackage(m_packages);
        Store& store = storeWith({notes});

        QCoro::waitFor(store.install(notes.url));
        QCOMPARE(store.installed(), QSet<QString>{notes.url});
        QVERIFY(store.installErrors().isEmpty());
        const QList<QStringList> calls = SimWorld::calls(QStringLiteral("ideviceinstaller"));
        QCOMPARE(calls.size(), 3);
        QCOMPARE(calls[0], QStringList{QStringLiteral("--version")});
        QCOMPARE(calls[1].mid(0, 3), installWords);
        QCOMPARE(calls[2].mid(0, 3), upgradeWords);
        QCOMPARE(calls[2][3], calls[1][3]);
        QCOMPARE(SimWorld::installed(phone).value(QStringLiteral("com.example.notes")), QStringLiteral("1.0"));
    }

    void failureIsMappedThenClearedOnRetry()
    {
        m_sandbox->world.addFailure({.command = QStringLiteral("ideviceinstaller"),
                             .error = QStringLiteral("ERROR: Install failed. Got error \"IXErrorDomain Code=46\" with code 0xe800802e")})
            .write();
        const IPAFile notes = writePackage(m_packages);
        Store& store = storeWith({notes});

        QCoro::waitFor(store.install(notes.url));
        const QString message = QStringLiteral("Удалите приложение с iPhone, перезагрузите его и попробуйте снова.");
        QCOMPARE(store.installErrors().value(notes.url), message);
        QCOMPARE(store.notice(), QStringLiteral("Notes Pro: ") + message);
        QVERIFY(store.installed().isEmpty());
        QCOMPARE(SimWorld::calls(QStringLiteral("ideviceinstaller")).size(), 3); // --version, install, upgrade
        QCOMPARE(store.installing(), std::nullopt);
        QCOMPARE(store.installStatus(), std::nullopt);
        QCOMPARE(store.installFraction(), std::nullopt);
        QCOMPARE(installerCopies(), QStringList());

        m_sandbox->world.clearFailures().write();
        QCoro::waitFor(store.install(notes.url));
        QVERIFY(store.installErrors().isEmpty());
        QCOMPARE(store.installed(), QSet<QString>{notes.url});
    }

    void installerThatCannotStart()
    {
        Bin::setDirForTesting(m_sandbox->filePath(QStringLiteral("no-tools")));
        const IPAFile notes = writePackage(m_packages);
        Store& store = storeWith({notes}, QStringLiteral("17.4.1"));

        QCoro::waitFor(store.install(notes.url));
        QVERIFY(!store.installErrors().value(notes.url).isEmpty());
        QVERIFY(store.notice().value_or(QString()).startsWith(QLatin1String("Notes Pro: ")));
        QVERIFY(store.installed().isEmpty());
        QCOMPARE(store.installing(), std::nullopt);
        QCOMPARE(installerCopies(), QStringList());
    }

    void queuedInstallsRunInRequestOrder()
    {
        m_sandbox->world.setTiming(QStringLiteral("installStep"), 20).write();
        const IPAFile a = writePackage(m_packages, QStringLiteral("com.example.a"), QStringLiteral("A"));
        const IPAFile b = writePackage(m_packages, QStringLiteral("com.example.b"), QStringLiteral("B"));
        const IPAFile c = writePackage(m_packages, QStringLiteral("com.example.c"), QStringLiteral("C"));
        Store& store = storeWith({a, b, c});
        const QStringList* started = record(store, &Store::installingChanged, [](Store& s) { return s.installing(); });

        store.install(a.url);
        store.install(b.url);
        store.install(c.url);
        store.install(b.url);
        QCOMPARE(store.installing(), a.url);
        QCOMPARE(store.installQueue(), (QStringList{b.url, c.url}));

        QTRY_COMPARE_WITH_TIMEOUT(store.installed(), (QSet<QString>{a.url, b.url, c.url}), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(store.installing(), std::nullopt, 10000);
        const QStringList expected{a.url, QStringLiteral("-"), b.url, QStringLiteral("-"), c.url, QStringLiteral("-")};
        QCOMPARE(*started, expected);
        QCOMPARE(SimWorld::calls(QStringLiteral("ideviceinstaller")).size(), 4); // asked for its syntax once
        QCOMPARE(SimWorld::installed(phone).size(), 3);
        QVERIFY(store.installQueue().isEmpty());
    }

    void waitingFileInstallsWhenPhoneIsPlugged()
    {
        m_sandbox->world.setDeviceConnected(phone, false).write();
        const IPAFile notes = writePackage(m_packages);
        Store store(storeOptions());
        StoreTestAccess::setFiles(store, {notes});
        store.setShowDeviceHelp(true);

        QCoro::waitFor(store.install(notes.url));
        QCOMPARE(store.awaitingDevice(), (AwaitingDevice{notes.url, QStringLiteral("Notes Pro")}));
        QCOMPARE(store.installing(), std::nullopt);

        StoreTestAccess::startDevicesPolling(store);
        // The first refresh has read the world without the phone; now plug it in.
        QTRY_VERIFY_WITH_TIMEOUT(!SimWorld::calls(QStringLiteral("idevice_id")).isEmpty(), 20000);
        m_sandbox->world.setDeviceConnected(phone, true).write();

        QTRY_COMPARE_WITH_TIMEOUT(store.installed(), QSet<QString>{notes.url}, 30000);
        QCOMPARE(store.awaitingDevice(), std::nullopt);
        QVERIFY(!store.showDeviceHelp());
        QCOMPARE(store.notice(), QStringLiteral("Установлено на iPhone Jane: Notes Pro"));
    }

    // Closing the application mid-install stops the installer and still removes the copy.
    void destroyingTheStoreMidInstall()
    {
        m_sandbox->world.setTiming(QStringLiteral("installStep"), 300).write();
        const IPAFile notes = writePackage(m_packages);
        Store& store = storeWith({notes});
        store.install(notes.url);
        QTRY_VERIFY2_WITH_TIMEOUT(store.installStatus().value_or(QString()).startsWith(QStringLiteral("Установка")),
                                  qPrintable(store.installStatus().value_or(QStringLiteral("-"))), 30000);
        m_store.reset();
        QTRY_COMPARE_WITH_TIMEOUT(installerCopies(), QStringList(), 30000);
        QVERIFY(SimWorld::installed(phone).isEmpty());
    }

private:
    // A Store that knows these files, and the phone: the world's, or one on `ios`.
    Store& storeWith(const QList<IPAFile>& files, const std::optional<QString>& ios = {})
    {
        m_store = std::make_unique<Store>(storeOptions());
        if (ios)
            StoreTestAccess::connectDevice(*m_store, *ios);
        else
            QCoro::waitFor(m_store->refreshDevices());
        StoreTestAccess::setFiles(*m_store, files);
        return *m_store;
    }

    // Folders left in the temporary folder by installs (named by a UUID).
    [[nodiscard]] QStringList installerCopies() const
    {
        QStringList found;
        for (const QString& name : QDir(m_sandbox->tempFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
            if (!QUuid::fromString(name).isNull())
                found.append(name);
        }
        return found;
    }

    std::optional<Sandbox> m_sandbox;
    std::unique_ptr<Store> m_store;
    QString m_packages;
};

QTEST_GUILESS_MAIN(InstallTest)
#include "tst_install.moc"
