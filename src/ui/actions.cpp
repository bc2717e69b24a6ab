#include "ui/actions.h"

#include "store/store.h"
#include "ui/desktop.h"
#include "ui/labels.h"

#include <exception>

namespace telmora {

namespace {

const QString failureNotice = QStringLiteral("Что-то пошло не так. Попробуйте ещё раз.");

// Awaits the workflow in a frame of its own, so it lives until it ends whoever started it.
QCoro::Task<> finish(QPointer<Store> store, QCoro::Task<> task)
{
    try {
        co_await std::move(task);
    } catch (...) {
        if (store)
            store->setNotice(failureNotice);
    }
}

template<typename T>
std::optional<T> valueOf(const QVariant& value)
{
    if (!value.isValid() || !value.canConvert<T>())
        return std::nullopt;
    return value.value<T>();
}

} // namespace

Actions::Actions(Store* store, Desktop* desktop, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_desktop(desktop)
{
}

void Actions::launch(QCoro::Task<> task)
{
    finish(m_store, std::move(task));
}

template<typename Call>
void Actions::guarded(Call&& call)
{
    if (!m_store)
        return;
    try {
        call(*m_store);
    } catch (...) {
        if (m_store)
            m_store->setNotice(failureNotice);
    }
}

bool Actions::submitSearch()
{
    if (!m_store || m_store->query().trimmed().isEmpty())
        return false;
    guarded([this](Store& store) { launch(store.search()); });
    return true;
}

void Actions::loadPurchases(bool full)
{
    guarded([this, full](Store& store) { launch(store.loadPurchases(full)); });
}

void Actions::perform(const QVariant& situation, const QVariant& app)
{
    const auto known = valueOf<AppSituation>(situation);
    const auto item = valueOf<AppItem>(app);
    // No action means the app is being installed: there is nothing to press.
    if (known && known->action && item)
        guarded([&](Store& store) { store.perform(*known->action, *item); });
}

void Actions::getOrInstall(const QVariantList& apps)
{
    QList<AppItem> items;
    for (const QVariant& app : apps) {
        if (const auto item = valueOf<AppItem>(app))
            items.append(*item);
    }
    if (!items.isEmpty())
        guarded([&](Store& store) { store.getOrInstall(items); });
}

void Actions::retry(const QVariant& job)
{
    if (const auto known = valueOf<Job>(job))
        guarded([&](Store& store) { store.perform(AppSituation::Action::retry(*known), known->app); });
}

void Actions::cancel(const QVariant& job)
{
    if (const auto known = valueOf<Job>(job))
        guarded([&](Store& store) { store.cancel(*known); });
}

void Actions::removeJob(const QVariant& job)
{
    if (const auto known = valueOf<Job>(job))
        guarded([&](Store& store) { store.removeJob(*known); });
}

void Actions::install(const QString& file)
{
    guarded([&](Store& store) { launch(store.install(file)); });
}

void Actions::refreshFiles()
{
    guarded([this](Store& store) { launch(store.refreshFiles()); });
}

void Actions::moveToTrash(const QVariant& file)
{
    if (const auto known = valueOf<IPAFile>(file))
        guarded([&](Store& store) { launch(store.moveToTrash(*known)); });
}

QStringList Actions::appMenu(const QVariant& app) const
{
    const auto item = valueOf<AppItem>(app);
    if (!m_store || !item)
        return {};
    QStringList commands{QStringLiteral("versions")};
    if (m_store->file(item->id))
        commands << QStringLiteral("redownload") << QStringLiteral("reveal");
    else if (m_store->readyDevice())
        commands << QStringLiteral("downloadOnly");
    commands << QStringLiteral("license") << QStringLiteral("appStore") << QStringLiteral("copyId");
    return commands;
}

void Actions::runAppCommand(const QString& command, const QVariant& app)
{
    const auto item = valueOf<AppItem>(app);
    if (!m_store || !item)
        return;
    if (command == u"versions") {
        guarded([&](Store& store) { store.openVersions(*item); });
    } else if (command == u"redownload" || command == u"downloadOnly") {
        guarded([&](Store& store) { store.enqueue({*item}, std::nullopt, std::nullopt, false); });
    } else if (command == u"reveal") {
        if (const std::optional<IPAFile> stored = m_store->file(item->id))
            m_desktop->reveal(stored->url);
    } else if (command == u"license") {
        guarded([&](Store& store) { launch(store.acquireLicense(*item)); });
    } else if (command == u"appStore") {
        m_desktop->openLink(labels::appStoreLink(item->id));
    } else if (command == u"copyId") {
        m_desktop->copyText(item->id);
    }
}

void Actions::beginLogin()
{
    guarded([](Store& store) { store.beginLogin(QString(), false); });
}

bool Actions::canSignIn(const QString& email, const QString& password) const
{
    return !email.trimmed().isEmpty() && !password.isEmpty();
}

void Actions::signIn(const QString& email, const QString& password)
{
    if (canSignIn(email, password))
        guarded([&](Store& store) { store.login(email.trimmed(), password); });
}

bool Actions::canSendCode(const QString& code) const
{
    return code.size() >= 6;
}

bool Actions::sendCode(const QString& code)
{
    if (!canSendCode(code))
        return false;
    guarded([&](Store& store) { store.submitCode(code.trimmed()); });
    return true;
}

void Actions::cancelLogin()
{
    guarded([](Store& store) { store.cancelLogin(); });
}

void Actions::switchAccount(const QString& email)
{
    guarded([&](Store& store) { launch(store.switchAccount(email)); });
}

void Actions::addAccount()
{
    guarded([](Store& store) {
        if (!store.accountsLocked())
            store.beginLogin(QString(), true);
    });
}

void Actions::logout()
{
    guarded([this](Store& store) { launch(store.logout()); });
}

void Actions::chooseVersion(const QString& versionID, const QString& label)
{
    guarded([&](Store& store) {
        const std::optional<AppItem> app = store.versionsApp();
        if (!app)
            return;
        const std::optional<QString> shown = label.isEmpty() ? std::nullopt : std::optional<QString>(label);
        store.enqueue({*app}, versionID, shown, store.readyDevice().has_value());
        store.setVersionsApp(std::nullopt);
    });
}

void Actions::loadMoreVersionDetails()
{
    guarded([this](Store& store) {
        if (const std::optional<AppItem> app = store.versionsApp())
            launch(store.loadMoreVersionDetails(*app, 0));
    });
}

void Actions::installUpdate()
{
    guarded([this](Store& store) { launch(store.installUpdate()); });
}

void Actions::checkForUpdates()
{
    guarded([this](Store& store) {
        // A build without a feed checks nothing; a press that seemed to do nothing would puzzle.
        if (!store.updateIsConfigured())
            store.setNotice(QStringLiteral("Эта сборка не проверяет обновления: в ней не указан адрес обновлений."));
        else
            launch(store.checkForUpdates(true));
    });
}

} // namespace telmora
