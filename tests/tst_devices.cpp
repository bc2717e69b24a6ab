// Device listing and selection against the simulated device tools.

#include "sandbox.h"
#include "storeaccess.h"

#include "store/store.h"

#include <QCoroTask>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace telmora;
using namespace telmora::test;

namespace {

const QString phoneA = QStringLiteral("00008101-001A2B3C4D5E6F70");
const QString phoneB = QStringLiteral("00008030-000C3D4E5F607182");

QStringList ids(const QList<Device>& devices)
{
    QStringList list;
    for (const Device& device : devices)
        list.append(device.id);
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
    void init()
    {
        m_sandbox.emplace();
    }

    void cleanup() { m_sandbox.reset(); }

    void listing_data()
    {
        QTest::addColumn<QStringList>("printed");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("25 characters among empty and blank lines")
            << QStringList{phoneA, QString(), QStringLiteral("  \t ")} << QStringList{phoneA};
        QTest::newRow("40 hexadecimal digits") << QStringList{QStringLiteral("a1b2c3d4e5f6a1b2c3d4e5f6a1b2c3d4e5f6a1b2")}
                                               << QStringList{QStringLiteral("a1b2c3d4e5f6a1b2c3d4e5f6a1b2c3d4e5f6a1b2")};
        QTest::newRow("spaces and tabs around") << QStringList{QStringLiteral(" \t") + phoneA + QStringLiteral("\t ")}
                                                << QStringList{phoneA};
        QTest::newRow("19 hexadecimal characters") << QStringList{QStringLiteral("0123456789ABCDEF012")} << QStringList{};
        QTest::newRow("error line") << QStringList{QStringLiteral("ERROR: Unable to retrieve device list!")} << QStringList{};
        QTest::newRow("order kept") << QStringList{phoneB, phoneA} << QStringList{phoneB, phoneA};
    }

    void listing()
    {
        QFETCH(QStringList, printed);
        QFETCH(QStringList, expected);
        for (const QString& line : printed)
            m_sandbox->world.addDevice(line, QStringLiteral("iPhone"), QStringLiteral("17.4"));
        m_sandbox->world.write();

        Store store(storeOptions());
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(ids(store.devices()), expected);
        QCOMPARE(store.selectedDevice(), expected.isEmpty() ? std::nullopt : std::optional<QString>(expected.constFirst()));
    }

    void deviceServiceMissingThenAnswering()
    {
        m_sandbox->world.addDevice(phoneA, QStringLiteral("iPhone"), QStringLiteral("17.4"))
            .addFailure({.command = QStringLiteral("idevice_id"), .error = QStringLiteral("ERROR: Unable to retrieve device list!")})
            .write();
        Store store(storeOptions());
        QSignalSpy notices(&store, &Store::noticeChanged);
        QCoro::waitFor(store.refreshDevices());
        QCoro::waitFor(store.refreshDevices());
        QVERIFY(store.deviceServiceMissing());
        QCOMPARE(store.notice(), std::optional(deviceServiceNotice()));
        QCOMPARE(notices.count(), 1); // said once, not at every poll

        m_sandbox->world.clearFailures().write();
        QCoro::waitFor(store.refreshDevices());
        QVERIFY(!store.deviceServiceMissing());
        QCOMPARE(store.notice(), std::nullopt);
        QCOMPARE(ids(store.devices()), QStringList{phoneA});
    }

    void record_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("ios");
        QTest::addColumn<QString>("expectedName");
        QTest::addColumn<QString>("expectedVersion");

        QTest::newRow("name and version") << QStringLiteral("iPhone Ани") << QStringLiteral("17.4.1") << QStringLiteral("iPhone Ани")
                                          << QStringLiteral("17.4.1");
        QTest::newRow("no name") << QString() << QStringLiteral("16.0") << QStringLiteral("iPhone") << QStringLiteral("16.0");
        QTest::newRow("version without a dot") << QStringLiteral("Phone") << QStringLiteral("17") << QStringLiteral("Phone")
                                               << QStringLiteral("?");
        QTest::newRow("not a version") << QStringLiteral("Phone") << QStringLiteral("17.4 beta") << QStringLiteral("Phone")
                                       << QStringLiteral("?");
    }

