// Drives the demo world (the simulated App Store and iPhone) to each state a screen can show
// and saves the window as PNG files: scripts/screenshots runs it once in light and once in
// dark appearance. Nothing here touches the real home folder.
#include "model/plist.h"
#include "store/store.h"
#include "tools/bin.h"
#include "ui/interface.h"

#include "storeaccess.h"
#include "sandbox.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/QQmlExtensionPlugin>

#include <cstdio>
#include <functional>

Q_IMPORT_QML_PLUGIN(TelmoraPlugin)

using namespace telmora;

namespace {

constexpr int patience = 60000;

QQuickItem* find(QQuickItem* root, const QString& name)
{
    if (root->objectName() == name && root->isVisible())
        return root;
    for (QQuickItem* child : root->childItems()) {
        if (QQuickItem* found = find(child, name))
            return found;
    }
    return nullptr;
}

bool waitFor(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, patience);
}

class Tour {
public:
    Tour(QQuickWindow* window, Store& store, const QString& folder, const QString& appearance)
        : m_window(window), m_store(store), m_folder(folder), m_appearance(appearance)
    {
    }

    // Saves the window once it has settled; false when it could not be written.
    bool shoot(const QString& name)
    {
        QTest::qWait(600);
        const QString path = QDir(m_folder).filePath(name + u'-' + m_appearance + QStringLiteral(".png"));
        const bool saved = m_window->grabWindow().save(path);
        std::printf("%s %s\n", saved ? "saved" : "FAILED", qPrintable(path));
        m_failures += saved ? 0 : 1;
        return saved;
    }
    QQuickItem* item(const QString& name) const { return find(m_window->contentItem(), name); }
    void click(const QString& name, Qt::MouseButton button = Qt::LeftButton)
    {
        if (QQuickItem* target = item(name))
            QTest::mouseClick(m_window, button, {}, target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint());
        else
            fail(QStringLiteral("no ") + name);
    }
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) { QTest::keyClick(m_window, key, modifiers); }
    void type(const QString& text)
    {
        for (QChar character : text)
            QTest::sendKeyEvent(QTest::Click, m_window, Qt::Key_unknown, QString(character), Qt::NoModifier);
    }
    void fail(const QString& what)
    {
        std::fprintf(stderr, "screenshots: %s\n", qPrintable(what));
        ++m_failures;
    }
    [[nodiscard]] int failures() const { return m_failures; }

private:
    QQuickWindow* m_window;
    Store& m_store;
    QString m_folder;
    QString m_appearance;
    int m_failures = 0;
};

