#include "store/store.h"

#include "model/errors.h"
#include "model/text.h"
#include "tools/ipatool.h"
#include "tools/pty.h"

#include <QCoroFuture>
#include <QCoroTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <utility>

namespace telmora {

namespace {

const QString emailPrompt = QStringLiteral("Enter email:");
const QString passwordPrompt = QStringLiteral("Enter password:");
const QString codePrompt = QStringLiteral("Enter 2FA code:");

std::filesystem::path fsPath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

bool existsOrLink(const QString& path)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(fsPath(path), error));
}

QString describe(const std::error_code& error)
{
    return QString::fromLocal8Bit(error.message().c_str());
}

} // namespace

QString loginFailureMessage(const QString& transcript, const QStringList& secrets)
{
    // Each secret as typed and as the message would show it, without control sequences.
    QStringList forms;
    for (const QString& secret : secrets) {
        for (const QString& form : {secret, removeControlSequences(secret)}) {
            if (!form.isEmpty() && !forms.contains(form))
                forms.append(form);
        }
    }
    // Map the untouched transcript first, so a secret that happens to overlap a known
    // failure text cannot spoil the match; only a message that would show a secret is
    // mapped again from a transcript with every secret blotted out.
    const QString message = friendlyError(transcript);
    const auto shows = [&message](const QString& form) { return message.contains(form); };
    if (std::none_of(forms.cbegin(), forms.cend(), shows))
        return message;
    QString masked = removeControlSequences(transcript);
    // Longer secrets first, so one that contains another is blotted out whole.
    std::sort(forms.begin(), forms.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& form : std::as_const(forms))
        masked.replace(form, QStringLiteral("••••••"));
    return friendlyError(masked);
}

void Store::beginLogin(const QString& emailHint, bool adding)
{
    setLoginStep(LoginStep::form());
    setLoginEmailHint(emailHint);
    setAddingAccount(adding);
    setShowLogin(true);
}

void Store::login(const QString& email, const QString& password)
{
    setLoginStep(LoginStep::working());
    runLogin(email, password, ++m_loginAttempt);
}

QCoro::Task<> Store::runLogin(QString email, QString password, quint64 attempt)
{
    QPointer<Store> self(this);
    co_await waitForAccountWork();
    // Cancelled or replaced while waiting: this attempt never starts.
    if (!self || attempt != m_loginAttempt)
        co_return;

    m_pendingEmail = email;
    m_pendingPassword = password;
    m_loginSecrets = QStringList{password};
    m_loginBuffer.clear();
    m_loginOutput.clear();
    m_stashedAccount.reset();

    if (m_loginTool)
        m_loginTool->terminate(); // a superseded attempt must not keep a tool of its own
    auto tool = std::make_shared<PTYTool>(ipatool::executable(), ipatool::authLogin());
    m_loginTool = tool;

    const auto failBeforeDialogue = [this](const QString& description) {
        m_loginTool.reset();
        m_pendingEmail.reset();
        m_pendingPassword.reset();
        if (m_stashedAccount)
            restoreAccount(*m_stashedAccount);
        m_stashedAccount.reset();
        setLoginStep(LoginStep::failed(description));
    };

    if (m_addingAccount && m_email) {
        const QString active = *m_email;
        // A failed stash puts back what it moved, so there is nothing to restore then.
        if (const std::optional<QString> error = stashActiveAccount(active)) {
            failBeforeDialogue(*error);
            co_return;
        }
        m_stashedAccount = active;
    }

    try {
        std::weak_ptr<PTYTool> weakTool = tool;
        tool->start([self, weakTool](const QString& chunk) {
            if (!self)
                return;
            const std::shared_ptr<PTYTool> current = weakTool.lock();
            // Output of a cancelled or replaced attempt is not examined.
            if (!current || current != self->m_loginTool)
                return;
            self->handleLoginOutput(chunk);
        });
    } catch (const ToolStartError& error) {
        failBeforeDialogue(error.description());
        co_return;
    }

    const int status = co_await tool->wait();
    if (!self)
        co_return;
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    if (!self)
        co_return;
    co_await finishLogin(tool, status);
}

