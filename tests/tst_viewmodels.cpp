// The models between the Store and the views: rows follow the Store's lists in place (a
// progress tick or an arriving detail changes one row), filters, selection, install states,
// the root view's sheet order and download bar, the footer and the versions timeline.
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
using namespace Qt::Literals::StringLiterals;

namespace {

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
    Job job{.app = item, .state = Job::State::running()};
    job.fraction = fraction;
    return job;
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
    const QList<AppItem> m_apps{app(u"1"_s, u"Яндекс Карты"_s), app(u"2"_s, u"Telegram"_s),
                                app(u"3"_s, u"Яндекс Музыка"_s), app(u"4"_s, u"Тинькофф"_s)};

    // A purchases model over m_apps, watched by Qt's model tester.
    std::unique_ptr<AppListModel> purchasesModel()
    {
        StoreTestAccess::setPurchases(*m_store, m_apps);
        auto model = std::make_unique<AppListModel>();
        watch(model.get());
        model->setSource(AppListModel::Source::Purchases);
        model->setStore(m_store.get());
        return model;
    }
    // Qt's model tester checks every change of the model.
    static void watch(QAbstractItemModel* model) { new QAbstractItemModelTester(model, QAbstractItemModelTester::FailureReportingMode::QtTest, model); }

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
        watch(&jobs);
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
        QCOMPARE(jobs.index(0).data(JobListModel::StatusRole).toString(), u"50%"_s);
        QCOMPARE(apps->index(2).data(AppListModel::SituationRole).value<AppSituation>().fraction, std::optional(0.5));
    }

    void detailsUpdateTheirAppsRows()
    {
        auto apps = purchasesModel();
        QSignalSpy changed(apps.get(), &QAbstractItemModel::dataChanged);
        AppDetails details;
        details.seller = u"Durov"_s;
        details.artwork = QUrl(u"https://example.com/t.png"_s);
        StoreTestAccess::setDetail(*m_store, u"2"_s, details);
        QCOMPARE(touchedRows(changed), QList<int>{1});
        QCOMPARE(apps->index(1).data(AppListModel::SubtitleRole).toString(), u"Durov"_s);
        QCOMPARE(apps->index(1).data(AppListModel::ArtworkRole).toString(), u"https://example.com/t.png"_s);
    }

    void filterAndSelection()
    {
        auto apps = purchasesModel();
        apps->select(0, Qt::NoModifier);
        apps->select(2, Qt::ShiftModifier);
        QCOMPARE(apps->selectionCount(), 3);
        apps->select(1, Qt::ControlModifier);
        QCOMPARE(apps->selectionCount(), 2);

        apps->setFilter(u" яНДЕКС "_s);
        QCOMPARE(ids(*apps, AppListModel::AppIdRole), (QStringList{u"1"_s, u"3"_s}));
        // Hidden by the filter, still selected, in the list's order.
        QCOMPARE(apps->selectedItems(), (QList<AppItem>{m_apps.at(0), m_apps.at(2)}));

        apps->setFilter({});
        QCOMPARE(apps->rowCount(), 4);
        QCOMPARE(apps->step(0, 1, Qt::NoModifier), 1);
        QCOMPARE(apps->selectedItems(), QList<AppItem>{m_apps.at(1)});
        QCOMPARE(apps->step(1, 1, Qt::ShiftModifier), 2); // Shift extends the selection
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
        watch(&model);
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
        QList<IPAFile> files;
        for (const QString& id : {u"1"_s, u"2"_s, u"3"_s, u"4"_s})
            files.append(IPAFile{.url = u"/downloads/%1.ipa"_s.arg(id), .appID = id});
        StoreTestAccess::setFiles(*m_store, files);
        FileListModel model;
        watch(&model);
        model.setStore(m_store.get());
        StoreTestAccess::setInstalling(*m_store, files.at(0).url);
        StoreTestAccess::setInstallQueue(*m_store, {files.at(1).url});
        StoreTestAccess::setInstallErrors(*m_store, {{files.at(2).url, u"Нет места"_s}});
        StoreTestAccess::setInstalled(*m_store, {files.at(2).url, files.at(3).url});
        using State = FileListModel::InstallState;
        const QList<State> expected{State::Installing, State::Queued, State::Failed, State::Installed};
        for (int row = 0; row < 4; ++row)
            QCOMPARE(model.index(row).data(FileListModel::StateRole).value<State>(), expected.at(row));
        QCOMPARE(model.index(2).data(FileListModel::MessageRole).toString(), u"Нет места"_s);
        QCOMPARE(model.index(2).data(FileListModel::MarkRole).toString(), u"exclamationmark"_s);
        QCOMPARE(model.index(3).data(FileListModel::ActionTitleRole).toString(), u"Установить снова"_s);
    }

    void rootSheetAndDownloadBar()
    {
        RootModel root;
        root.setStore(m_store.get());
        QCOMPARE(root.sheet(), RootModel::Sheet::None);
        m_store->setAwaitingDevice(AwaitingDevice{u"/downloads/A.ipa"_s, u"Notes"_s});
        QCOMPARE(root.sheet(), RootModel::Sheet::DeviceHelp);
        m_store->setShowLogin(true);
        QCOMPARE(root.sheet(), RootModel::Sheet::Login); // the sign-in comes first; the help waits
        m_store->setShowLogin(false);
        QCOMPARE(root.sheet(), RootModel::Sheet::DeviceHelp);
        root.dismissSheet();
        QVERIFY(root.sheet() == RootModel::Sheet::None && !m_store->showDeviceHelp());
        // The first running job has no percentage: the bar is indeterminate (the rest: tst_interface::downloadsBadgeAndBar).
        StoreTestAccess::setJobs(*m_store, {running(m_apps.at(1), std::nullopt), running(m_apps.at(2), 0.7)});
        QVERIFY(root.downloadRunning() && !root.downloadFraction().isValid());
    }

    // The texts are tst_labels' rows; here, what the footer takes from the Store.
    void footer()
    {
        const Device ready{u"A"_s, u"iPhone Анны"_s, u"17.4.1"_s};
        const Device untrusted{u"B"_s, u"iPhone Максима"_s, u"?"_s};
        StoreTestAccess::setDevices(*m_store, {ready, untrusted});
        m_store->setSelectedDevice(ready.id);
        FooterModel footer;
        footer.setStore(m_store.get());
        const auto device = [&] { return footer.deviceTitle() + u" | "_s + footer.deviceSubtitle(); };
        QVERIFY(footer.deviceMenu()); // two make a menu
        QCOMPARE(device(), u"iPhone Анны | iOS 17.4.1"_s);
        QCOMPARE(footer.deviceEntries().at(1).toMap().value(u"text"_s).toString(), u"iPhone Максима, iOS ?"_s);
        StoreTestAccess::setDevices(*m_store, {untrusted});
        QVERIFY(!footer.deviceMenu());
        QCOMPARE(device(), u"iPhone не подключён | Нажмите «Доверять» на iPhone"_s);
        StoreTestAccess::setDevices(*m_store, {});
        QCOMPARE(device(), u"iPhone не подключён | Что нужно сделать"_s);

        QVERIFY(!footer.signInShown()); // not before the first check
        StoreTestAccess::setEmail(*m_store, u"anna@example.com"_s);
        StoreTestAccess::setSavedAccounts(*m_store, {u"max@example.com"_s});
        QCOMPARE(footer.accountLetter() + footer.accountTitle() + footer.accountSubtitle(), u"Aanna@example.comи ещё 1"_s);
        StoreTestAccess::setUpdateOffer(*m_store, UpdateOffer{.version = u"1.2"_s});
        QVERIFY(!footer.updateShown()); // idle
        StoreTestAccess::setUpdatePhase(*m_store, UpdatePhase::downloading(0.5));
        QCOMPARE(footer.updateTitle(), u"Скачиваю: 50%"_s);
    }

    void versionsTimeline_data()
    {
        QTest::addColumn<std::optional<QString>>("ios");
        QTest::addColumn<int>("suitable");
        QTest::newRow("iOS 12.0: the 12.0 row, not 9.3") << std::optional<QString>(u"12.0"_s) << 1;
        QTest::newRow("iOS 9.0: none") << std::optional<QString>(u"9.0"_s) << -1;
        QTest::newRow("no phone: none") << std::optional<QString>() << -1;
    }
    void versionsTimeline()
    {
        QFETCH(std::optional<QString>, ios);
        QFETCH(int, suitable);
        if (ios)
            StoreTestAccess::connectDevice(*m_store, *ios);
        StoreTestAccess::setVersions(*m_store, {version(u"30"_s, u"3.0"_s, u"15.0"_s), version(u"20"_s, u"2.0"_s, u"12.0"_s),
                                                version(u"10"_s, u"1.0"_s, u"9.3"_s), version(u"5"_s)});
        VersionListModel model;
        watch(&model);
        model.setStore(m_store.get());
        for (int row = 0; row < model.rowCount(); ++row)
            QCOMPARE(model.index(row).data(VersionListModel::SuitableRole).toBool(), row == suitable);
        QCOMPARE(model.actionTitle(), ios ? u"Установить"_s : u"Скачать"_s);
        QCOMPARE(model.index(3).data(VersionListModel::SubtitleRole).toString(), u"ID версии 5"_s);
        QCOMPARE(model.index(3).data(VersionListModel::TitleRole).toString(), QString());
        QVERIFY(model.index(0).data(VersionListModel::FirstRole).toBool() && model.index(3).data(VersionListModel::LastRole).toBool());
        QVERIFY(model.missingDetails());

        // The last row's details arrive: that row changes, and nothing is left to load.
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QList<VersionRow> filled = m_store->versions();
        filled[3] = version(u"5"_s, u"0.9"_s, u"9.0"_s);
        StoreTestAccess::setVersions(*m_store, filled);
        QCOMPARE(touchedRows(changed), QList<int>{3});
        QCOMPARE(model.index(3).data(VersionListModel::SubtitleRole).toString(), u"iOS 9.0+ · ID версии 5"_s);
        QVERIFY(!model.missingDetails());
    }
};

QTEST_GUILESS_MAIN(ViewModelsTest)
#include "tst_viewmodels.moc"
