// Between the Store and the views: the models (rows follow the Store's lists in place),
// the text rules of the screens, and the images the interface draws.
#include "store/store.h"
#include "ui/applistmodel.h"
#include "ui/artwork.h"
#include "ui/icons.h"
#include "ui/labels.h"
#include "ui/queuemodels.h"
#include "ui/footermodel.h"
#include "ui/rootmodel.h"
#include "ui/versionlistmodel.h"

#include "httpserver.h"
#include "sandbox.h"
#include "storeaccess.h"

#include <QAbstractItemModelTester>
#include <QPainter>
#include <QQuickImageResponse>
#include <QtTest>

#include <functional>
#include <memory>

using namespace telmora;
using telmora::test::Sandbox;
using namespace Qt::Literals::StringLiterals;
using Rule = std::function<QString()>;
Q_DECLARE_METATYPE(Rule)

namespace {

AppItem app(const QString& id, const QString& name) { return AppItem{id, name, {}, {}, {}, {}}; }

Job running(const AppItem& item, std::optional<double> fraction, std::optional<QString> detail = {}) { return Job{.app = item, .state = Job::State::running(), .fraction = fraction, .detail = detail}; }

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
    for (const QList<QVariant>& signal : spy)
        for (int row = signal.at(0).value<QModelIndex>().row(); row <= signal.at(1).value<QModelIndex>().row(); ++row)
            rows.append(row);
    return rows;
}

AppItem notes(std::optional<QString> version = {}, std::optional<QString> date = {}) { return AppItem{u"1001"_s, u"Notes"_s, {}, version, {}, date}; }

// Title and subtitle of a stored file of 2,345,678 bytes.
QString file(std::optional<QString> minOS, bool read = true)
{
    IPAFile made{.url = u"/downloads/Notes_2.1.ipa"_s, .size = 2'345'678};
    if (read)
        made.info = IPAInfo{u"Notes"_s, u"2.1"_s, minOS.value_or(u"NA"_s), u"iOS"_s};
    return labels::fileTitle(made) + u" | "_s + labels::fileSubtitle(made);
}

AppSituation situation(std::optional<QString> shortTitle) { return AppSituation{.title = u"Установить снова"_s, .shortTitle = shortTitle}; }

QString filtered(const QString& name, const QString& filter) { return labels::matchesFilter(labels::filterKey(name), filter) ? u"match"_s : u"no"_s; }

const Device ready{u"A"_s, u"iPhone Анны"_s, u"17.4.1"_s};
const Device untrusted{u"B"_s, u"iPhone Максима"_s, u"?"_s};
const UpdateOffer offer{.version = u"1.2"_s};

// Pixels as opaque as the colour, or -1 when one is more opaque or of another colour (where the
// antialiased edges of two strokes meet, rounding may move a channel by one).
int opaquePixelsOf(const QImage& image, const QColor& colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            const int off = qAbs(pixel.red() - colour.red()) + qAbs(pixel.green() - colour.green()) + qAbs(pixel.blue() - colour.blue());
            if (pixel.alpha() > colour.alpha() || (pixel.alpha() == colour.alpha() && off > 2))
                return -1;
            count += pixel.alpha() == colour.alpha();
        }
    return count;
}

} // namespace

class ViewModelsTest : public QObject {
    Q_OBJECT

    std::optional<Sandbox> m_sandbox;
    std::unique_ptr<Store> m_store;
    QTemporaryDir m_folder;
    const QList<AppItem> m_apps{app(u"1"_s, u"Яндекс Карты"_s), app(u"2"_s, u"Telegram"_s),
                                app(u"3"_s, u"Яндекс Музыка"_s), app(u"4"_s, u"Тинькофф"_s)};

    // A purchases model over m_apps.
    std::unique_ptr<AppListModel> purchasesModel()
    {
        StoreTestAccess::setPurchases(*m_store, m_apps);
        auto model = std::make_unique<AppListModel>();
        model->setSource(AppListModel::Source::Purchases);
        attach(*model);
        return model;
    }
    // On the Store, with Qt's model tester checking every change of the model.
    template <typename Model> void attach(Model& model) { new QAbstractItemModelTester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest, &model); model.setStore(m_store.get()); }

