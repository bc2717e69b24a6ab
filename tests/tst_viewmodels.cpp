// The models between the Store and the views: rows follow the Store's lists in place (a
// progress tick or an arriving detail changes one row), filters, selection, install states,
// the root view's sheet order and download bar, the account footer and the versions timeline.
#include "store/store.h"
#include "ui/applistmodel.h"
#include "ui/queuemodels.h"
#include "ui/footermodel.h"
#include "ui/rootmodel.h"
#include "ui/versionlistmodel.h"

#include "storeaccess.h"
#include "sandbox.h"

#include <QAbstractItemModelTester>
#include <QtTest>

#include <memory>

using namespace telmora;
using telmora::test::Sandbox;

namespace {

Device phone(const QString& id, const QString& name, const QString& ios) { return Device{id, name, ios}; }

VersionRow version(const QString& id, std::optional<QString> display = {}, std::optional<QString> minOS = {})
{
    VersionRow row{id, {}};
    if (display)
        row.meta = VersionMeta{display, minOS};
    return row;
}

AppItem app(const QString& id, const QString& name) { return AppItem{id, name, {}, {}, {}, {}}; }

Job running(const AppItem& item, std::optional<double> fraction)
{
    Job job;
    job.app = item;
    job.state = Job::State::running();
    job.fraction = fraction;
    return job;
}

IPAFile stored(const QString& name, const QString& appID)
{
    IPAFile file;
    file.url = QStringLiteral("/downloads/") + name;
    file.info = IPAInfo{name, QStringLiteral("1.0"), QStringLiteral("15.0"), QStringLiteral("iOS")};
    file.size = 1000;
    file.appID = appID;
    return file;
}

QStringList ids(const QAbstractItemModel& model, int role)
{
    QStringList found;
    for (int row = 0; row < model.rowCount(); ++row)
        found.append(model.index(row, 0).data(role).toString());
    return found;
}

// The rows a set of dataChanged signals touched.
QList<int> touchedRows(const QSignalSpy& spy)
{
    QList<int> rows;
    for (const QList<QVariant>& signal : spy) {
        const auto first = signal.at(0).value<QModelIndex>();
        const auto last = signal.at(1).value<QModelIndex>();
        for (int row = first.row(); row <= last.row(); ++row)
            rows.append(row);
    }
    return rows;
}

} // namespace

class ViewModelsTest : public QObject {
    Q_OBJECT

    std::optional<Sandbox> m_sandbox;
    std::unique_ptr<Store> m_store;
    const QList<AppItem> m_apps{app(QStringLiteral("1"), QStringLiteral("Яндекс Карты")), app(QStringLiteral("2"), QStringLiteral("Telegram")),
                                app(QStringLiteral("3"), QStringLiteral("Яндекс Музыка")), app(QStringLiteral("4"), QStringLiteral("Тинькофф"))};

