// The window as a user meets it, offscreen: items found by object name, pressed with the
// mouse and the keyboard, over a Store put into each state or driven through the simulated
// tools (the demo world).
#include "store/store.h"
#include "tools/bin.h"
#include "ui/interface.h"

#include "sandbox.h"
#include "storeaccess.h"

#include <QCoroTask>
#include <QFile>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QtQml/QQmlExtensionPlugin>
#include <QtTest>

#include <memory>

Q_IMPORT_QML_PLUGIN(TelmoraPlugin)

using namespace telmora;
using telmora::test::Sandbox;

namespace {

constexpr int patience = 20000;

// Every item of this name under `root` in the visual tree: list rows and screens made by views
// and repeaters have no parent object, only a parent item.
void collect(QQuickItem* root, const QString& name, QList<QQuickItem*>& found)
{
    if (root->objectName() == name)
        found.append(root);
    for (QQuickItem* child : root->childItems())
        collect(child, name, found);
}

QQuickItem* descendant(QQuickItem* root, const QString& name)
{
    QList<QQuickItem*> found;
    collect(root, name, found);
    return found.value(0);
}

// Types text into the window's focused item, one key press per character.
void keyClicks(QWindow* window, const QString& text)
{
    for (QChar character : text)
        QTest::sendKeyEvent(QTest::Click, window, Qt::Key_unknown, QString(character), Qt::NoModifier);
}

AppItem app(const QString& id, const QString& name) { return AppItem{id, name, {}, {}, {}, {}}; }

} // namespace

class InterfaceTest : public QObject {
    Q_OBJECT

    std::optional<Sandbox> m_sandbox;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<Interface> m_interface;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow* m_window = nullptr;

    void open()
    {
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_interface->prepare(*m_engine);
        m_engine->load(Interface::mainQml());
        QVERIFY(!m_engine->rootObjects().isEmpty());
        m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().constFirst());
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        // The section's screen comes after the window's first frame, and lays out in the next.
        QTRY_VERIFY(shown(QStringLiteral("appsView")));
        QSignalSpy frames(m_window, &QQuickWindow::frameSwapped);
        QVERIFY(frames.wait());
    }

    // The visible item of this name (several may exist: list rows are made per row).
    QQuickItem* item(const QString& name) const
    {
        QList<QQuickItem*> found;
        collect(m_window->contentItem(), name, found);
        for (QQuickItem* candidate : found) {
            if (candidate->isVisible())
                return candidate;
        }
        return nullptr;
    }
    bool shown(const QString& name) const { return item(name) != nullptr; }

    void click(const QString& name, Qt::KeyboardModifiers modifiers = Qt::NoModifier, Qt::MouseButton button = Qt::LeftButton)
    {
        QQuickItem* target = item(name);
        QVERIFY2(target, qPrintable(name));
        QTest::mouseClick(m_window, button, modifiers, target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint());
    }
    void type(const QString& name, const QString& text)
    {
        QQuickItem* field = item(name);
        QVERIFY2(field, qPrintable(name));
        field->forceActiveFocus();
        keyClicks(m_window, text);
    }
    QString text(const QString& name) const
    {
        QQuickItem* found = item(name);
        return found ? found->property("text").toString() : QStringLiteral("<missing %1>").arg(name);
    }
    void showSection(int shortcutDigit)
    {
        QTest::keyClick(m_window, static_cast<Qt::Key>(Qt::Key_0 + shortcutDigit), Qt::ControlModifier);
    }
    void signIn(const QString& email = QStringLiteral("anna@example.com")) { StoreTestAccess::setEmail(*m_store, email); }