private Q_SLOTS:
    void init() { m_sandbox.emplace(); m_store = std::make_unique<Store>(test::storeOptions()); }
    void cleanup() { m_store.reset(); m_sandbox.reset(); }

    // A progress tick changes one app row and one job row; arriving details only their app's row.
    void progressTickAndDetailsChangeOneRow()
    {
        auto apps = purchasesModel();
        JobListModel jobs;
        attach(jobs);
        // The views have shown every row's button.
        for (int row = 0; row < apps->rowCount(); ++row)
            apps->index(row).data(AppListModel::SituationRole);

        Job job = running(m_apps.at(2), 0.1);
        StoreTestAccess::setJobs(*m_store, {job});
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

        appRows.clear();
        StoreTestAccess::setDetail(*m_store, u"2"_s, AppDetails{.artwork = QUrl(u"https://example.com/t.png"_s), .seller = u"Durov"_s});
        QCOMPARE(touchedRows(appRows), QList<int>{1});
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
        model.setSource(AppListModel::Source::Results);
        attach(model);
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
        attach(model);
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

    // What the window's sheet, download bar and footer take from the Store; the phone's texts are checked only here.
    void rootAndFooter()
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
        // The first running job has no percentage: the bar is indeterminate (the rest: tst_interface::downloadsBadgeBrandAndNotice).
        StoreTestAccess::setJobs(*m_store, {running(m_apps.at(1), std::nullopt), running(m_apps.at(2), 0.7)});
        QVERIFY(root.downloadRunning() && !root.downloadFraction().isValid());

        StoreTestAccess::setDevices(*m_store, {ready, untrusted});
        m_store->setSelectedDevice(ready.id);
        FooterModel footer;
        footer.setStore(m_store.get());
        const auto device = [&] { return footer.deviceTitle() + u" | "_s + footer.deviceSubtitle(); };
        QCOMPARE(device(), u"iPhone Анны | iOS 17.4.1"_s);
        QCOMPARE(footer.deviceEntries().at(1).toMap().value(u"text"_s).toString(), u"iPhone Максима, iOS ?"_s);
        StoreTestAccess::setDevices(*m_store, {untrusted}); // one: no menu (tst_interface::footerMenus)
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
        StoreTestAccess::setVersions(*m_store, {VersionRow{u"30"_s, VersionMeta{u"3.0"_s, u"15.0"_s}},
                                                VersionRow{u"20"_s, VersionMeta{u"2.0"_s, u"12.0"_s}},
                                                VersionRow{u"10"_s, VersionMeta{u"1.0"_s, u"9.3"_s}}, VersionRow{u"5"_s, std::nullopt}});
        VersionListModel model;
        attach(model);
        for (int row = 0; row < model.rowCount(); ++row)
            QCOMPARE(model.index(row).data(VersionListModel::SuitableRole).toBool(), row == suitable);
        QCOMPARE(model.actionTitle(), ios ? u"Установить"_s : u"Скачать"_s);
        QCOMPARE(model.index(3).data(VersionListModel::TitleRole).toString() + u'|' + model.index(3).data(VersionListModel::SubtitleRole).toString(), u"|ID версии 5"_s);
        QVERIFY(model.index(0).data(VersionListModel::FirstRole).toBool() && model.index(3).data(VersionListModel::LastRole).toBool());
        QVERIFY(model.missingDetails());

        // The last row's details arrive: that row changes, and nothing is left to load.
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QList<VersionRow> filled = m_store->versions();
        filled[3].meta = VersionMeta{u"0.9"_s, u"9.0"_s};
        StoreTestAccess::setVersions(*m_store, filled);
        QCOMPARE(touchedRows(changed), QList<int>{3});
        QCOMPARE(model.index(3).data(VersionListModel::SubtitleRole).toString(), u"iOS 9.0+ · ID версии 5"_s);
        QVERIFY(!model.missingDetails());
    }

    void rules_data()
    {
        QTest::addColumn<Rule>("rule");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, Rule rule, const QString& expected) { QTest::newRow(name) << rule << expected; };
        using labels::rowSubtitle;
        row("row: nothing known", [] { return rowSubtitle(notes(), {}); }, u"ID 1001"_s);
        row("row: empty details", [] { return rowSubtitle(notes(), AppDetails{}); }, u"ID 1001"_s);
        row("row: own version", [] { return rowSubtitle(notes(u"1.2"_s), {}); }, u"v1.2"_s);
        const AppDetails everything{.seller = u"Acme"_s, .version = u"2.0"_s, .price = u"Бесплатно"_s, .minOS = u"15.0"_s};
        row("row: everything, details win", [=] { return rowSubtitle(notes(u"1.2"_s, u"2024-01-02"_s), everything); },
            u"Acme · v2.0 · iOS 15.0+ · Бесплатно · 2024-01-02"_s);
        row("row: details without a version", [] { return rowSubtitle(notes(u"1.2"_s), AppDetails{.seller = u"Acme"_s}); }, u"Acme · v1.2"_s);
        row("job: never rounds up", [] { return labels::runningText(running(notes(), 0.999)); }, u"99%"_s);
        row("job: 0.29 is 29", [] { return labels::runningText(running(notes(), 0.29)); }, u"29%"_s);
        row("job: fraction and size", [] { return labels::runningText(running(notes(), 0.5, u"12,3 МБ"_s)); }, u"50% · 12,3 МБ"_s);
        row("job: size only", [] { return labels::runningText(running(notes(), {}, u"12,3 МБ"_s)); }, u"12,3 МБ"_s);
        row("job: nothing yet", [] { return labels::runningText(running(notes(), {})); }, u"Подготовка…"_s);
        row("file: read", [] { return file(u"15.0"_s); }, u"Notes | v2.1 · iOS 15.0+ · 2,3 МБ"_s);
        row("file: no minimum", [] { return file({}); }, u"Notes | v2.1 · 2,3 МБ"_s);
        row("file: unreadable", [] { return file({}, false); }, u"Notes_2.1.ipa | Не удалось прочитать файл · 2,3 МБ"_s);
        row("action: no short title", [] { return labels::actionTitle(situation({}), true); }, u"Установить снова"_s);
        row("action: compact", [] { return labels::actionTitle(situation(u"Ещё раз"_s), true); }, u"Ещё раз"_s);
        row("action: wide", [] { return labels::actionTitle(situation(u"Ещё раз"_s), false); }, u"Установить снова"_s);
        row("letter: Cyrillic after spaces", [] { return labels::placeholderLetter(u"  яндекс"_s); }, u"Я"_s);
        row("letter: blank", [] { return labels::placeholderLetter(u"   "_s); }, QString());
        row("filter: Cyrillic, other case", [] { return filtered(u"Яндекс Карты"_s, u"яНДЕКС"_s); }, u"match"_s);
        row("filter: Latin, other case", [] { return filtered(u"Telegram"_s, u"GRAM"_s); }, u"match"_s);
        row("filter: spaces around", [] { return filtered(u"Яндекс Карты"_s, u"  карты "_s); }, u"match"_s);
        row("filter: blank matches all", [] { return filtered(u"Telegram"_s, u"   "_s); }, u"match"_s);
        row("filter: no match", [] { return filtered(u"Telegram"_s, u"карты"_s); }, u"no"_s);
        row("filter: inner space kept", [] { return filtered(u"Яндекс Карты"_s, u"с к"_s); }, u"match"_s);
        row("update: available", [] { return labels::updateTitle(UpdatePhase::available(), offer); }, u"Доступна версия 1.2"_s);
        row("update: never rounds up", [] { return labels::updateTitle(UpdatePhase::downloading(0.999), offer); }, u"Скачиваю: 99%"_s);
        row("update: installing", [] { return labels::updateTitle(UpdatePhase::installing(), offer); }, u"Устанавливаю…"_s);
        row("account: alone", [] { return labels::accountLetter(u"anna@example.com"_s) + u" | "_s + labels::accountSubtitle(0); }, u"A | Аккаунт Apple"_s);
        row("help: no install waits", [] { return labels::deviceHelpSentence({}); }, u"Когда iPhone будет готов, кнопки «Установить» заработают сами."_s);
        row("help: an install waits", [] { return labels::deviceHelpSentence(AwaitingDevice{u"/downloads/Notes.ipa"_s, u"Notes"_s}); },
            u"Установка «Notes» начнётся сама, как только iPhone будет готов."_s);
    }
    void rules()
    {
        QFETCH(Rule, rule);
        QFETCH(QString, expected);
        QCOMPARE(rule(), expected);
    }

    void imagesHaveTheirSizeAndColour_data()
    {
        // A 10x4 template, opaque on its left half, in a file whose name needs encoding in a URL.
        QImage image(10, 4, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter(&image).fillRect(0, 0, 5, 4, Qt::black);
        const QString png = m_folder.filePath(u"template %.png"_s);
        QVERIFY(image.save(png));
        const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(png, "/"));

        QTest::addColumn<QString>("id");
        QTest::addColumn<QSize>("requested");
        QTest::addColumn<QSize>("expected"); // 0x0: a null image
        QTest::addColumn<int>("opaque");     // pixels fully of the id's colour; -2: some
        const QSize none(0, 0);
        for (const QString& symbol : iconSymbols())
            QTest::newRow(qPrintable(symbol)) << "3366cc/symbol/" + symbol << QSize(32, 32) << QSize(32, 32) << -2;
        QTest::newRow("svg default size") << "ff0000/symbol/xmark" << QSize() << QSize(16, 16) << -2;
        QTest::newRow("svg one side") << "ff0000/symbol/xmark" << QSize(0, 20) << QSize(20, 20) << -2;
        QTest::newRow("svg alpha") << "80ff0000/symbol/plus" << QSize(24, 24) << QSize(24, 24) << 52;
        QTest::newRow("png natural") << "80ff0000/file/" + encoded << QSize() << QSize(10, 4) << 20;
        QTest::newRow("png one side, path after file") << "80ff0000/file" + encoded << QSize(20, 0) << QSize(20, 8) << -2;
        QTest::newRow("unknown symbol") << "ff0000/symbol/no.such" << QSize() << none << 0;
        QTest::newRow("missing png") << "ff0000/file/" + png + ".gone" << QSize() << none << 0;
        QTest::newRow("short colour") << "f00/symbol/xmark" << QSize() << none << 0;
        QTest::newRow("no kind") << "ff0000" << QSize() << none << 0;
    }
    void imagesHaveTheirSizeAndColour()
    {
        QFETCH(QString, id);
        QFETCH(QSize, requested);
        QFETCH(QSize, expected);
        QFETCH(int, opaque);
        QSize size(-1, -1);
        const QImage image = IconProvider().requestImage(id, &size, requested);
        QCOMPARE(image.size(), expected);
        QCOMPARE(size, expected);
        const int found = opaquePixelsOf(image, QColor(u'#' + id.section(u'/', 0, 0)));
        QVERIFY2(opaque == -2 ? found > 0 : found == opaque, qPrintable(QString::number(found)));
    }

    void artworkIsCroppedRoundedOrFails()
    {
        QImage wide(200, 100, QImage::Format_RGB32);
        wide.fill(Qt::blue);
        QVERIFY(wide.save(m_folder.filePath(u"wide.png"_s)));
        test::HttpServer server;
        server.route(u"/icon.png"_s, test::HttpServer::fileResponse(m_folder.filePath(u"wide.png"_s)));
        server.route(u"/broken.png"_s, {.body = "not an image"});

        ArtworkProvider provider;
        const auto fetch = [&](const QString& path) {
            const QString id = QString::fromLatin1(QUrl::toPercentEncoding(server.url(path).toString()));
            std::unique_ptr<QQuickImageResponse> response(provider.requestImageResponse(id, QSize(44, 44)));
            QSignalSpy finished(response.get(), &QQuickImageResponse::finished);
            [&] { QVERIFY(finished.wait(5000)); }();
            std::unique_ptr<QQuickTextureFactory> texture(response->textureFactory());
            return std::pair(texture ? texture->image() : QImage(), response->errorString());
        };
        const auto [icon, none] = fetch(u"/icon.png"_s);
        QCOMPARE(icon.size(), QSize(44, 44)); // cropped to fill the square
        QCOMPARE(none, QString());
        QCOMPARE(icon.pixelColor(22, 22), QColor(Qt::blue));
        QCOMPARE(icon.pixelColor(0, 0).alpha(), 0); // the rounded corner
        for (const QString& failing : {u"/broken.png"_s, u"/missing.png"_s}) {
            const auto [image, error] = fetch(failing);
            QVERIFY(image.isNull() && !error.isEmpty());
        }
    }
};

QTEST_MAIN(ViewModelsTest)
#include "tst_viewmodels.moc"