    void record()
    {
        QFETCH(QString, name);
        QFETCH(QString, ios);
        QFETCH(QString, expectedName);
        QFETCH(QString, expectedVersion);
        m_sandbox->world.addDevice(phoneA, name, ios).write();

        Store store(storeOptions());
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(store.devices(), (QList<Device>{Device{phoneA, expectedName, expectedVersion}}));
        QCOMPARE(store.readyDevice().has_value(), expectedVersion != QLatin1String("?"));
    }

    // An untrusted phone is listed but never ready, and asked again on every refresh;
    // once its version is known it is not asked again and the list is not reassigned.
    void untrustedDeviceIsAskedUntilTrusted()
    {
        m_sandbox->world.addDevice(phoneA, QStringLiteral("iPhone Ани"), QStringLiteral("17.4.1"), false).write();
        const QStringList versionQuery{QStringLiteral("-u"), phoneA, QStringLiteral("-k"), QStringLiteral("ProductVersion")};

        Store store(storeOptions());
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(store.devices(), (QList<Device>{Device{phoneA, QStringLiteral("iPhone Ани"), QStringLiteral("?")}}));
        QCOMPARE(store.selectedDevice(), phoneA);
        QVERIFY(!store.readyDevice());
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(callsWith(QStringLiteral("ideviceinfo"), versionQuery), 2);

        m_sandbox->world.setDeviceTrusted(phoneA, true).write();
        QCoro::waitFor(store.refreshDevices());
        const Device trusted{phoneA, QStringLiteral("iPhone Ани"), QStringLiteral("17.4.1")};
        QCOMPARE(store.readyDevice(), trusted);

        QSignalSpy changes(&store, &Store::devicesChanged);
        QCoro::waitFor(store.refreshDevices());
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(changes.count(), 0);
        QCOMPARE(store.devices(), QList<Device>{trusted});
        QCOMPARE(callsWith(QStringLiteral("ideviceinfo"), versionQuery), 3);
        QCOMPARE(callsWith(QStringLiteral("idevice_id"), QStringList{phoneA}), 3);
    }

    void selectionFollowsThePhones()
    {
        m_sandbox->world.addDevice(phoneA, QStringLiteral("A"), QStringLiteral("17.4")).addDevice(phoneB, QStringLiteral("B"), QStringLiteral("16.1")).write();
        Store store(storeOptions());
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(store.selectedDevice(), phoneA);

        store.setSelectedDevice(phoneB);
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(store.selectedDevice(), phoneB);
        QCOMPARE(store.readyDevice()->name, QStringLiteral("B"));

        m_sandbox->world.setDeviceConnected(phoneB, false).write();
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(ids(store.devices()), QStringList{phoneA});
        QCOMPARE(store.selectedDevice(), phoneA);

        m_sandbox->world.setDeviceConnected(phoneA, false).write();
        QCoro::waitFor(store.refreshDevices());
        QVERIFY(store.devices().isEmpty());
        QCOMPARE(store.selectedDevice(), std::nullopt);
        QVERIFY(!store.readyDevice());

        m_sandbox->world.setDeviceConnected(phoneA, true).write();
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(store.selectedDevice(), phoneA);

        // usbmuxd gone: the listing fails and empties the list.
        m_sandbox->world.addFailure({.command = QStringLiteral("idevice_id"), .error = QStringLiteral("ERROR: Unable to retrieve device list!")})
            .write();
        QCoro::waitFor(store.refreshDevices());
        QVERIFY(store.devices().isEmpty());
        QCOMPARE(store.selectedDevice(), std::nullopt);
    }

    void overlappingRefreshIsSkipped()
    {
        m_sandbox->world.addDevice(phoneA, QStringLiteral("A"), QStringLiteral("17.4")).setTiming(QStringLiteral("device"), 300).write();
        Store store(storeOptions());
        QCoro::Task<> first = store.refreshDevices();
        QCoro::Task<> second = store.refreshDevices();
        QVERIFY(second.isReady());
        QCoro::waitFor(first);
        QCOMPARE(callsWith(QStringLiteral("idevice_id"), QStringList{QStringLiteral("-l")}), 1);

        // The guard is released: the next refresh runs again.
        QCoro::waitFor(store.refreshDevices());
        QCOMPARE(callsWith(QStringLiteral("idevice_id"), QStringList{QStringLiteral("-l")}), 2);
    }

private:
    std::optional<Sandbox> m_sandbox;
};

QTEST_GUILESS_MAIN(DevicesTest)
#include "tst_devices.moc"