AppItem catalogApp(const Store& store, const QString& id)
{
    for (const AppItem& app : store.catalog()) {
        if (app.id == id)
            return app;
    }
    return AppItem{id, id, {}, {}, {}, {}};
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    const QStringList arguments = application.arguments();
    if (arguments.size() != 3 || (arguments.at(2) != u"light" && arguments.at(2) != u"dark")) {
        std::fprintf(stderr, "usage: telmora-screenshots OUTPUT-FOLDER light|dark\n");
        return 2;
    }
    const QString folder = arguments.at(1);
    const QString appearance = arguments.at(2);
    QDir().mkpath(folder);

    test::Sandbox home;
    home.world.useDemo(20);
    // The built package's resources: its information dictionary gives the version.
    const QString resources = QStringLiteral(TELMORA_APP_DIR "/Resources");
    QFile info(QDir(resources).filePath(QStringLiteral("Info.plist")));
    StoreOptions options;
    options.resourcesFolder = resources;
    options.info = info.open(QIODevice::ReadOnly) ? readPlistDictionary(info.readAll()).value_or(QVariantMap()) : QVariantMap();
    Store store(options);
    Interface interface(store, resources, appearance == u"dark");
    QQmlApplicationEngine engine;
    interface.prepare(engine);
    engine.load(Interface::mainQml());
    auto* window = engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst());
    if (!window)
        return 1;
    Tour tour(window, store, folder, appearance);

    // Nobody is signed in, so the sign-in sheet opens by itself; put aside, the footer offers it.
    if (!waitFor([&] { return store.showLogin() && tour.item(QStringLiteral("emailField")); }))
        tour.fail(QStringLiteral("the sign-in sheet did not open"));
    tour.key(Qt::Key_Escape);
    waitFor([&] { return tour.item(QStringLiteral("signInButton")) != nullptr; });
    tour.shoot(QStringLiteral("footer-signed-out"));
    tour.click(QStringLiteral("signInButton"));
    waitFor([&] { return tour.item(QStringLiteral("emailField")) != nullptr; });
    tour.click(QStringLiteral("emailField"));
    tour.type(QStringLiteral("anna@example.com"));
    tour.click(QStringLiteral("passwordField"));
    tour.type(QStringLiteral("demo1234"));
    tour.shoot(QStringLiteral("signin-credentials"));
    tour.key(Qt::Key_Return);
    if (!waitFor([&] { return store.loginStep().isCode(); }))
        tour.fail(QStringLiteral("no code step"));
    tour.click(QStringLiteral("codeField"));
    tour.type(QStringLiteral("123"));
    tour.shoot(QStringLiteral("signin-code"));
    StoreTestAccess::setLoginStep(store, LoginStep::failed(QStringLiteral("Неверная почта или пароль.")));
    tour.shoot(QStringLiteral("signin-failed"));
    StoreTestAccess::setLoginStep(store, LoginStep::code());
    tour.type(QStringLiteral("456"));
    tour.key(Qt::Key_Return);
    if (!waitFor([&] { return store.email() && !store.showLogin() && store.readyDevice(); }))
        tour.fail(QStringLiteral("not signed in, or no phone"));
    store.setNotice(std::nullopt);

    // Two packages in the downloads folder: one installs, one is only downloaded.
    const AppItem telegram = catalogApp(store, QStringLiteral("686449807"));
    const AppItem youtube = catalogApp(store, QStringLiteral("544007664"));
    store.enqueue({telegram}, std::nullopt, std::nullopt, true);
    store.enqueue({youtube}, std::nullopt, std::nullopt, false);
    if (!waitFor([&] { return store.file(telegram.id) && store.file(youtube.id) && store.installed().size() == 1 && store.activeJobCount() == 0; }))
        tour.fail(QStringLiteral("the downloads did not finish"));
    store.setNotice(std::nullopt);

    // The footer: the two phones of the demo in a menu; a second account added, then the menu.
    tour.click(QStringLiteral("deviceStatus"));
    tour.shoot(QStringLiteral("footer-phones"));
    tour.key(Qt::Key_Escape);
    tour.click(QStringLiteral("accountButton"));
    QTest::qWait(300);
    tour.click(QStringLiteral("addAccount"));
    waitFor([&] { return tour.item(QStringLiteral("emailField")) != nullptr; });
    tour.click(QStringLiteral("emailField"));
    tour.type(QStringLiteral("max@example.com"));
    tour.click(QStringLiteral("passwordField"));
    tour.type(QStringLiteral("demo1234"));
    tour.key(Qt::Key_Return);
    if (!waitFor([&] { return store.email() == QStringLiteral("max@example.com") && !store.showLogin(); }))
        tour.fail(QStringLiteral("the second account was not added"));
    QTest::qWait(400); // the sheet fades out
    tour.click(QStringLiteral("accountButton"));
    tour.shoot(QStringLiteral("footer-accounts"));
    tour.click(QStringLiteral("account_anna@example.com"));
    if (!waitFor([&] { return store.email() == QStringLiteral("anna@example.com"); }))
        tour.fail(QStringLiteral("no switch back to the first account"));
    store.setNotice(std::nullopt);

    // The versions of Telegram, the newest that suits the phone marked.
    store.openVersions(telegram);
    if (!waitFor([&] { return !store.versionsLoading() && store.versions().size() > 10 && tour.item(QStringLiteral("versionBadge")); }))
        tour.fail(QStringLiteral("no versions"));
    tour.shoot(QStringLiteral("versions"));
    store.setVersionsApp(std::nullopt);
    QTest::qWait(300);

    // The catalog with two apps chosen and one download under way.
    Job running;
    running.app = catalogApp(store, QStringLiteral("835599320"));
    running.state = Job::State::running();
    running.fraction = 0.42;
    running.detail = QStringLiteral("48,1 МБ");
    StoreTestAccess::setJobs(store, {running});
    for (const QString& id : {QStringLiteral("564177498"), QStringLiteral("389801252")}) {
        QQuickItem* tile = tour.item(QStringLiteral("tile_") + id);
        QQuickItem* check = tile ? find(tile, QStringLiteral("tileCheck")) : nullptr;
        if (!check) {
            QTest::mouseMove(window, tile ? tile->mapToScene(QPointF(20, 20)).toPoint() : QPoint());
            QTest::qWait(100);
            check = tile ? find(tile, QStringLiteral("tileCheck")) : nullptr;
        }
        if (check)
            QTest::mouseClick(window, Qt::LeftButton, {}, check->mapToScene(QPointF(check->width() / 2, check->height() / 2)).toPoint());
        else
            tour.fail(QStringLiteral("no checkbox on tile ") + id);
    }
    QTest::mouseMove(window, QPoint(600, 20));
    tour.shoot(QStringLiteral("catalog"));

    // Search results for a name.
    tour.click(QStringLiteral("clearSelection"));
    tour.click(QStringLiteral("searchField"));
    tour.type(QStringLiteral("Яндекс"));
    tour.key(Qt::Key_Return);
    if (!waitFor([&] { return !store.searching() && !store.results().isEmpty(); }))
        tour.fail(QStringLiteral("no search results"));
    tour.shoot(QStringLiteral("search-results"));

    // The purchase history.
    tour.key(Qt::Key_2, Qt::ControlModifier);
    if (QQuickItem* load = tour.item(QStringLiteral("emptyAction")))
        tour.click(load->objectName());
    if (!waitFor([&] { return !store.purchasesLoading() && !store.purchases().isEmpty(); }))
        tour.fail(QStringLiteral("no purchases"));
    tour.shoot(QStringLiteral("purchases"));

    // Downloads: a running job and a failed one; a stored file installed, one that failed.
    Job failed;
    failed.app = catalogApp(store, QStringLiteral("407804998"));
    failed.state = Job::State::failed(QStringLiteral("Нет связи с серверами Apple. Проверьте интернет и повторите."));
    StoreTestAccess::setJobs(store, {running, failed});
    StoreTestAccess::setInstallErrors(store, {{store.file(youtube.id)->url,
                                               QStringLiteral("Не хватает места на iPhone. Освободите место и повторите.")}});
    tour.key(Qt::Key_3, Qt::ControlModifier);
    tour.shoot(QStringLiteral("downloads"));

    // Device help: asked for from the sidebar while the chosen phone does not trust this
    // computer, then with an install waiting for a phone.
    const std::optional<QString> readyPhone = store.selectedDevice();
    for (const Device& device : store.devices()) {
        if (device.id != readyPhone)
            store.setSelectedDevice(device.id);
    }
    store.setShowDeviceHelp(true);
    tour.shoot(QStringLiteral("device-help"));
    store.setAwaitingDevice(AwaitingDevice{store.file(youtube.id)->url, QStringLiteral("YouTube")});
    tour.shoot(QStringLiteral("device-help-waiting"));
    store.setAwaitingDevice(std::nullopt);
    store.setShowDeviceHelp(false);
    store.setSelectedDevice(readyPhone);

    // An update on offer: downloading, then after a failure.
    UpdateOffer offer;
    offer.version = QStringLiteral("1.1");
    offer.build = 2;
    offer.notes = QStringLiteral("• Лента версий показывает, какая подойдёт вашему iPhone.\n• Установка нескольких приложений сразу.\n• Исправлены ошибки.");
    StoreTestAccess::setUpdateOffer(store, offer);
    StoreTestAccess::setUpdatePhase(store, UpdatePhase::downloading(0.37));
    store.setShowUpdate(true);
    tour.shoot(QStringLiteral("update-downloading"));
    StoreTestAccess::setUpdatePhase(store, UpdatePhase::available());
    StoreTestAccess::setUpdateError(store, QStringLiteral("Обновление повреждено: контрольная сумма не совпала. Попробуйте ещё раз."));
    tour.shoot(QStringLiteral("update-failed"));
    store.setShowUpdate(false);
    QTest::qWait(300);

    // About.
    tour.click(QStringLiteral("brandHeader"));
    QTest::qWait(300);
    tour.click(QStringLiteral("menuAbout"));
    tour.shoot(QStringLiteral("about"));

    StoreTestAccess::setJobs(store, {});
    return tour.failures() == 0 ? 0 : 1;
}