private Q_SLOTS:
    void initTestCase() { QQuickStyle::setStyle(QStringLiteral("Basic")); }

    void init()
    {
        m_sandbox.emplace();
        m_sandbox->world.useDemo();
        m_store = std::make_unique<Store>(test::storeOptions());
        m_interface = std::make_unique<Interface>(*m_store, QStringLiteral(TELMORA_SOURCE_DIR "/resources"), false);
    }
    void cleanup()
    {
        m_engine.reset();
        m_window = nullptr;
        m_interface.reset();
        m_store.reset();
        m_sandbox.reset();
    }

    void downloadsBadgeAndBar()
    {
        Job waiting;
        waiting.app = app(QStringLiteral("1"), QStringLiteral("A"));
        Job first;
        first.app = app(QStringLiteral("2"), QStringLiteral("B"));
        first.state = Job::State::running();
        first.fraction = 0.25;
        Job second = first;
        second.id = QUuid::createUuid();
        second.fraction = 0.75;
        StoreTestAccess::setJobs(*m_store, {waiting, first, second});
        open();
        QQuickItem* downloads = item(QStringLiteral("sectionDownloads"));
        QVERIFY(downloads);
        QQuickItem* badge = descendant(downloads, QStringLiteral("badge"));
        QQuickItem* bar = descendant(downloads, QStringLiteral("downloadProgress"));
        QCOMPARE(badge->property("count").toInt(), 3);
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->property("value").toDouble(), 0.25);
        StoreTestAccess::setJobs(*m_store, {waiting});
        QVERIFY(!bar->isVisible());
        QCOMPARE(badge->property("count").toInt(), 1);
    }

    void brandArtworkAndItsFallbacks()
    {
        open();
        QTRY_VERIFY(!shown(QStringLiteral("wordmarkText")) && !shown(QStringLiteral("logoFallback")));
        m_engine.reset();
        m_interface.reset();
        m_interface = std::make_unique<Interface>(*m_store, m_sandbox->filePath(QStringLiteral("no-resources")), false);
        open();
        QTRY_VERIFY(shown(QStringLiteral("wordmarkText")) && shown(QStringLiteral("logoFallback")));
        QVERIFY(shown(QStringLiteral("tile_686449807"))); // the window still has its Store
    }

    void pressingShrinksUnlessMotionIsReduced()
    {
        signIn();
        open();
        QQuickItem* button = item(QStringLiteral("tile_686449807"));
        QVERIFY(button);
        button = descendant(button, QStringLiteral("mainAction"));
        const QPoint centre = button->mapToScene(QPointF(button->width() / 2, button->height() / 2)).toPoint();
        const QColor idle = button->property("fill").value<QColor>();
        m_interface->desktop().setReduceMotion(true);
        QTest::mousePress(m_window, Qt::LeftButton, {}, centre);
        QTest::qWait(300);
        QCOMPARE(button->scale(), 1.0);
        QVERIFY(button->property("fill").value<QColor>() != idle);
        QTest::mouseRelease(m_window, Qt::LeftButton, {}, QPoint(1, 1));
        m_interface->desktop().setReduceMotion(false);
        QTest::mousePress(m_window, Qt::LeftButton, {}, centre);
        QTRY_COMPARE(button->scale(), 0.97);
        QTest::mouseRelease(m_window, Qt::LeftButton, {}, QPoint(1, 1));
    }

    void noticeIsCutToTwoLines()
    {
        open();
        m_store->setNotice(QStringLiteral("Первая строка\nВторая строка\nТретья строка\nЧетвёртая"));
        QQuickItem* text = item(QStringLiteral("noticeText"));
        QVERIFY(text);
        QCOMPARE(text->property("text").toString().count(u'\n'), 3); // all of it can be selected
        const qreal twoLines = text->property("twoLines").toReal();
        QVERIFY(text->parentItem()->height() <= twoLines);
        QVERIFY(text->parentItem()->clip());
        click(QStringLiteral("closeNotice"));
        QCOMPARE(m_store->notice(), std::nullopt);
    }

    void bulkButtonFromTwoSelectedRows()
    {
        signIn();
        StoreTestAccess::setPurchases(*m_store, {app(QStringLiteral("11"), QStringLiteral("Alpha")), app(QStringLiteral("12"), QStringLiteral("Beta")),
                                                 app(QStringLiteral("13"), QStringLiteral("Gamma"))});
        open();
        showSection(2);
        QTRY_VERIFY(shown(QStringLiteral("row_11")));
        click(QStringLiteral("row_11"));
        QVERIFY(!shown(QStringLiteral("bulkButton")));
        click(QStringLiteral("row_13"), Qt::ControlModifier);
        QVERIFY(shown(QStringLiteral("bulkButton")));
        QCOMPARE(text(QStringLiteral("bulkButton")), QStringLiteral("Скачать выбранные: 2"));
        StoreTestAccess::connectDevice(*m_store, QStringLiteral("17.4"));
        QCOMPARE(text(QStringLiteral("bulkButton")), QStringLiteral("Установить выбранные: 2"));
    }

    void hiddenSelectedTilesAreStillInstalledInCatalogOrder()
    {
        signIn();
        Bin::setDirForTesting(m_sandbox->filePath(QStringLiteral("no-tools"))); // the queue only records
        open();
        const QList<AppItem>& catalog = m_store->catalog();
        const AppItem later = catalog.at(3);
        const AppItem earlier = catalog.at(1);
        for (const AppItem& chosen : {later, earlier}) {
            QQuickItem* tile = item(QStringLiteral("tile_") + chosen.id);
            QVERIFY(tile);
            QTest::mouseMove(m_window, tile->mapToScene(QPointF(20, 20)).toPoint());
            QQuickItem* check = descendant(tile, QStringLiteral("tileCheck"));
            QTRY_VERIFY(check->isVisible());
            QTest::mouseClick(m_window, Qt::LeftButton, {}, check->mapToScene(QPointF(check->width() / 2, check->height() / 2)).toPoint());
        }
        QCOMPARE(text(QStringLiteral("catalogBulkButton")), QStringLiteral("Скачать выбранные: 2"));
        type(QStringLiteral("searchField"), QStringLiteral("zzzz"));
        QVERIFY(!shown(QStringLiteral("tile_") + later.id));
        click(QStringLiteral("catalogBulkButton"));
        QStringList queued;
        for (const Job& job : m_store->jobs())
            queued.prepend(job.app.id); // each new job goes first
        QCOMPARE(queued, (QStringList{earlier.id, later.id}));
        QVERIFY(!shown(QStringLiteral("catalogBulkButton")));
    }

    void appMenuEntries_data()
    {
        QTest::addColumn<bool>("withFile");
        QTest::addColumn<bool>("withDevice");
        QTest::addColumn<QStringList>("entries");
        const QStringList always{QStringLiteral("menuVersions"), QStringLiteral("menuLicense"), QStringLiteral("menuAppStore"), QStringLiteral("menuCopyId")};
        QTest::newRow("nothing") << false << false << always;
        QTest::newRow("a phone") << false << true << always + QStringList{QStringLiteral("menuDownloadOnly")};
        QTest::newRow("a file and a phone") << true << true << always + QStringList{QStringLiteral("menuRedownload"), QStringLiteral("menuReveal")};
    }
    void appMenuEntries()
    {
        QFETCH(bool, withFile);
        QFETCH(bool, withDevice);
        QFETCH(QStringList, entries);
        const AppItem first = m_store->catalog().constFirst();
        if (withFile) {
            IPAFile file;
            file.url = m_sandbox->filePath(QStringLiteral("App.ipa"));
            file.appID = first.id;
            StoreTestAccess::setFiles(*m_store, {file});
        }
        if (withDevice)
            StoreTestAccess::connectDevice(*m_store, QStringLiteral("17.4"));
        open();
        click(QStringLiteral("tile_") + first.id, Qt::NoModifier, Qt::RightButton);
        QTRY_VERIFY(shown(QStringLiteral("menuVersions")));
        QStringList visible;
        for (const QString& name : {"menuVersions", "menuRedownload", "menuReveal", "menuDownloadOnly", "menuLicense", "menuAppStore", "menuCopyId"}) {
            if (shown(name))
                visible.append(name);
        }
        entries.sort();
        visible.sort();
        QCOMPARE(visible, entries);
    }

    void searchField()
    {
        open();
        QQuickItem* view = item(QStringLiteral("appsView"));
        // A query of spaces: nothing to submit, the whole catalog stays.
        type(QStringLiteral("searchField"), QStringLiteral("   "));
        QVERIFY(!item(QStringLiteral("searchButton"))->isEnabled());
        QTest::keyClick(m_window, Qt::Key_Return);
        QVERIFY(!view->property("showResults").toBool());
        QVERIFY(!m_store->searching());
        QCOMPARE(text(QStringLiteral("catalogHeading")), QStringLiteral("Популярные"));

        // Return searches; typing again goes back to the catalog, filtered by the new text.
        m_store->setQuery(QString());
        type(QStringLiteral("searchField"), QStringLiteral("Telegr"));
        QTest::keyClick(m_window, Qt::Key_Return);
        QVERIFY(view->property("showResults").toBool());
        keyClicks(m_window, QStringLiteral("am"));
        QVERIFY(!view->property("showResults").toBool());
        QCOMPARE(text(QStringLiteral("catalogHeading")), QStringLiteral("В каталоге"));
        QVERIFY(shown(QStringLiteral("tile_686449807"))); // Telegram
        QCOMPARE(m_store->query(), QStringLiteral("Telegram"));
    }

    void purchasesScreenStates()
    {
        StoreTestAccess::setPurchases(*m_store, {app(QStringLiteral("11"), QStringLiteral("Alpha"))});
        open();
        showSection(2);
        // Signed out: only the sign-in prompt, whatever the history holds.
        QTRY_VERIFY(shown(QStringLiteral("signInPrompt")));
        QVERIFY(!shown(QStringLiteral("appList")));
        QVERIFY(!shown(QStringLiteral("refreshPurchases")));

        signIn();
        StoreTestAccess::setPurchases(*m_store, {});
        StoreTestAccess::setPurchasesError(*m_store, QStringLiteral("Нет связи с серверами Apple"));
        QQuickItem* empty = item(QStringLiteral("purchasesEmpty"));
        QVERIFY(empty);
        QCOMPARE(descendant(empty, QStringLiteral("emptyAction"))->property("text").toString(), QStringLiteral("Попробовать снова"));
        QCOMPARE(descendant(empty, QStringLiteral("emptyDescription"))->property("text").toString(),
                 QStringLiteral("Нет связи с серверами Apple"));
    }

    void dismissingTheTrashDialogKeepsTheFile()
    {
        QDir().mkpath(m_store->downloadsFolder());
        const QString path = m_store->downloadsFolder() + QStringLiteral("/Notes_1.0.ipa");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a package");
        file.close();
        open();
        showSection(3);
        QTRY_VERIFY(shown(QStringLiteral("file_Notes_1.0.ipa")));
        click(QStringLiteral("fileMenu"));
        QTRY_VERIFY(shown(QStringLiteral("fileTrash")));
        click(QStringLiteral("fileTrash"));
        QTRY_VERIFY(shown(QStringLiteral("confirmMessage")));
        QCOMPARE(text(QStringLiteral("confirmTitle")), QStringLiteral("Переместить в Корзину?"));
        QCOMPARE(text(QStringLiteral("confirmMessage")), QStringLiteral("Notes_1.0.ipa"));
        QTest::keyClick(m_window, Qt::Key_Escape);
        QTRY_VERIFY(!shown(QStringLiteral("confirmMessage")));
        QVERIFY(QFile::exists(path));
        QVERIFY(shown(QStringLiteral("file_Notes_1.0.ipa")));
        QVERIFY(!item(QStringLiteral("downloadsView"))->property("trashCandidate").isValid());
    }

    void codeNeedsSixCharacters()
    {
        StoreTestAccess::setLoginStep(*m_store, LoginStep::code());
        m_store->setShowLogin(true);
        open();
        QTRY_VERIFY(shown(QStringLiteral("codeField")));
        type(QStringLiteral("codeField"), QStringLiteral("12345"));
        QVERIFY(!item(QStringLiteral("loginSubmit"))->isEnabled());
        QTest::keyClick(m_window, Qt::Key_Return);
        QCOMPARE(text(QStringLiteral("codeField")), QStringLiteral("12345")); // nothing was sent
        QCOMPARE(m_store->loginStep(), LoginStep::code());
        QCOMPARE(text(QStringLiteral("loginSubmit")), QStringLiteral("Подтвердить"));
    }

    void signInTrimsTheEmailNotThePassword()
    {
        m_store->beginLogin(QString(), false);
        open();
        QTRY_VERIFY(shown(QStringLiteral("emailField")));
        QCOMPARE(text(QStringLiteral("loginTitle")), QStringLiteral("Вход в аккаунт Apple"));
        type(QStringLiteral("emailField"), QStringLiteral("  anna@example.com "));
        type(QStringLiteral("passwordField"), QStringLiteral("demo1234"));
        QTest::keyClick(m_window, Qt::Key_Return);
        QCOMPARE(text(QStringLiteral("passwordField")), QString());
        // The demo account asks for its code only when the e-mail and password were right.
        QTRY_COMPARE_WITH_TIMEOUT(m_store->loginStep(), LoginStep::code(), patience);
        type(QStringLiteral("codeField"), QStringLiteral(" 123456 "));
        QTest::keyClick(m_window, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(m_store->email(), std::optional(QStringLiteral("anna@example.com")), patience);
        QTRY_VERIFY(!shown(QStringLiteral("loginView")));
    }

    void footerMenus()
    {
        const Device ready{QStringLiteral("A"), QStringLiteral("iPhone Анны"), QStringLiteral("17.4.1")};
        const Device other{QStringLiteral("B"), QStringLiteral("iPhone Максима"), QStringLiteral("?")};
        StoreTestAccess::setDevices(*m_store, {ready, other});
        m_store->setSelectedDevice(ready.id);
        signIn();
        open();
        // Two phones: a menu choosing one.
        click(QStringLiteral("deviceStatus"));
        QTRY_VERIFY(shown(QStringLiteral("deviceEntry_B")));
        click(QStringLiteral("deviceEntry_B"));
        QCOMPARE(m_store->selectedDevice(), std::optional(other.id));
        QTRY_COMPARE(text(QStringLiteral("deviceSubtitle")), QStringLiteral("Нажмите «Доверять» на iPhone"));
        // One phone: a button opening the help.
        StoreTestAccess::setDevices(*m_store, {other});
        click(QStringLiteral("deviceStatus"));
        QVERIFY(m_store->showDeviceHelp());
        QTRY_VERIFY(shown(QStringLiteral("deviceHelpView")));
        QTest::keyClick(m_window, Qt::Key_Escape);
        QTRY_VERIFY(!m_store->showDeviceHelp());

        // Without a feed the account menu has no update entry; the application menu keeps its own.
        click(QStringLiteral("accountButton"));
        QTRY_VERIFY(shown(QStringLiteral("addAccount")));
        QVERIFY(!shown(QStringLiteral("checkUpdatesItem")));
        QVERIFY(shown(QStringLiteral("aboutItem")));
        QTest::keyClick(m_window, Qt::Key_Escape);
        click(QStringLiteral("brandHeader"));
        QTRY_VERIFY(shown(QStringLiteral("menuCheckUpdates")));
        click(QStringLiteral("menuCheckUpdates"));
        QTRY_VERIFY(m_store->notice() && m_store->notice()->contains(u"не проверяет обновления"));
    }

    void logoutConfirmation_data()
    {
        QTest::addColumn<QStringList>("saved");
        QTest::addColumn<QString>("message");
        QTest::newRow("no other account") << QStringList{} << QString();
        QTest::newRow("another saved") << QStringList{QStringLiteral("max@example.com")} << "Откроется следующий сохранённый аккаунт.";
    }
    void logoutConfirmation()
    {
        QFETCH(QStringList, saved);
        QFETCH(QString, message);
        signIn();
        StoreTestAccess::setSavedAccounts(*m_store, saved);
        open();
        click(QStringLiteral("accountButton"));
        QTRY_VERIFY(shown(QStringLiteral("logoutItem")));
        QCOMPARE(shown(QStringLiteral("account_max@example.com")), !saved.isEmpty());
        click(QStringLiteral("logoutItem"));
        QTRY_VERIFY(shown(QStringLiteral("confirmTitle")));
        QCOMPARE(text(QStringLiteral("confirmTitle")), QStringLiteral("Выйти из аккаунта anna@example.com?"));
        QCOMPARE(shown(QStringLiteral("confirmMessage")) ? text(QStringLiteral("confirmMessage")) : QString(), message);
        QTest::keyClick(m_window, Qt::Key_Escape);
        QTRY_VERIFY(!shown(QStringLiteral("confirmTitle")));
        QCOMPARE(m_store->email(), std::optional(QStringLiteral("anna@example.com"))); // dismissed: still signed in
    }

    void deviceHelp()
    {
        open();
        m_store->setShowDeviceHelp(true);
        QTRY_VERIFY(shown(QStringLiteral("deviceHelpView")));
        QCOMPARE(text(QStringLiteral("deviceHelpSentence")), QStringLiteral("Когда iPhone будет готов, кнопки «Установить» заработают сами."));
        QCOMPARE(text(QStringLiteral("deviceHelpClose")), QStringLiteral("Закрыть"));
        QVERIFY(!shown(QStringLiteral("deviceServiceLine")));

        m_store->setAwaitingDevice(AwaitingDevice{QStringLiteral("/downloads/Notes.ipa"), QStringLiteral("Notes")});
        QCOMPARE(text(QStringLiteral("deviceHelpSentence")), QStringLiteral("Установка «Notes» начнётся сама, как только iPhone будет готов."));
        QCOMPARE(text(QStringLiteral("deviceHelpClose")), QStringLiteral("Отмена"));
        // A phone turning ready closes it and leaves the waiting install to the Store.
        StoreTestAccess::connectDevice(*m_store, QStringLiteral("17.4"));
        QTRY_VERIFY(!shown(QStringLiteral("deviceHelpView")));
        QVERIFY(m_store->awaitingDevice());
        // Cancelling it by hand drops the install.
        StoreTestAccess::setDevices(*m_store, {});
        QTRY_VERIFY(shown(QStringLiteral("deviceHelpView")));
        click(QStringLiteral("deviceHelpClose"));
        QTRY_VERIFY(!shown(QStringLiteral("deviceHelpView")));
        QVERIFY(!m_store->awaitingDevice());
    }

    void deviceServiceMissingInTheHelp()
    {
        test::SimWorld world;
        world.addFailure({.command = QStringLiteral("idevice_id"), .error = QStringLiteral("ERROR: Unable to retrieve device list!")});
        world.write();
        QCoro::waitFor(m_store->refreshDevices());
        open();
        m_store->setShowDeviceHelp(true);
        QTRY_VERIFY(shown(QStringLiteral("deviceServiceLine")));
        world.clearFailures().write();
        QCoro::waitFor(m_store->refreshDevices());
        QTRY_VERIFY(!shown(QStringLiteral("deviceServiceLine")));
    }

    void updateSheetWhileDownloading()
    {
        UpdateOffer offer;
        offer.version = QStringLiteral("1.2");
        StoreTestAccess::setUpdateOffer(*m_store, offer);
        StoreTestAccess::setUpdatePhase(*m_store, UpdatePhase::downloading(0.42));
        m_store->setShowUpdate(true);
        open();
        QTRY_VERIFY(shown(QStringLiteral("updateView")));
        QCOMPARE(text(QStringLiteral("updateTitle")), QStringLiteral("Версия 1.2"));
        QCOMPARE(text(QStringLiteral("updateNotes")), QStringLiteral("Без описания."));
        QCOMPARE(text(QStringLiteral("updatePercent")), QStringLiteral("42%"));
        QVERIFY(!item(QStringLiteral("updateInstall"))->isEnabled());
        QTest::keyClick(m_window, Qt::Key_Return);
        QCOMPARE(m_store->updatePhase(), UpdatePhase::downloading(0.42));
        // "Позже" only hides the sheet; the download goes on.
        click(QStringLiteral("updateLater"));
        QTRY_VERIFY(!m_store->showUpdate());
        QCOMPARE(m_store->updatePhase(), UpdatePhase::downloading(0.42));
        // A failure returns the phase and shows its message.
        StoreTestAccess::setUpdatePhase(*m_store, UpdatePhase::available());
        StoreTestAccess::setUpdateError(*m_store, QStringLiteral("Обновление повреждено."));
        m_store->setShowUpdate(true);
        QTRY_VERIFY(shown(QStringLiteral("updateError")));
        QVERIFY(item(QStringLiteral("updateInstall"))->isEnabled());
    }

    void workflowOutlivesTheWindowAndTheStore()
    {
        signIn();
        open();
        m_store->setQuery(QStringLiteral("Telegram"));
        QVERIFY(m_interface->actions().submitSearch());
        QVERIFY(m_store->searching());
        m_engine.reset();
        m_interface.reset();
        m_store.reset();
        QTest::qWait(1500); // the search's tool ends and its workflow resumes into nothing
    }

    void addingAnAccount()
    {
        m_store->beginLogin(QString(), true);
        open();
        QTRY_VERIFY(shown(QStringLiteral("loginView")));
        QCOMPARE(text(QStringLiteral("loginTitle")), QStringLiteral("Новый аккаунт Apple"));
        QCOMPARE(text(QStringLiteral("loginSubmit")), QStringLiteral("Добавить"));
        QVERIFY(!item(QStringLiteral("loginSubmit"))->isEnabled());
        QTest::keyClick(m_window, Qt::Key_Escape);
        QTRY_VERIFY(!m_store->showLogin());
    }
};

QTEST_MAIN(InterfaceTest)
#include "tst_interface.moc"
