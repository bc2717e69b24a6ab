// Device listing and selection against the simulated device tools.
#include "store/store.h"

#include "sandbox.h"
#include "storeaccess.h"

#include <QCoroTask>
#include <QSignalSpy>
#include <QtTest>

using namespace telmora;
using namespace telmora::test;
using namespace Qt::StringLiterals;

namespace {

const QString phoneA = u"00008101-001A2B3C4D5E6F70"_s;
const QString phoneB = u"00008030-000C3D4E5F607182"_s;
const QString serviceDown = u"ERROR: Unable to retrieve device list!"_s;

// "id/name/version" per device.
QStringList shown(const QList<Device>& devices)
{
    QStringList list;
    for (const Device& device : devices)
        list.append(device.id + u'/' + device.name + u'/' + device.iosVersion);
    return list;
}

qsizetype callsWith(const QString& tool, const QStringList& args)
{
    const QList<QStringList> calls = SimWorld::calls(tool);
    return std::count(calls.cbegin(), calls.cend(), args);
}

} // namespace

class DevicesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { m_sandbox.emplace(); }
    void cleanup() { m_sandbox.reset(); }

    void listing_data()
    {
        QTest::addColumn<QStringList>("printed"); // lines of idevice_id, each a phone with this name and version
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("ios");
        QTest::addColumn<QStringList>("expected");
        const QString a = phoneA + u"/iPhone/17.4"_s;
        QTest::newRow("25 characters among empty and blank lines") << QStringList{phoneA, QString(), u"  \t "_s} << "iPhone" << "17.4"
                                                                   << QStringList{a};
        QTest::newRow("40 hexadecimal digits") << QStringList{u"a1b2c3d4e5f6a1b2c3d4e5f6a1b2c3d4e5f6a1b2"_s} << "iPhone" << "17.4"
                                               << QStringList{u"a1b2c3d4e5f6a1b2c3d4e5f6a1b2c3d4e5f6a1b2/iPhone/17.4"_s};
        // (ideviceinfo knows no phone under the trimmed id)
        QTest::newRow("spaces and tabs around") << QStringList{u" \t"_s + phoneA + u"\t "_s} << "iPhone" << "17.4"
                                                << QStringList{phoneA + u"/iPhone/?"_s};
        QTest::newRow("19 hexadecimal characters") << QStringList{u"0123456789ABCDEF012"_s} << "iPhone" << "17.4" << QStringList{};
        QTest::newRow("error line") << QStringList{serviceDown} << "iPhone" << "17.4" << QStringList{};
        QTest::newRow("order kept") << QStringList{phoneB, phoneA} << "iPhone" << "17.4" << QStringList{phoneB + u"/iPhone/17.4"_s, a};
        QTest::newRow("name and version") << QStringList{phoneA} << "iPhone Ани" << "17.4.1" << QStringList{phoneA + u"/iPhone Ани/17.4.1"_s};
        QTest::newRow("no name") << QStringList{phoneA} << QString() << "16.0" << QStringList{phoneA + u"/iPhone/16.0"_s};
        QTest::newRow("version without a dot") << QStringList{phoneA} << "Phone" << "17" << QStringList{phoneA + u"/Phone/?"_s};
        QTest::newRow("not a version") << QStringList{phoneA} << "Phone" << "17.4 beta" << QStringList{phoneA + u"/Phone/?"_s};
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
        QCOMPARE(shown(store.devices()), expected);
        QCOMPARE(store.selectedDevice(), expected.isEmpty() ? std::nullopt : std::optional(expected.constFirst().section(u'/', 0, 0)));
        QCOMPARE(store.readyDevice().has_value(), !expected.isEmpty() && !expected.constFirst().endsWith(u"/?"));
    }

    void deviceServiceMissingThenAnswering()
    {
        m_sandbox->world.addDevice(phoneA, u"iPhone"_s, u"17.4"_s).addFailure({.command = u"idevice_id"_s, .error = serviceDown}).write();
        Store store(storeOptions());
        QSignalSpy notices(&store, &Store::noticeChanged);
        QCoro::waitFor(store.refreshDevices());
        QCoro::waitFor(store.refreshDevices());
        QVERIFY(store.deviceServiceMissing());
        QCOMPARE(store.notice(), deviceServiceNotice());
        QCOMPARE(notices.count(), 1); // said once, not at every poll

        m_sandbox->world.clearFailures().write();
        QCoro::waitFor(store.refreshDevices());
        QVERIFY(!store.deviceServiceMissing());
        QCOMPARE(store.notice(), std::nullopt);
        QCOMPARE(shown(store.devices()), QStringList{phoneA + u"/iPhone/17.4"_s});
    }

    // An untrusted phone is listed but never ready, and asked again on every refresh;
    // once its version is known it is not asked again and the list is not reassigned.
    void untrustedDeviceIsAskedUntilTrusted()
    {
        m_sandbox->world.addDevice(phoneA, u"iPhone Ани"_s, u"17.4.1"_s, false).write();
        const QStringList versionQuery{u"-u"_s, phoneA, u"-k"_s, u"ProductVersion"_s};
        Store store(storeOptions());
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(shown(store.devices()), QStringList{phoneA + u"/iPhone Ани/?"_s});
        QCOMPARE(store.selectedDevice(), phoneA);
        QVERIFY(!store.readyDevice());
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(callsWith(u"ideviceinfo"_s, versionQuery), 2);

        m_sandbox->world.setDeviceTrusted(phoneA, true).write();
        QCoro::waitFor(store.refreshDevices());
        const Device trusted{phoneA, u"iPhone Ани"_s, u"17.4.1"_s};
        QCOMPARE(store.readyDevice(), trusted);

        QSignalSpy changes(&store, &Store::devicesChanged);
        QCoro::waitFor(store.refreshDevices());
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(changes.count(), 0);
        QCOMPARE(store.devices(), QList<Device>{trusted});
        QCOMPARE(callsWith(u"ideviceinfo"_s, versionQuery), 3);
        QCOMPARE(callsWith(u"idevice_id"_s, QStringList{phoneA}), 3);
    }

    void selectionFollowsThePhones()
    {
        m_sandbox->world.addDevice(phoneA, u"A"_s, u"17.4"_s).addDevice(phoneB, u"B"_s, u"16.1"_s).write();
        Store store(storeOptions());
        const auto refresh = [&store](SimWorld& world) {
            world.write();
            QCoro::waitFor(store.refreshDevices());
        };
        refresh(m_sandbox->world);
        QCOMPARE(store.selectedDevice(), phoneA);

        store.setSelectedDevice(phoneB);
        refresh(m_sandbox->world);
        QCOMPARE(store.selectedDevice(), phoneB);
        QCOMPARE(store.readyDevice()->name, u"B"_s);

        refresh(m_sandbox->world.setDeviceConnected(phoneB, false));
        QCOMPARE(shown(store.devices()), QStringList{phoneA + u"/A/17.4"_s});
        QCOMPARE(store.selectedDevice(), phoneA);

        refresh(m_sandbox->world.setDeviceConnected(phoneA, false));
        QVERIFY(store.devices().isEmpty());
        QCOMPARE(store.selectedDevice(), std::nullopt);
        QVERIFY(!store.readyDevice());

        refresh(m_sandbox->world.setDeviceConnected(phoneA, true));
        QCOMPARE(store.selectedDevice(), phoneA);

        // usbmuxd gone: the listing fails and empties the list.
        refresh(m_sandbox->world.addFailure({.command = u"idevice_id"_s, .error = serviceDown}));
        QVERIFY(store.devices().isEmpty());
        QCOMPARE(store.selectedDevice(), std::nullopt);
    }

    void overlappingRefreshIsSkipped()
    {
        m_sandbox->world.addDevice(phoneA, u"A"_s, u"17.4"_s).setTiming(u"device"_s, 300).write();
        Store store(storeOptions());
        QCoro::Task<> first = store.refreshDevices();
        QCoro::Task<> second = store.refreshDevices();
        QVERIFY(second.isReady());
        QCoro::waitFor(first);
        QCOMPARE(callsWith(u"idevice_id"_s, QStringList{u"-l"_s}), 1);

        // The guard is released: the next refresh runs again.
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(callsWith(u"idevice_id"_s, QStringList{u"-l"_s}), 2);
    }

private:
    std::optional<Sandbox> m_sandbox;
};

QTEST_GUILESS_MAIN(DevicesTest)
#include "tst_devices.moc"