    // A purchases model over m_apps, watched by Qt's model tester.
    std::unique_ptr<AppListModel> purchasesModel()
    {
        StoreTestAccess::setPurchases(*m_store, m_apps);
        auto model = std::make_unique<AppListModel>();
        new QAbstractItemModelTester(model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest, model.get());
        model->setSource(AppListModel::Source::Purchases);
        model->setStore(m_store.get());
        return model;
    }

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        m_store = std::make_unique<Store>(test::storeOptions());
    }
    void cleanup()
    {
        m_store.reset();
        m_sandbox.reset();
    }

    void progressTickChangesOneRow()
    {
        auto apps = purchasesModel();
        JobListModel jobs;
        QAbstractItemModelTester jobsTester(&jobs, QAbstractItemModelTester::FailureReportingMode::QtTest);
        jobs.setStore(m_store.get());
        // The views have shown every row's button.
        for (int row = 0; row < apps->rowCount(); ++row)
            apps->index(row).data(AppListModel::SituationRole);

        Job job = running(m_apps.at(2), 0.1);
        StoreTestAccess::setJobs(*m_store, {job});
        QCOMPARE(jobs.rowCount(), 1);
        QTRY_COMPARE(apps->index(2).data(AppListModel::SituationRole).value<AppSituation>().fraction, std::optional(0.1));

        QSignalSpy appRows(apps.get(), &QAbstractItemModel::dataChanged);
        QSignalSpy jobRows(&jobs, &QAbstractItemModel::dataChanged);
        QSignalSpy jobResets(&jobs, &QAbstractItemModel::modelReset);
        job.fraction = 0.5;
        StoreTestAccess::setJobs(*m_store, {job});
        QTRY_COMPARE(touchedRows(appRows), QList<int>{2});
        QCOMPARE(touchedRows(jobRows), QList<int>{0});
        QCOMPARE(jobResets.count(), 0);
        QCOMPARE(jobs.index(0).data(JobListModel::StatusRole).toString(), QStringLiteral("50%"));
        QCOMPARE(apps->index(2).data(AppListModel::SituationRole).value<AppSituation>().fraction, std::optional(0.5));
    }

    void detailsUpdateTheirAppsRows()
    {
        auto apps = purchasesModel();
        QSignalSpy changed(apps.get(), &QAbstractItemModel::dataChanged);
        AppDetails details;
        details.seller = QStringLiteral("Durov");
        details.artwork = QUrl(QStringLiteral("https://example.com/t.png"));
        StoreTestAccess::setDetail(*m_store, QStringLiteral("2"), details);
        QCOMPARE(touchedRows(changed), QList<int>{1});
        QCOMPARE(apps->index(1).data(AppListModel::SubtitleRole).toString(), QStringLiteral("Durov"));
        QCOMPARE(apps->index(1).data(AppListModel::ArtworkRole).toString(), QStringLiteral("https://example.com/t.png"));
    }

    void filterAndSelection()
    {
        auto apps = purchasesModel();
        apps->select(0, Qt::NoModifier);
        apps->select(2, Qt::ShiftModifier);
        QCOMPARE(apps->selectionCount(), 3);
        apps->select(1, Qt::ControlModifier);
        QCOMPARE(apps->selectionCount(), 2);

        apps->setFilter(QStringLiteral(" яНДЕКС "));
        QCOMPARE(ids(*apps, AppListModel::AppIdRole), (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
        apps->setFilter(QStringLiteral("тинь"));
        QCOMPARE(ids(*apps, AppListModel::AppIdRole), QStringList{QStringLiteral("4")});
        // Hidden by the filter, still selected, in the list's order.
        QCOMPARE(apps->selectedItems(), (QList<AppItem>{m_apps.at(0), m_apps.at(2)}));

        apps->setFilter({});
        QCOMPARE(apps->rowCount(), 4);
        QCOMPARE(apps->step(0, 1, Qt::NoModifier), 1);
        QCOMPARE(apps->selectedItems(), QList<AppItem>{m_apps.at(1)});
        QCOMPARE(apps->step(1, 1, Qt::ShiftModifier), 2);
        QCOMPARE(apps->selectedItems(), (QList<AppItem>{m_apps.at(1), m_apps.at(2)}));

        // A reload drops selected apps that left the list.
        StoreTestAccess::setPurchases(*m_store, {m_apps.at(0), m_apps.at(2)});
        QCOMPARE(apps->selectedItems(), QList<AppItem>{m_apps.at(2)});
    }

    void rowsFollowTheStoresList_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("replaced"); // all rows out, then all in
        QTest::newRow("removed") << "abcd" << "acd" << false;
        QTest::newRow("inserted at both ends") << "bc" << "abcd" << false;
        QTest::newRow("replaced") << "abcd" << "axcy" << false;
        QTest::newRow("emptied") << "abc" << "" << false;
        QTest::newRow("reordered") << "abc" << "cab" << true;
        QTest::newRow("repeated id") << "abc" << "abca" << true;
    }
    void rowsFollowTheStoresList()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(bool, replaced);
        const auto list = [](const QString& letters) {
            QList<AppItem> items;
            for (QChar letter : letters)
                items.append(app(letter, letter));
            return items;
        };
        StoreTestAccess::setResults(*m_store, list(before));
        AppListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setSource(AppListModel::Source::Results);
        model.setStore(m_store.get());
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        StoreTestAccess::setResults(*m_store, list(after));
        QCOMPARE(ids(model, AppListModel::AppIdRole).join(QString()), after);
        const bool all = std::any_of(removed.cbegin(), removed.cend(), [&](const QList<QVariant>& signal) {
            return signal.at(1).toInt() == 0 && signal.at(2).toInt() == before.size() - 1;
        });
        QCOMPARE(all && !after.isEmpty(), replaced);
    }

    void fileInstallStates()
    {
        const QList<IPAFile> files{stored(QStringLiteral("A.ipa"), QStringLiteral("1")), stored(QStringLiteral("B.ipa"), QStringLiteral("2")),
                                   stored(QStringLiteral("C.ipa"), QStringLiteral("3")), stored(QStringLiteral("D.ipa"), QStringLiteral("4"))};
        StoreTestAccess::setFiles(*m_store, files);
        FileListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setStore(m_store.get());
        StoreTestAccess::setInstalling(*m_store, files.at(0).url);
        StoreTestAccess::setInstallQueue(*m_store, {files.at(1).url});
        StoreTestAccess::setInstallErrors(*m_store, {{files.at(2).url, QStringLiteral("Нет места")}});
        StoreTestAccess::setInstalled(*m_store, {files.at(2).url, files.at(3).url});
        using State = FileListModel::InstallState;
        const QList<State> expected{State::Installing, State::Queued, State::Failed, State::Installed};
        for (int row = 0; row < 4; ++row)
            QCOMPARE(model.index(row).data(FileListModel::StateRole).value<State>(), expected.at(row));
        QCOMPARE(model.index(2).data(FileListModel::MessageRole).toString(), QStringLiteral("Нет места"));
        QCOMPARE(model.index(2).data(FileListModel::MarkRole).toString(), QStringLiteral("exclamationmark"));
        QCOMPARE(model.index(3).data(FileListModel::ActionTitleRole).toString(), QStringLiteral("Установить снова"));
    }

    void oneSheetAtATime()
    {
        RootModel root;
        root.setStore(m_store.get());
        QCOMPARE(root.sheet(), RootModel::Sheet::None);
        m_store->setAwaitingDevice(AwaitingDevice{QStringLiteral("/downloads/A.ipa"), QStringLiteral("Notes")});
        QCOMPARE(root.sheet(), RootModel::Sheet::DeviceHelp);
        m_store->setShowLogin(true);
        QCOMPARE(root.sheet(), RootModel::Sheet::Login); // the sign-in comes first; the help waits
        m_store->setShowLogin(false);
        QCOMPARE(root.sheet(), RootModel::Sheet::DeviceHelp);
        root.dismissSheet();
        QCOMPARE(root.sheet(), RootModel::Sheet::None);
        QVERIFY(!m_store->showDeviceHelp());
    }

    void downloadBarIsIndeterminateWithoutAPercentage()
    {
        RootModel root;
        root.setStore(m_store.get());
        StoreTestAccess::setJobs(*m_store, {running(m_apps.at(1), std::nullopt), running(m_apps.at(2), 0.7)});
        QVERIFY(root.downloadRunning());
        QVERIFY(!root.downloadFraction().isValid());
    }

    void footer_data()
    {
        QTest::addColumn<QList<Device>>("devices");
        QTest::addColumn<bool>("menu");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("subtitle");
        const Device ready = phone(QStringLiteral("A"), QStringLiteral("iPhone Анны"), QStringLiteral("17.4.1"));
        const Device untrusted = phone(QStringLiteral("B"), QStringLiteral("iPhone Максима"), QStringLiteral("?"));
        QTest::newRow("none") << QList<Device>{} << false << "iPhone не подключён" << "Что нужно сделать";
        QTest::newRow("one untrusted") << QList<Device>{untrusted} << false << "iPhone не подключён" << "Нажмите «Доверять» на iPhone";
        QTest::newRow("one ready") << QList<Device>{ready} << false << "iPhone Анны" << "iOS 17.4.1";
        QTest::newRow("two make a menu") << QList<Device>{ready, untrusted} << true << "iPhone Анны" << "iOS 17.4.1";
    }
    void footer()
    {
        QFETCH(QList<Device>, devices);
        QFETCH(bool, menu);
        QFETCH(QString, title);
        QFETCH(QString, subtitle);
        StoreTestAccess::setDevices(*m_store, devices);
        m_store->setSelectedDevice(devices.isEmpty() ? std::nullopt : std::optional(devices.first().id));
        FooterModel footer;
        footer.setStore(m_store.get());
        QCOMPARE(footer.deviceMenu(), menu);
        QCOMPARE(footer.deviceTitle(), title);
        QCOMPARE(footer.deviceSubtitle(), subtitle);
        if (menu)
            QCOMPARE(footer.deviceEntries().at(1).toMap().value(QStringLiteral("text")).toString(), QStringLiteral("iPhone Максима, iOS ?"));
    }

    void footerAccountAndUpdate()
    {
        FooterModel footer;
        footer.setStore(m_store.get());
        QVERIFY(!footer.signInShown()); // not before the first check
        StoreTestAccess::setEmail(*m_store, QStringLiteral("anna@example.com"));
        QCOMPARE(footer.accountTitle(), QStringLiteral("anna@example.com"));
        QCOMPARE(footer.accountLetter(), QStringLiteral("A"));
        QCOMPARE(footer.accountSubtitle(), QStringLiteral("Аккаунт Apple"));
        StoreTestAccess::setSavedAccounts(*m_store, {QStringLiteral("max@example.com")});
        QCOMPARE(footer.accountSubtitle(), QStringLiteral("и ещё 1"));

        UpdateOffer offer;
        offer.version = QStringLiteral("1.2");
        StoreTestAccess::setUpdateOffer(*m_store, offer);
        QVERIFY(!footer.updateShown()); // idle
        StoreTestAccess::setUpdatePhase(*m_store, UpdatePhase::available());
        QCOMPARE(footer.updateTitle(), QStringLiteral("Доступна версия 1.2"));
        StoreTestAccess::setUpdatePhase(*m_store, UpdatePhase::downloading(0.999));
        QCOMPARE(footer.updateTitle(), QStringLiteral("Скачиваю: 99%"));
        StoreTestAccess::setUpdatePhase(*m_store, UpdatePhase::installing());
        QCOMPARE(footer.updateTitle(), QStringLiteral("Устанавливаю…"));
    }

    void versionsTimeline_data()
    {
        QTest::addColumn<std::optional<QString>>("ios");
        QTest::addColumn<int>("suitable");
        QTest::newRow("iOS 12.0: the 12.0 row, not 9.3") << std::optional<QString>(QStringLiteral("12.0")) << 1;
        QTest::newRow("iOS 9.0: none") << std::optional<QString>(QStringLiteral("9.0")) << -1;
        QTest::newRow("no phone: none") << std::optional<QString>() << -1;
    }
    void versionsTimeline()
    {
        QFETCH(std::optional<QString>, ios);
        QFETCH(int, suitable);
        if (ios)
            StoreTestAccess::connectDevice(*m_store, *ios);
        StoreTestAccess::setVersions(*m_store, {version(QStringLiteral("30"), QStringLiteral("3.0"), QStringLiteral("15.0")),
                                                version(QStringLiteral("20"), QStringLiteral("2.0"), QStringLiteral("12.0")),
                                                version(QStringLiteral("10"), QStringLiteral("1.0"), QStringLiteral("9.3")),
                                                version(QStringLiteral("5"))});
        VersionListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setStore(m_store.get());
        for (int row = 0; row < model.rowCount(); ++row)
            QCOMPARE(model.index(row).data(VersionListModel::SuitableRole).toBool(), row == suitable);
        QCOMPARE(model.actionTitle(), ios ? QStringLiteral("Установить") : QStringLiteral("Скачать"));
        QCOMPARE(model.index(3).data(VersionListModel::SubtitleRole).toString(), QStringLiteral("ID версии 5"));
        QCOMPARE(model.index(3).data(VersionListModel::TitleRole).toString(), QString());
        QVERIFY(model.index(0).data(VersionListModel::FirstRole).toBool() && model.index(3).data(VersionListModel::LastRole).toBool());
        QVERIFY(model.missingDetails());

        // The last row's details arrive: that row changes, and nothing is left to load.
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QList<VersionRow> filled = m_store->versions();
        filled[3] = version(QStringLiteral("5"), QStringLiteral("0.9"), QStringLiteral("9.0"));
        StoreTestAccess::setVersions(*m_store, filled);
        QCOMPARE(touchedRows(changed), QList<int>{3});
        QCOMPARE(model.index(3).data(VersionListModel::SubtitleRole).toString(), QStringLiteral("iOS 9.0+ · ID версии 5"));
        QVERIFY(!model.missingDetails());
    }
};

QTEST_GUILESS_MAIN(ViewModelsTest)
#include "tst_viewmodels.moc"