void Store::handleLoginOutput(const QString& text)
{
    const QString cleaned = removeControlSequences(text);
    m_loginOutput += cleaned;
    m_loginBuffer += cleaned;

    const auto answer = [this](std::optional<QString>& pending) {
        m_loginBuffer.clear();
        const QString value = *pending;
        pending.reset();
        if (m_loginTool)
            m_loginTool->write(value);
    };

    if (m_loginBuffer.contains(emailPrompt) && m_pendingEmail) {
        answer(m_pendingEmail);
    } else if (m_loginBuffer.contains(passwordPrompt) && m_pendingPassword) {
        answer(m_pendingPassword);
    } else if (m_loginBuffer.contains(codePrompt)) {
        m_loginBuffer.clear();
        setLoginStep(LoginStep::code());
    } else if (m_loginBuffer.contains(emailPrompt) || m_loginBuffer.contains(passwordPrompt)) {
        // Asked again for an answer already given: the tool rejected it.
        if (m_loginTool && m_loginTool->isRunning())
            m_loginTool->terminate();
    }
}

void Store::submitCode(const QString& code)
{
    setLoginStep(LoginStep::working());
    if (!m_loginTool)
        return;
    m_loginSecrets.append(code);
    m_loginTool->write(code);
}

QCoro::Task<> Store::finishLogin(std::shared_ptr<PTYTool> tool, int status)
{
    if (!m_loginTool || m_loginTool != tool)
        co_return;
    QPointer<Store> self(this);
    const quint64 attempt = m_loginAttempt;
    m_pendingEmail.reset();
    m_pendingPassword.reset();
    m_loginTool.reset();

    if (status == 0) {
        QFile loginFile(QDir(m_sessionFolder).filePath(QStringLiteral("login")));
        if (loginFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
            loginFile.close();
        co_await ipatool(ipatool::kbsyncRefresh());
        if (!self)
            co_return;
        m_stashedAccount.reset();
        setPurchases({});
        setPurchasesError(std::nullopt);
        co_await checkAuth(true);
        if (!self || attempt != m_loginAttempt)
            co_return;
        m_loginSecrets.clear();
        if (m_email) {
            setShowLogin(false);
            setAddingAccount(false);
            const std::function<void()> action = std::exchange(m_afterLogin, nullptr);
            if (action)
                action();
        } else {
            setLoginStep(LoginStep::failed(QStringLiteral("Вход не подтвердился. Попробуйте ещё раз.")));
        }
        co_return;
    }

    // The message is taken now, from this attempt's transcript.
    const QString message = loginFailureMessage(m_loginOutput, m_loginSecrets);
    m_loginSecrets.clear();
    if (m_stashedAccount)
        restoreAccount(*m_stashedAccount);
    m_stashedAccount.reset();
    co_await checkAuth(false);
    if (!self || attempt != m_loginAttempt)
        co_return;
    setLoginStep(LoginStep::failed(message));
}

void Store::cancelLogin()
{
    ++m_loginAttempt;
    const bool hadTool = static_cast<bool>(m_loginTool);
    if (m_loginTool && m_loginTool->isRunning())
        m_loginTool->terminate();
    m_loginTool.reset();
    m_pendingEmail.reset();
    m_pendingPassword.reset();
    m_loginSecrets.clear();
    m_afterLogin = nullptr;
    setShowLogin(false);
    if (!hadTool)
        return;
    auto done = std::make_shared<QPromise<void>>();
    done->start();
    m_accountWork = done;
    cleanUpCancelledLogin(done);
}

QCoro::Task<> Store::cleanUpCancelledLogin(std::shared_ptr<QPromise<void>> done)
{
    QPointer<Store> self(this);
    // Waiters resume once the promise is finished, also when this task ends early.
    auto finish = qScopeGuard([done] { done->finish(); });
    if (m_stashedAccount)
        restoreAccount(*m_stashedAccount);
    m_stashedAccount.reset();
    co_await checkAuth(false);
    if (self && m_accountWork == done)
        m_accountWork.reset();
}

QCoro::Task<> Store::waitForAccountWork()
{
    QPointer<Store> self(this);
    // A clean-up that started while waiting for an earlier one is waited for as well.
    while (self && m_accountWork) {
        const std::shared_ptr<QPromise<void>> work = m_accountWork;
        const QFuture<void> future = work->future();
        co_await qCoro(future).waitForFinished();
        if (self && m_accountWork == work)
            m_accountWork.reset();
    }
}

QCoro::Task<> Store::switchAccount(const QString& requested)
{
    const QString target = requested; // the caller's text need not outlive the first suspension
    QPointer<Store> self(this);
    co_await waitForAccountWork();
    if (!self)
        co_return;
    if (accountsLocked())
        co_return;
    if (!m_savedAccounts.contains(target))
        co_return;
    if (m_email) {
        if (const std::optional<QString> error = stashActiveAccount(*m_email)) {
            setNotice(*error);
            co_return;
        }
    }
    restoreAccount(target);
    setPurchases({});
    setPurchasesError(std::nullopt);
    setVersionsApp(std::nullopt);
    co_await checkAuth(false);
    if (!self)
        co_return;
    if (m_email == target)
        setNotice(QStringLiteral("Аккаунт: ") + target);
    else
        beginLogin(target, false);
}

QCoro::Task<> Store::logout()
{
    QPointer<Store> self(this);
    co_await waitForAccountWork();
    if (!self)
        co_return;
    if (accountsLocked())
        co_return;
    co_await ipatool(ipatool::authRevoke());
    if (!self)
        co_return;
    clearActiveFiles();
    if (!m_savedAccounts.isEmpty())
        restoreAccount(m_savedAccounts.constFirst());
    setEmail(std::nullopt);
    setPurchases({});
    setPurchasesError(std::nullopt);
    co_await checkAuth(false);
}

bool Store::handleAuthLoss(const QString& text)
{
    if (!text.contains(QStringLiteral("Not logged in")) && !text.contains(QStringLiteral("session expired")))
        return false;
    const QString hint = m_email.value_or(QString());
    setEmail(std::nullopt);
    beginLogin(hint, false);
    return true;
}

void Store::refreshSavedAccounts()
{
    const QFileInfoList entries = QDir(m_sessionFolder).entryInfoList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    QStringList accounts;
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        if (entry.isDir() && name.contains(QLatin1Char('@')) && (!m_email || name != *m_email))
            accounts.append(name);
    }
    std::sort(accounts.begin(), accounts.end());
    setSavedAccounts(accounts);
}

