// The window as a user meets it, offscreen, over a Store put into each state or driven
// through the demo world.
#include "store/store.h"
#include "tools/bin.h"
#include "ui/interface.h"
#include "ui/labels.h"

#include "sandbox.h"
#include "screenshots/window.h"
#include "storeaccess.h"

#include <QCoroTask>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QtQml/QQmlExtensionPlugin>
#include <QtTest>

#include <memory>

Q_IMPORT_QML_PLUGIN(TelmoraPlugin)

using namespace telmora;
using namespace Qt::Literals::StringLiterals;
using telmora::test::findItem;

constexpr int patience = 20000;
static AppItem app(const QString& id, const QString& name) { return AppItem{id, name, {}, {}, {}, {}}; }

class InterfaceTest : public QObject, test::WindowHand {
    Q_OBJECT

    std::optional<test::Sandbox> m_sandbox;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<Interface> m_interface;
    std::unique_ptr<QQmlApplicationEngine> m_engine;

    void open(bool signedIn = false, const QString& resources = QStringLiteral(TELMORA_SOURCE_DIR "/resources"))
    {
        if (signedIn)
            signIn();
        m_engine.reset();
        m_interface.reset();
        m_interface = std::make_unique<Interface>(*m_store, resources, false);
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_interface->prepare(*m_engine);
        m_engine->load(Interface::mainQml());
        QVERIFY(!m_engine->rootObjects().isEmpty());
        window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().constFirst());
        QVERIFY(QTest::qWaitForWindowExposed(window));
        // The section's screen comes after the window's first frame, and lays out in the next.
        QTRY_VERIFY(shown(u"appsView"_s));
        QSignalSpy frames(window, &QQuickWindow::frameSwapped);
        QVERIFY(frames.wait());
    }
    void press(const QString& name, Qt::MouseButton button = Qt::LeftButton, Qt::KeyboardModifiers modifiers = {}) { QVERIFY2(click(name, button, modifiers), qPrintable(name)); }
    void signIn() { StoreTestAccess::setEmail(*m_store, u"anna@example.com"_s); }
    // Clicks the named item, then waits until `then` is shown.
    bool reveal(const QString& name, const QString& then, Qt::MouseButton button = Qt::LeftButton) { return click(name, button) && QTest::qWaitFor([&] { return shown(then); }); }

