// Drives the demo world to each state a screen can show and saves the window as PNG files,
// in light or dark (scripts/screenshots runs both), in a sandbox home.
#include "model/plist.h"
#include "store/store.h"
#include "ui/interface.h"

#include "sandbox.h"
#include "storeaccess.h"
#include "window.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QtQml/QQmlExtensionPlugin>

#include <algorithm>
#include <cstdio>
#include <functional>

Q_IMPORT_QML_PLUGIN(TelmoraPlugin)

using namespace telmora;
using namespace Qt::Literals::StringLiterals;

namespace {

struct Tour : test::WindowHand {
    QString folder;
    QString appearance;
    int failures = 0;

    void fail(const QString& what)
    {
        std::fprintf(stderr, "screenshots: %s\n", qPrintable(what));
        ++failures;
    }
    // Saves the window once it has settled.
    void shoot(const QString& name)
    {
        QTest::qWait(600);
        const QString path = QDir(folder).filePath(name + u'-' + appearance + u".png"_s);
        const bool saved = window->grabWindow().save(path);
        std::printf("%s %s\n", saved ? "saved" : "FAILED", qPrintable(path));
        failures += saved ? 0 : 1;
    }
    // Clicks the named item once it is shown, then types into it when a text is given.
    void press(const QString& name, const QString& text = {})
    {
        wait(u"no "_s + name, [&] { return shown(name); });
        click(name);
        type(text);
    }
    void wait(const QString& failure, const std::function<bool()>& condition)
    {
        if (!QTest::qWaitFor(condition, 60000))
            fail(failure);
    }
};

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    QQuickStyle::setStyle(u"Basic"_s);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 3 || (arguments.at(2) != u"light" && arguments.at(2) != u"dark")) {
        std::fprintf(stderr, "usage: telmora-screenshots OUTPUT-FOLDER light|dark\n");
        return 2;
    }
    QDir().mkpath(arguments.at(1));

    test::Sandbox home;
    home.world.useDemo(20);
    // The built package's resources: its information dictionary gives the version.
    const QString resources = QStringLiteral(TELMORA_APP_DIR "/Resources");
    const QByteArray info = test::readFile(QDir(resources).filePath(u"Info.plist"_s));
    Store store(StoreOptions{.resourcesFolder = resources, .info = readPlistDictionary(info).value_or(QVariantMap())});
    Interface interface(store, resources, arguments.at(2) == u"dark");
    QQmlApplicationEngine engine;
    interface.prepare(engine);
    engine.load(Interface::mainQml());
    if (engine.rootObjects().isEmpty())
        return 1;
    const auto catalogApp = [&](const QString& id) {
        const auto found = std::ranges::find(store.catalog(), id, &AppItem::id);
        return found != store.catalog().end() ? *found : AppItem{id, id, {}, {}, {}, {}};
    };
    Tour tour{{qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst())}, arguments.at(1), arguments.at(2)};
    // Nobody is signed in, so the sign-in sheet opens by itself; put aside, the footer offers it.
    tour.wait(u"the sign-in sheet did not open"_s, [&] { return store.showLogin() && tour.shown(u"emailField"_s); });
    tour.key(Qt::Key_Escape);
    tour.wait(u"no sign-in button"_s, [&] { return tour.shown(u"signInButton"_s); });
    tour.shoot(u"footer-signed-out"_s);
    tour.press(u"signInButton"_s);
    tour.press(u"emailField"_s, u"anna@example.com"_s);
    tour.press(u"passwordField"_s, u"demo1234"_s);
    tour.shoot(u"signin-credentials"_s);
    tour.key(Qt::Key_Return);
    tour.wait(u"no code step"_s, [&] { return store.loginStep().isCode(); });
    tour.press(u"codeField"_s, u"123"_s);
    tour.shoot(u"signin-code"_s);
    StoreTestAccess::setLoginStep(store, LoginStep::failed(u"Неверная почта или пароль."_s));
    tour.shoot(u"signin-failed"_s);
    StoreTestAccess::setLoginStep(store, LoginStep::code());
    tour.type(u"456"_s);
    tour.key(Qt::Key_Return);
    tour.wait(u"not signed in, or no phone"_s, [&] { return store.email() && !store.showLogin() && store.readyDevice(); });
    store.setNotice(std::nullopt);

    // Two packages in the downloads folder: one installs, one is only downloaded.
    const AppItem telegram = catalogApp(u"686449807"_s);
    const AppItem youtube = catalogApp(u"544007664"_s);
    store.enqueue({telegram}, std::nullopt, std::nullopt, true);
    store.enqueue({youtube}, std::nullopt, std::nullopt, false);
    tour.wait(u"the downloads did not finish"_s, [&] {
        return store.file(telegram.id) && store.file(youtube.id) && store.installed().size() == 1 && store.activeJobCount() == 0;
    });
    store.setNotice(std::nullopt);

    // The footer: the two phones of the demo in a menu; a second account added, then the menu.
    tour.press(u"deviceStatus"_s);
    tour.shoot(u"footer-phones"_s);
    tour.key(Qt::Key_Escape);
    if (!test::signIn(store, u"max@example.com"_s, u"demo1234"_s, {}, true))
        tour.fail(u"the second account was not added"_s);
    QTest::qWait(400); // the sheet fades out
    tour.press(u"accountButton"_s);
    tour.shoot(u"footer-accounts"_s);
    tour.press(u"account_anna@example.com"_s);
    tour.wait(u"no switch back to the first account"_s, [&] { return store.email() == u"anna@example.com"_s; });
    store.setNotice(std::nullopt);

    // The versions of Telegram, the newest that suits the phone marked.
    store.openVersions(telegram);
    tour.wait(u"no versions"_s, [&] { return !store.versionsLoading() && store.versions().size() > 10 && tour.shown(u"versionBadge"_s); });
    tour.shoot(u"versions"_s);
    store.setVersionsApp(std::nullopt);
    QTest::qWait(300);

    // The catalog with two apps chosen and one download under way.
    const Job running{.app = catalogApp(u"835599320"_s), .state = Job::State::running(), .fraction = 0.42, .detail = u"48,1 МБ"_s};
    StoreTestAccess::setJobs(store, {running});
    for (const QString& id : {u"564177498"_s, u"389801252"_s})
        if (!tour.checkTile(id))
            tour.fail(u"no checkbox on tile "_s + id);
    QTest::mouseMove(tour.window, QPoint(600, 20));
    tour.shoot(u"catalog"_s);

    // Search results for a name.
    tour.press(u"clearSelection"_s);
    tour.press(u"searchField"_s, u"Яндекс"_s);
    tour.key(Qt::Key_Return);
    tour.wait(u"no search results"_s, [&] { return !store.searching() && !store.results().isEmpty(); });
    tour.shoot(u"search-results"_s);

    // The purchase history.
    tour.key(Qt::Key_2, Qt::ControlModifier);
    tour.click(u"emptyAction"_s);
    tour.wait(u"no purchases"_s, [&] { return !store.purchasesLoading() && !store.purchases().isEmpty(); });
    tour.shoot(u"purchases"_s);

    // Downloads: a running job and a failed one; a stored file installed, one that failed.
    Job failed{.app = catalogApp(u"407804998"_s), .state = Job::State::failed(u"Нет связи с серверами Apple. Проверьте интернет и повторите."_s)};
    StoreTestAccess::setJobs(store, {running, failed});
    StoreTestAccess::setInstallErrors(store, {{store.file(youtube.id)->url, u"Не хватает места на iPhone. Освободите место и повторите."_s}});
    tour.key(Qt::Key_3, Qt::ControlModifier);
    tour.shoot(u"downloads"_s);

    // Device help for an untrusting phone, then with an install waiting for a phone.
    const std::optional<QString> readyPhone = store.selectedDevice();
    store.setSelectedDevice(std::ranges::find_if(store.devices(), [&](const Device& device) { return device.id != readyPhone; })->id);
    store.setShowDeviceHelp(true);
    tour.shoot(u"device-help"_s);
    store.setAwaitingDevice(AwaitingDevice{store.file(youtube.id)->url, u"YouTube"_s});
    tour.shoot(u"device-help-waiting"_s);
    store.setAwaitingDevice(std::nullopt);
    store.setShowDeviceHelp(false);
    store.setSelectedDevice(readyPhone);

    // An update on offer: downloading, then after a failure.
    const UpdateOffer offer{.build = 2, .version = u"1.1"_s, .notes = u"• Лента версий показывает, какая подойдёт вашему iPhone.\n• Установка нескольких приложений сразу.\n• Исправлены ошибки."_s};
    StoreTestAccess::setUpdateOffer(store, offer);
    StoreTestAccess::setUpdatePhase(store, UpdatePhase::downloading(0.37));
    store.setShowUpdate(true);
    tour.shoot(u"update-downloading"_s);
    StoreTestAccess::setUpdatePhase(store, UpdatePhase::available());
    StoreTestAccess::setUpdateError(store, u"Обновление повреждено: контрольная сумма не совпала. Попробуйте ещё раз."_s);
    tour.shoot(u"update-failed"_s);
    store.setShowUpdate(false);
    QTest::qWait(300);

    // About.
    tour.press(u"brandHeader"_s);
    tour.press(u"menuAbout"_s);
    tour.shoot(u"about"_s);

    StoreTestAccess::setJobs(store, {});
    return tour.failures == 0 ? 0 : 1;
}
