// Phones against the simulated device tools: listing and selection; installing stored packages.
#include "store/store.h"

#include "ipafixture.h"
#include "sandbox.h"
#include "storeaccess.h"
#include "tools/bin.h"

#include <QCoroTask>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

using namespace telmora;
using namespace telmora::test;
using namespace Qt::StringLiterals;

namespace {

const QString phone = QString::fromLatin1(SimWorld::sampleUDID); // "iPhone Jane", iOS 17.4.1
const QString otherPhone = u"00008101-001A2B3C4D5E6F70"_s;       // the one connectDevice selects
const QString phoneB = u"00008030-000C3D4E5F607182"_s;
const QString serviceDown = u"ERROR: Unable to retrieve device list!"_s;

// "id/name/version" per device.
QStringList listed(const QList<Device>& devices)
{
    QStringList list;
    for (const Device& device : devices)
        list.append(device.id + u'/' + device.name + u'/' + device.iosVersion);
    return list;
}

qsizetype callsWith(const QString& tool, const QStringList& args) { return SimWorld::calls(tool).count(args); }

const QString noInstaller = u"no installer"_s;

struct Outcome {
    QString ios;     // of the phone
    QString minOS;   // of the package; "NA": none
    QString failure; // the installer's error line, or noInstaller
    QString message; // the install error shown; empty: installed; "*": any
    QString installer = {}; // its version
    QStringList calls = {}; // its runs, without the copy's path and with the UDID as "U"
};

// A package the simulated installer accepts: Info.plist, the SC_Info signature and iTunesMetadata.
IPAFile writePackage(const std::optional<QString>& minOS = u"15.0"_s, const QString& name = u"Notes Pro"_s,
                     const QString& bundleID = u"com.example.notes"_s)
{
    const QString path = QDir::home().filePath(name + u"_1.0.ipa"_s);
    QVariantMap entries{{u"CFBundleIdentifier"_s, bundleID}, {u"CFBundleDisplayName"_s, name},
                        {u"CFBundleShortVersionString"_s, u"1.0"_s}, {u"CFBundleExecutable"_s, u"App"_s}};
    if (minOS)
        entries.insert(u"MinimumOSVersion"_s, *minOS);
    if (!writeZip(path, {{u"Payload/App.app/Info.plist"_s, makeInfoPlist(entries)}, {u"Payload/App.app/SC_Info/App.sinf"_s, "sinf"},
                         {u"Payload/App.app/App"_s, QByteArray(4096, 'x')}, {u"iTunesMetadata.plist"_s, makeInfoPlist({})}}))
        qFatal("cannot write %s", qPrintable(path));
    return IPAFile{path, IPAInfo{name, u"1.0"_s, minOS.value_or(u"NA"_s), u"iOS"_s}, QFileInfo(path).size()};
}

// Every value a property takes, in order; "-" for absent.
template<typename Signal, typename Read>
QStringList* record(Store& store, Signal signal, Read read)
{
    auto* values = new QStringList;
    QObject::connect(&store, signal, &store, [values, &store, read] {
        const auto value = read(store);
        values->append(value ? QVariant::fromValue(*value).toString() : u"-"_s);
    });
    QObject::connect(&store, &QObject::destroyed, [values] { delete values; });
    return values;
}

} // namespace

Q_DECLARE_METATYPE(Outcome)

class PhoneTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        m_sandbox->world.addSample().setDeviceConnected(phone, false).write(); // plugged in by storeWith()
    }

    void cleanup() { m_store.reset(); m_sandbox.reset(); }

    void listing_data()
    {
        QTest::addColumn<QStringList>("printed"); // lines of idevice_id, each a phone with this name and version
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("ios");
        QTest::addColumn<QStringList>("expected");
        const QString a = otherPhone + u"/iPhone/17.4"_s;
        QTest::newRow("25 characters among empty and blank lines") << QStringList{otherPhone, QString(), u"  \t "_s} << "iPhone" << "17.4"
                                                                   << QStringList{a};
        QTest::newRow("40 hexadecimal digits") << QStringList{u"a1b2c3d4e5f6a1b2c3d4e5f6a1b2c3d4e5f6a1b2"_s} << "iPhone" << "17.4"
                                               << QStringList{u"a1b2c3d4e5f6a1b2c3d4e5f6a1b2c3d4e5f6a1b2/iPhone/17.4"_s};
        // (ideviceinfo knows no phone under the trimmed id)
        QTest::newRow("spaces and tabs around") << QStringList{u" \t"_s + otherPhone + u"\t "_s} << "iPhone" << "17.4"
                                                << QStringList{otherPhone + u"/iPhone/?"_s};
        QTest::newRow("19 hexadecimal characters") << QStringList{u"0123456789ABCDEF012"_s} << "iPhone" << "17.4" << QStringList{};
        QTest::newRow("error line") << QStringList{serviceDown} << "iPhone" << "17.4" << QStringList{};
        QTest::newRow("order kept") << QStringList{phoneB, otherPhone} << "iPhone" << "17.4" << QStringList{phoneB + u"/iPhone/17.4"_s, a};
        QTest::newRow("name and version") << QStringList{otherPhone} << "iPhone Ани" << "17.4.1" << QStringList{otherPhone + u"/iPhone Ани/17.4.1"_s};
        QTest::newRow("no name") << QStringList{otherPhone} << QString() << "16.0" << QStringList{otherPhone + u"/iPhone/16.0"_s};
        QTest::newRow("version without a dot") << QStringList{otherPhone} << "Phone" << "17" << QStringList{otherPhone + u"/Phone/?"_s};
        QTest::newRow("not a version") << QStringList{otherPhone} << "Phone" << "17.4 beta" << QStringList{otherPhone + u"/Phone/?"_s};
    }

    // The first phone is selected, and ready when its version is known.
    void listing()
    {
        QFETCH(QStringList, printed);
        QFETCH(QString, name);
        QFETCH(QString, ios);
        QFETCH(QStringList, expected);
        for (const QString& line : printed)
            m_sandbox->world.addDevice(line, name, ios);
        m_sandbox->world.write();
        Store store(storeOptions());
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(listed(store.devices()), expected);
        QCOMPARE(store.selectedDevice(), expected.isEmpty() ? std::nullopt : std::optional(expected.constFirst().section(u'/', 0, 0)));
        QCOMPARE(store.readyDevice().has_value(), !expected.isEmpty() && !expected.constFirst().endsWith(u"/?"));
    }

    // A refresh while one runs is skipped. An untrusted phone is listed but never ready, and asked
    // again on every refresh; once its version is known it is not asked again and the list is not reassigned.
    void untrustedDeviceIsAskedUntilTrusted()
    {
        m_sandbox->world.addDevice(otherPhone, u"iPhone Ани"_s, u"17.4.1"_s, false).setTiming(u"device"_s, 100).write();
        const QStringList versionQuery{u"-u"_s, otherPhone, u"-k"_s, u"ProductVersion"_s};
        Store store(storeOptions());
        QCoro::Task<> first = store.refreshDevices();
        QCoro::Task<> overlapping = store.refreshDevices();
        QVERIFY(overlapping.isReady());
        QCoro::waitFor(first);
        QCOMPARE(callsWith(u"idevice_id"_s, QStringList{u"-l"_s}), 1);
        QCOMPARE(listed(store.devices()), QStringList{otherPhone + u"/iPhone Ани/?"_s});
        QCOMPARE(store.selectedDevice(), otherPhone);
        QVERIFY(!store.readyDevice());
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(callsWith(u"ideviceinfo"_s, versionQuery), 2);

        m_sandbox->world.setDeviceTrusted(otherPhone, true).write();
        QCoro::waitFor(store.refreshDevices());
        const Device trusted{otherPhone, u"iPhone Ани"_s, u"17.4.1"_s};
        QCOMPARE(store.readyDevice(), trusted);

        QSignalSpy changes(&store, &Store::devicesChanged);
        QCoro::waitFor(store.refreshDevices());
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(changes.count(), 0);
        QCOMPARE(store.devices(), QList<Device>{trusted});
        QCOMPARE(callsWith(u"ideviceinfo"_s, versionQuery), 3);
        QCOMPARE(callsWith(u"idevice_id"_s, QStringList{otherPhone}), 3);
    }

    void selectionFollowsThePhones()
    {
        m_sandbox->world.addDevice(otherPhone, u"A"_s, u"17.4"_s).addDevice(phoneB, u"B"_s, u"16.1"_s).write();
        Store store(storeOptions());
        const auto refresh = [&store](SimWorld& world) {
            world.write();
            QCoro::waitFor(store.refreshDevices());
        };
        refresh(m_sandbox->world);
        QCOMPARE(store.selectedDevice(), otherPhone);

        store.setSelectedDevice(phoneB);
        refresh(m_sandbox->world);
        QCOMPARE(store.selectedDevice(), phoneB);
        QCOMPARE(store.readyDevice()->name, u"B"_s);

        refresh(m_sandbox->world.setDeviceConnected(phoneB, false));
        QCOMPARE(listed(store.devices()), QStringList{otherPhone + u"/A/17.4"_s});
        QCOMPARE(store.selectedDevice(), otherPhone);

        refresh(m_sandbox->world.setDeviceConnected(otherPhone, false));
        QVERIFY(store.devices().isEmpty());
        QCOMPARE(store.selectedDevice(), std::nullopt);
        QVERIFY(!store.readyDevice());

        refresh(m_sandbox->world.setDeviceConnected(otherPhone, true));
        QCOMPARE(store.selectedDevice(), otherPhone);

        // usbmuxd gone: the listing fails and empties the list; the notice is said once, not at
        // every poll, and cleared when the service answers again.
        QSignalSpy notices(&store, &Store::noticeChanged);
        refresh(m_sandbox->world.addFailure({.command = u"idevice_id"_s, .error = serviceDown}));
        refresh(m_sandbox->world);
        QVERIFY(store.devices().isEmpty());
        QCOMPARE(store.selectedDevice(), std::nullopt);
        QVERIFY(store.deviceServiceMissing());
        QCOMPARE(store.notice(), deviceServiceNotice());
        QCOMPARE(notices.count(), 1);
        refresh(m_sandbox->world.clearFailures());
        QVERIFY(!store.deviceServiceMissing());
        QCOMPARE(store.notice(), std::nullopt);
        QCOMPARE(listed(store.devices()), QStringList{otherPhone + u"/A/17.4"_s});
    }

    void installsAndReportsProgress_data()
    {
        QTest::addColumn<QByteArray>("printed"); // by a stand-in installer in one chunk; empty: the simulated one
        QTest::addColumn<QString>("status");     // one of the texts shown
        QTest::newRow("simulated installer") << QByteArray() << QString();
        QTest::newRow("decimal percentage") << QByteArray("\rInstall: VerifyingApplication (47.8%)") << u"Установка: 47%"_s;
        QTest::newRow("29 is not 28") << QByteArray("\rInstall: InstallingApplication (29%)") << u"Установка: 29%"_s;
        QTest::newRow("coloured") << QByteArray("\x1b[2K\x1b[32m\rInstall: CreatingContainer (55%)\x1b[0m") << u"Установка: 55%"_s;
    }

    void installsAndReportsProgress()
    {
        QFETCH(QByteArray, printed);
        QFETCH(QString, status);
        m_sandbox->world.setTiming(u"installStep"_s, 40).write();
        const IPAFile notes = writePackage();
        Store& store = storeWith({notes});
        if (!printed.isEmpty()) {
            QVERIFY(writeFile(m_sandbox->filePath(u"ideviceinstaller"_s), "#!/bin/sh\nprintf '%s' '" + printed + "'\n", true));
            Bin::setDirForTesting(m_sandbox->path());
        }
        const QStringList* statuses = record(store, &Store::installStatusChanged, [](Store& s) { return s.installStatus(); });
        const QStringList* fractions = record(store, &Store::installFractionChanged, [](Store& s) { return s.installFraction(); });

        QCoro::waitFor(store.install(notes.url)); // what is left afterwards: outcome()
        QCOMPARE(store.installed(), QSet<QString>{notes.url});
        QCOMPARE(store.notice(), u"Установлено на iPhone Jane: Notes Pro"_s);

        // "Подготовка…", then rising percentages each matching its fraction, then nothing.
        QVERIFY2(statuses->size() >= 3, qPrintable(statuses->join(u'|')));
        QVERIFY2(status.isEmpty() || statuses->contains(status), qPrintable(statuses->join(u'|')));
        QCOMPARE(statuses->constFirst(), u"Подготовка…"_s);
        QCOMPARE(statuses->constLast(), u"-"_s);
        static const QRegularExpression shown(u"^Установка: (\\d+)%$"_s);
        int previous = 0;
        for (const QString& text : statuses->mid(1, statuses->size() - 2)) {
            const QRegularExpressionMatch match = shown.match(text);
            QVERIFY2(match.hasMatch(), qPrintable(text));
            QVERIFY(match.captured(1).toInt() >= previous);
            previous = match.captured(1).toInt();
            QVERIFY(fractions->contains(QString::number(previous / 100.0)));
        }
        QCOMPARE(fractions->constLast(), u"-"_s);
    }

    void outcome_data()
    {
        QTest::addColumn<Outcome>("row");
        const QString tooOld = u"Нужна iOS %1 или новее, а на iPhone стоит %2."_s;
        const QString already = u"ERROR: Install failed. Got error \"ApplicationAlreadyInstalled\""_s;
        const QStringList installs{u"--version"_s, u"--udid U install"_s};
        const QStringList upgrades = installs + QStringList{u"--udid U upgrade"_s};
        QTest::newRow("newer minimum") << Outcome{u"14.8.1"_s, u"15.0"_s, {}, tooOld.arg(u"15.0", u"14.8.1")};
        QTest::newRow("no minimum") << Outcome{u"14.8.1"_s, u"NA"_s, {}, {}, {}, installs};
        QTest::newRow("equal") << Outcome{u"15.0"_s, u"15.0"_s, {}, {}, {}, installs};
        QTest::newRow("numbers, not text") << Outcome{u"10.0"_s, u"9.3"_s, {}, {}, {}, installs};
        QTest::newRow("two-digit component") << Outcome{u"17.9"_s, u"17.10"_s, {}, tooOld.arg(u"17.10", u"17.9")};
        // Already on the phone: "install" is refused and "upgrade" replaces it, in both syntaxes.
        QTest::newRow("upgrade, installer 1.2") << Outcome{u"17.4.1"_s, u"15.0"_s, already, {}, u"1.2.0"_s, upgrades};
        QTest::newRow("upgrade, installer 1.1")
            << Outcome{u"17.4.1"_s, u"15.0"_s, already, {}, u"1.1.1"_s, {u"--version"_s, u"-u U -i"_s, u"-u U -g"_s}};
        QTest::newRow("refused by the phone") << Outcome{u"17.4.1"_s, u"15.0"_s,
                                                         u"ERROR: Install failed. Got error \"IXErrorDomain Code=46\" with code 0xe800802e"_s,
                                                         u"Удалите приложение с iPhone, перезагрузите его и попробуйте снова."_s, {}, upgrades};
        QTest::newRow("installer that cannot start") << Outcome{u"17.4.1"_s, u"15.0"_s, noInstaller, u"*"_s};
    }

    void outcome()
    {
        QFETCH(Outcome, row);
        m_sandbox->world.addDevice(otherPhone, u"iPhone"_s, row.ios);
        if (!row.installer.isEmpty())
            m_sandbox->world.setOption(u"installerVersion"_s, row.installer);
        if (row.failure == noInstaller)
            Bin::setDirForTesting(m_sandbox->filePath(u"no-tools"_s));
        else if (row.failure.contains(u"AlreadyInstalled"))
            m_sandbox->world.addFailure({.command = u"ideviceinstaller install"_s, .error = row.failure, .status = 1});
        else if (!row.failure.isEmpty())
            m_sandbox->world.addFailure({.command = u"ideviceinstaller"_s, .error = row.failure});
        m_sandbox->world.write();
        const IPAFile file = writePackage(row.minOS == u"NA" ? std::nullopt : std::optional(row.minOS));
        Store& store = storeWith({file}, row.ios);

        QCoro::waitFor(store.install(file.url));
        QCOMPARE(store.installing(), std::nullopt);
        QCOMPARE(store.installStatus(), std::nullopt);
        QCOMPARE(store.installFraction(), std::nullopt);
        QCOMPARE(installerCopies(), QStringList());
        // The installer is asked for its syntax, then gets a copy, the same one for the upgrade.
        QStringList calls;
        QSet<QString> copies;
        for (QStringList call : SimWorld::calls(u"ideviceinstaller"_s)) {
            if (call.size() > 3)
                copies.insert(call.takeLast());
            calls.append(call.replaceInStrings(otherPhone, u"U"_s).join(u' '));
        }
        QCOMPARE(calls, row.calls);
        QVERIFY(copies.size() <= 1);
        QVERIFY(copies.isEmpty() || copies.begin()->endsWith(u"/app.ipa"_s));
        if (!row.message.isEmpty()) {
            const QString shown = store.installErrors().value(file.url);
            QVERIFY2(row.message == u"*" ? !shown.isEmpty() : shown == row.message, qPrintable(shown));
            QVERIFY(store.installed().isEmpty());
            if (row.failure.isEmpty()) // refused before the installer runs
                return;
            QCOMPARE(store.notice(), u"Notes Pro: "_s + shown);
            if (row.failure == noInstaller)
                return;
            // Installing again clears the message.
            m_sandbox->world.clearFailures().write();
            QCoro::waitFor(store.install(file.url));
        }
        QVERIFY(store.installErrors().isEmpty());
        QCOMPARE(store.installed(), QSet<QString>{file.url});
        QCOMPARE(SimWorld::installed(otherPhone).value(u"com.example.notes"_s), u"1.0"_s);
    }

    void queuedInstallsRunInRequestOrder()
    {
        m_sandbox->world.setTiming(u"installStep"_s, 20).write();
        const IPAFile a = writePackage(u"15.0"_s, u"A"_s, u"com.example.a"_s);
        const IPAFile b = writePackage(u"15.0"_s, u"B"_s, u"com.example.b"_s);
        const IPAFile c = writePackage(u"15.0"_s, u"C"_s, u"com.example.c"_s);
        Store& store = storeWith({a, b, c});
        const QStringList* started = record(store, &Store::installingChanged, [](Store& s) { return s.installing(); });

        for (const IPAFile& file : {a, b, c, b})
            store.install(file.url);
        QCOMPARE(store.installing(), a.url);
        QCOMPARE(store.installQueue(), (QStringList{b.url, c.url}));

        QTRY_COMPARE_WITH_TIMEOUT(store.installed(), (QSet<QString>{a.url, b.url, c.url}), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(store.installing(), std::nullopt, 10000);
        QCOMPARE(*started, (QStringList{a.url, u"-"_s, b.url, u"-"_s, c.url, u"-"_s}));
        QCOMPARE(SimWorld::calls(u"ideviceinstaller"_s).size(), 4); // asked for its syntax once
        QCOMPARE(SimWorld::installed(phone).size(), 3);
        QVERIFY(store.installQueue().isEmpty());
    }

    void waitingFileInstallsWhenPhoneIsPlugged()
    {
        const IPAFile notes = writePackage();
        Store store(storeOptions());
        StoreTestAccess::setFiles(store, {notes});
        store.setShowDeviceHelp(true);

        QCoro::waitFor(store.install(notes.url));
        QCOMPARE(store.awaitingDevice(), (AwaitingDevice{notes.url, u"Notes Pro"_s}));
        QCOMPARE(store.installing(), std::nullopt);

        StoreTestAccess::startDevicesPolling(store);
        // The first refresh has read the world without the phone; now plug it in.
        QTRY_VERIFY_WITH_TIMEOUT(!SimWorld::calls(u"idevice_id"_s).isEmpty(), 20000);
        m_sandbox->world.setDeviceConnected(phone, true).write();

        QTRY_COMPARE_WITH_TIMEOUT(store.installed(), QSet<QString>{notes.url}, 30000);
        QCOMPARE(store.awaitingDevice(), std::nullopt);
        QVERIFY(!store.showDeviceHelp());
        QCOMPARE(store.notice(), u"Установлено на iPhone Jane: Notes Pro"_s);
    }

    // Closing the application mid-install stops the installer and still removes the copy.
    void destroyingTheStoreMidInstall()
    {
        m_sandbox->world.setTiming(u"installStep"_s, 300).write();
        const IPAFile notes = writePackage();
        Store& store = storeWith({notes});
        store.install(notes.url);
        QTRY_VERIFY2_WITH_TIMEOUT(store.installStatus().value_or(QString()).startsWith(u"Установка"_s),
                                  qPrintable(store.installStatus().value_or(u"-"_s)), 30000);
        m_store.reset();
        QTRY_COMPARE_WITH_TIMEOUT(installerCopies(), QStringList(), 30000);
        QVERIFY(SimWorld::installed(phone).isEmpty());
    }

private:
    // A Store that knows these files, and the phone: the world's, or one on `ios`.
    Store& storeWith(const QList<IPAFile>& files, const std::optional<QString>& ios = {})
    {
        m_store = std::make_unique<Store>(storeOptions());
        if (ios) {
            StoreTestAccess::connectDevice(*m_store, *ios, otherPhone);
        } else {
            m_sandbox->world.setDeviceConnected(phone, true).write();
            QCoro::waitFor(m_store->refreshDevices());
        }
        StoreTestAccess::setFiles(*m_store, files);
        return *m_store;
    }

    // Folders left in the temporary folder by installs (named by a UUID).
    [[nodiscard]] QStringList installerCopies() const
    {
        QStringList found = QDir(m_sandbox->tempFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
        found.removeIf([](const QString& name) { return QUuid::fromString(name).isNull(); });
        return found;
    }

    std::optional<Sandbox> m_sandbox;
    std::unique_ptr<Store> m_store;
};

QTEST_GUILESS_MAIN(PhoneTest)
#include "tst_phone.moc"