bool Store::accountsLocked()
{
    if (activeJobCount() == 0 && !m_installing)
        return false;
    setNotice(QStringLiteral("Дождитесь окончания загрузок и установки."));
    return true;
}

int Store::activeJobCount() const
{
    return static_cast<int>(std::count_if(m_jobs.cbegin(), m_jobs.cend(), [](const Job& job) { return job.isActive(); }));
}

std::optional<QString> Store::stashActiveAccount(const QString& email)
{
    const std::optional<QString> folder = accountFolder(email);
    if (!folder)
        return std::nullopt;
    std::error_code error;
    std::filesystem::create_directories(fsPath(*folder), error);
    if (error)
        return describe(error);
    const QDir session(m_sessionFolder);
    const QDir saved(*folder);
    QStringList moved;
    for (const QString& name : m_authFiles) {
        if (!existsOrLink(session.filePath(name)))
            continue;
        QFile::remove(saved.filePath(name));
        std::filesystem::rename(fsPath(session.filePath(name)), fsPath(saved.filePath(name)), error);
        if (error) {
            // Half a session in each place would leave neither account usable: put back
            // what was moved, and drop the folder if it is empty again.
            for (const QString& back : std::as_const(moved))
                QFile::rename(saved.filePath(back), session.filePath(back));
            QDir().rmdir(*folder);
            return describe(error);
        }
        moved.append(name);
    }
    return std::nullopt;
}

void Store::restoreAccount(const QString& email)
{
    const std::optional<QString> folder = accountFolder(email);
    if (!folder)
        return;
    clearActiveFiles();
    const QDir session(m_sessionFolder);
    const QDir saved(*folder);
    for (const QString& name : m_authFiles)
        QFile::rename(saved.filePath(name), session.filePath(name));
    QDir(*folder).removeRecursively();
}

void Store::clearActiveFiles()
{
    const QDir session(m_sessionFolder);
    for (const QString& name : m_authFiles)
        QFile::remove(session.filePath(name));
}

} // namespace telmora