private Q_SLOTS:
    void initTestCase() { QQuickStyle::setStyle(u"Basic"_s); }
    void init()
    {
        m_sandbox.emplace();
        m_sandbox->world.useDemo();
        m_store = std::make_unique<Store>(test::storeOptions());
    }
    void cleanup() { m_engine.reset(); m_interface.reset(); m_store.reset(); m_sandbox.reset(); }

    void downloadsBadgeBrandAndNotice()
    {
        const Job waiting{.app = app(u"1"_s, u"A"_s)};
        const Job first{.app = app(u"2"_s, u"B"_s), .state = Job::State::running(), .fraction = 0.25};
        const Job second{.app = app(u"3"_s, u"C"_s), .state = Job::State::running(), .fraction = 0.75};
        StoreTestAccess::setJobs(*m_store, {waiting, first, second});
        open();
        QQuickItem* badge = findItem(item(u"sectionDownloads"_s), u"badge"_s, false);
        QQuickItem* bar = findItem(item(u"sectionDownloads"_s), u"downloadProgress"_s, false);
        QCOMPARE(badge->property("count").toInt(), 3);
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->property("value").toDouble(), 0.25); // the first running job
        StoreTestAccess::setJobs(*m_store, {waiting});
        QVERIFY(!bar->isVisible());
        QCOMPARE(badge->property("count").toInt(), 1);
        // The brand's artwork; a notice shows two lines, all of it selectable, until closed.
        QTRY_VERIFY(!shown(u"wordmarkText"_s) && !shown(u"logoFallback"_s));
        m_store->setNotice(u"Первая строка\nВторая строка\nТретья строка\nЧетвёртая"_s);
        QQuickItem* notice = item(u"noticeText"_s);
        QVERIFY(notice);
        QCOMPARE(notice->property("text").toString().count(u'\n'), 3);
        QVERIFY(notice->parentItem()->height() <= notice->property("twoLines").toReal() && notice->parentItem()->clip());
        press(u"closeNotice"_s);
        QCOMPARE(m_store->notice(), std::nullopt);
        // Without its artwork the brand falls back to text and a drawn logo.
        open(false, m_sandbox->filePath(u"no-resources"_s));
        QTRY_VERIFY(shown(u"wordmarkText"_s) && shown(u"logoFallback"_s));
        QVERIFY(shown(u"tile_686449807"_s)); // the window still has its Store
    }

    void pressingShrinksUnlessMotionIsReduced()
    {
        open(true);
        QQuickItem* button = findItem(item(u"tile_686449807"_s), u"mainAction"_s);
        const QColor idle = button->property("fill").value<QColor>();
        const auto hold = [&](bool reduced) {
            m_interface->desktop().setReduceMotion(reduced);
            QTest::mousePress(window, Qt::LeftButton, {}, test::centreOf(button));
        };
        hold(true);
        QTest::qWait(300);
        QCOMPARE(button->scale(), 1.0);
        QVERIFY(button->property("fill").value<QColor>() != idle);
        QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(1, 1));
        hold(false);
        QTRY_COMPARE(button->scale(), 0.97);
        QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(1, 1));
    }

    void hiddenSelectedTilesAreStillInstalledInCatalogOrder()
    {
        Bin::setDirForTesting(m_sandbox->filePath(u"no-tools"_s)); // the queue only records
        open(true);
        const QString later = m_store->catalog().at(3).id;
        const QString earlier = m_store->catalog().at(1).id;
        QVERIFY(checkTile(later) && checkTile(earlier));
        QCOMPARE(text(u"catalogBulkButton"_s), u"Скачать выбранные: 2"_s);
        QVERIFY(type(u"searchField"_s, u"zzzz"_s));
        QVERIFY(!shown(u"tile_"_s + later));
        press(u"catalogBulkButton"_s);
        QStringList queued;
        for (const Job& job : m_store->jobs())
            queued.prepend(job.app.id); // each new job goes first
        QCOMPARE(queued, (QStringList{earlier, later}));
        QVERIFY(!shown(u"catalogBulkButton"_s));
    }

    void appMenuEntries_data()
    {
        QTest::addColumn<bool>("withFile");
        QTest::addColumn<bool>("withDevice");
        QTest::addColumn<QStringList>("entries");
        const QStringList always{u"menuVersions"_s, u"menuLicense"_s, u"menuAppStore"_s, u"menuCopyId"_s}; // in the order checked
        QTest::newRow("nothing") << false << false << always;
        QTest::newRow("a phone") << false << true << always + QStringList{u"menuDownloadOnly"_s};
        QTest::newRow("a file and a phone") << true << true << always + QStringList{u"menuRedownload"_s, u"menuReveal"_s};
    }
    void appMenuEntries()
    {
        QFETCH(bool, withFile);
        QFETCH(bool, withDevice);
        QFETCH(QStringList, entries);
        const AppItem first = m_store->catalog().constFirst();
        if (withFile)
            StoreTestAccess::setFiles(*m_store, {IPAFile{.url = m_sandbox->filePath(u"App.ipa"_s), .appID = first.id}});
        if (withDevice)
            StoreTestAccess::connectDevice(*m_store, u"17.4"_s);
        open();
        QVERIFY(reveal(u"tile_"_s + first.id, u"menuVersions"_s, Qt::RightButton));
        QStringList visible{u"menuVersions"_s, u"menuLicense"_s, u"menuAppStore"_s, u"menuCopyId"_s, u"menuRedownload"_s, u"menuReveal"_s, u"menuDownloadOnly"_s};
        visible.removeIf([this](const QString& name) { return !shown(name); });
        QCOMPARE(visible, entries);
    }

    void searchField()
    {
        open();
        QQuickItem* view = item(u"appsView"_s);
        // A query of spaces: nothing to submit, the whole catalog stays.
        QVERIFY(type(u"searchField"_s, u"   "_s));
        QVERIFY(!item(u"searchButton"_s)->isEnabled());
        key(Qt::Key_Return);
        QVERIFY(!view->property("showResults").toBool() && !m_store->searching());
        QCOMPARE(text(u"catalogHeading"_s), u"Популярные"_s);
        // Return searches; typing again goes back to the catalog, filtered by the new text.
        m_store->setQuery(QString());
        QVERIFY(type(u"searchField"_s, u"Telegr"_s));
        key(Qt::Key_Return);
        QVERIFY(view->property("showResults").toBool());
        type(u"am"_s);
        QVERIFY(!view->property("showResults").toBool());
        QCOMPARE(text(u"catalogHeading"_s), u"В каталоге"_s);
        QVERIFY(shown(u"tile_686449807"_s)); // Telegram
        QCOMPARE(m_store->query(), u"Telegram"_s);
        // A search's workflow outlives the window and the Store.
        signIn();
        QVERIFY(m_interface->actions().submitSearch());
        QVERIFY(m_store->searching());
        m_engine.reset();
        m_interface.reset();
        m_store.reset();
        QTest::qWait(1500); // its tool ends and the workflow resumes into nothing
    }

    void purchasesScreen()
    {
        StoreTestAccess::setPurchases(*m_store, {app(u"11"_s, u"Alpha"_s), app(u"12"_s, u"Beta"_s), app(u"13"_s, u"Gamma"_s)});
        open();
        key(Qt::Key_2, Qt::ControlModifier);
        // Signed out: only the sign-in prompt, whatever the history holds.
        QTRY_VERIFY(shown(u"signInPrompt"_s));
        QVERIFY(!shown(u"appList"_s) && !shown(u"refreshPurchases"_s));
        // Two selected rows make the bulk button.
        signIn();
        QTRY_VERIFY(shown(u"row_11"_s));
        press(u"row_11"_s);
        QVERIFY(!shown(u"bulkButton"_s));
        press(u"row_13"_s, Qt::LeftButton, Qt::ControlModifier);
        QCOMPARE(text(u"bulkButton"_s), u"Скачать выбранные: 2"_s);
        StoreTestAccess::connectDevice(*m_store, u"17.4"_s);
        QCOMPARE(text(u"bulkButton"_s), u"Установить выбранные: 2"_s);
        // An empty history after a failure offers to try again.
        StoreTestAccess::setPurchases(*m_store, {});
        StoreTestAccess::setPurchasesError(*m_store, u"Нет связи с серверами Apple"_s);
        QVERIFY(shown(u"purchasesEmpty"_s));
        QCOMPARE(text(u"emptyAction"_s) + u" | "_s + text(u"emptyDescription"_s), u"Попробовать снова | Нет связи с серверами Apple"_s);
    }

    void signInSheet()
    {
        // Adding an account: its own title and button, nothing to send while empty.
        m_store->beginLogin(QString(), true);
        open();
        QTRY_VERIFY(shown(u"loginView"_s));
        QCOMPARE(text(u"loginTitle"_s) + u" | "_s + text(u"loginSubmit"_s), u"Новый аккаунт Apple | Добавить"_s);
        QVERIFY(!item(u"loginSubmit"_s)->isEnabled());
        key(Qt::Key_Escape);
        QTRY_VERIFY(!m_store->showLogin() && !shown(u"loginView"_s));
        // Signing in: the e-mail is trimmed, not the password, which is not kept in the field.
        m_store->beginLogin(QString(), false);
        QTRY_VERIFY(shown(u"emailField"_s));
        QCOMPARE(text(u"loginTitle"_s), u"Вход в аккаунт Apple"_s);
        QVERIFY(type(u"emailField"_s, u"  anna@example.com "_s));
        QVERIFY(type(u"passwordField"_s, u"demo1234"_s));
        key(Qt::Key_Return);
        QCOMPARE(text(u"passwordField"_s), QString());
        // The demo account asks for its code only when the e-mail and password were right.
        QTRY_COMPARE_WITH_TIMEOUT(m_store->loginStep(), LoginStep::code(), patience);
        QTRY_VERIFY(shown(u"codeField"_s));
        QCOMPARE(text(u"loginSubmit"_s), u"Подтвердить"_s);
        // The code needs six characters: five send nothing.
        QVERIFY(type(u"codeField"_s, u"12345"_s));
        QVERIFY(!item(u"loginSubmit"_s)->isEnabled());
        key(Qt::Key_Return);
        QCOMPARE(text(u"codeField"_s), u"12345"_s);
        QCOMPARE(m_store->loginStep(), LoginStep::code());
        key(Qt::Key_A, Qt::ControlModifier);
        type(u" 123456 "_s);
        key(Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(m_store->email(), std::optional(u"anna@example.com"_s), patience);
        QTRY_VERIFY(!shown(u"loginView"_s));
    }

    void footerMenus()
    {
        const Device other{u"B"_s, u"iPhone Максима"_s, u"?"_s};
        StoreTestAccess::setDevices(*m_store, {Device{u"A"_s, u"iPhone Анны"_s, u"17.4.1"_s}, other});
        m_store->setSelectedDevice(u"A"_s);
        open(true);
        // Two phones: a menu choosing one.
        QVERIFY(reveal(u"deviceStatus"_s, u"deviceEntry_B"_s));
        press(u"deviceEntry_B"_s);
        QCOMPARE(m_store->selectedDevice(), std::optional(other.id));
        QTRY_COMPARE(text(u"deviceSubtitle"_s), u"Нажмите «Доверять» на iPhone"_s);
        // One phone: a button opening the help.
        StoreTestAccess::setDevices(*m_store, {other});
        press(u"deviceStatus"_s);
        QTRY_VERIFY(m_store->showDeviceHelp() && shown(u"deviceHelpView"_s));
        key(Qt::Key_Escape);
        QTRY_VERIFY(!m_store->showDeviceHelp());
        // Without a feed the application menu keeps its update entry (the account menu has none: logoutConfirmation).
        QVERIFY(reveal(u"brandHeader"_s, u"menuCheckUpdates"_s));
        press(u"menuCheckUpdates"_s);
        QTRY_VERIFY(m_store->notice() && m_store->notice()->contains(u"не проверяет обновления"));
    }

    void logoutConfirmation_data()
    {
        QTest::addColumn<QStringList>("saved");
        QTest::addColumn<QString>("message");
        QTest::newRow("no other account") << QStringList{} << QString();
        QTest::newRow("another saved") << QStringList{u"max@example.com"_s} << "Откроется следующий сохранённый аккаунт.";
    }
    void logoutConfirmation()
    {
        QFETCH(QStringList, saved);
        QFETCH(QString, message);
        StoreTestAccess::setSavedAccounts(*m_store, saved);
        open(true);
        QVERIFY(reveal(u"accountButton"_s, u"logoutItem"_s));
        QCOMPARE(shown(u"account_max@example.com"_s), !saved.isEmpty());
        QVERIFY(!shown(u"checkUpdatesItem"_s) && shown(u"aboutItem"_s)); // without a feed, no update entry
        QVERIFY(reveal(u"logoutItem"_s, u"confirmTitle"_s));
        QCOMPARE(text(u"confirmTitle"_s), u"Выйти из аккаунта anna@example.com?"_s);
        QCOMPARE(shown(u"confirmMessage"_s) ? text(u"confirmMessage"_s) : QString(), message);
        key(Qt::Key_Escape);
        QTRY_VERIFY(!shown(u"confirmTitle"_s));
        QCOMPARE(m_store->email(), std::optional(u"anna@example.com"_s)); // dismissed: still signed in
    }

    void deviceHelp()
    {
        // The device service line shows while listing phones fails.
        m_sandbox->world.addFailure({.command = u"idevice_id"_s, .error = u"ERROR: Unable to retrieve device list!"_s}).write();
        QCoro::waitFor(m_store->refreshDevices());
        open();
        m_store->setShowDeviceHelp(true);
        QTRY_VERIFY(shown(u"deviceServiceLine"_s));
        m_sandbox->world.clearFailures().write();
        QCoro::waitFor(m_store->refreshDevices());
        QTRY_VERIFY(!shown(u"deviceServiceLine"_s));
        QCOMPARE(text(u"deviceHelpSentence"_s) + u" | "_s + text(u"deviceHelpClose"_s), labels::deviceHelpSentence({}) + u" | Закрыть"_s);
        m_store->setAwaitingDevice(AwaitingDevice{u"/downloads/Notes.ipa"_s, u"Notes"_s});
        QCOMPARE(text(u"deviceHelpSentence"_s) + u" | "_s + text(u"deviceHelpClose"_s), labels::deviceHelpSentence(m_store->awaitingDevice()) + u" | Отмена"_s);
        // A phone turning ready closes it and leaves the waiting install to the Store.
        StoreTestAccess::connectDevice(*m_store, u"17.4"_s);
        QTRY_VERIFY(!shown(u"deviceHelpView"_s));
        QVERIFY(m_store->awaitingDevice());
        // Cancelling it by hand drops the install.
        StoreTestAccess::setDevices(*m_store, {});
        QTRY_VERIFY(shown(u"deviceHelpView"_s));
        press(u"deviceHelpClose"_s);
        QTRY_VERIFY(!shown(u"deviceHelpView"_s));
        QVERIFY(!m_store->awaitingDevice());
    }

    void updateSheetWhileDownloading()
    {
        StoreTestAccess::setUpdateOffer(*m_store, UpdateOffer{.version = u"1.2"_s});
        StoreTestAccess::setUpdatePhase(*m_store, UpdatePhase::downloading(0.42));
        m_store->setShowUpdate(true);
        open();
        QTRY_VERIFY(shown(u"updateView"_s));
        QCOMPARE(text(u"updateTitle"_s) + u" | "_s + text(u"updateNotes"_s), u"Версия 1.2 | Без описания."_s);
        QCOMPARE(text(u"updatePercent"_s), u"42%"_s);
        QVERIFY(!item(u"updateInstall"_s)->isEnabled());
        key(Qt::Key_Return);
        QCOMPARE(m_store->updatePhase(), UpdatePhase::downloading(0.42));
        // "Позже" only hides the sheet; the download goes on.
        press(u"updateLater"_s);
        QTRY_VERIFY(!m_store->showUpdate());
        QCOMPARE(m_store->updatePhase(), UpdatePhase::downloading(0.42));
        // A failure returns the phase and shows its message.
        StoreTestAccess::setUpdatePhase(*m_store, UpdatePhase::available());
        StoreTestAccess::setUpdateError(*m_store, u"Обновление повреждено."_s);
        m_store->setShowUpdate(true);
        QTRY_VERIFY(shown(u"updateError"_s));
        QVERIFY(item(u"updateInstall"_s)->isEnabled());
    }
};

QTEST_MAIN(InterfaceTest)
#include "tst_interface.moc"
