#include "tools/pty.h"

#include "tools/environment.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <coroutine>
#include <fcntl.h>
#include <limits.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace telmora {

namespace {

constexpr unsigned short terminalRows = 50;
constexpr unsigned short terminalColumns = 240;
constexpr qsizetype readSize = 8192;

QString systemError(int code)
{
    return qt_error_string(code);
}

} // namespace

ToolStartError::ToolStartError(const QString& description)
    : std::runtime_error(description.toStdString())
    , m_description(description)
{
}

// What outlives the PTYTool object for a pending wait(): the end conditions, the status
// and the suspended waiter. Shared by the object, the process's finished handler and
// the waiter.
struct PTYTool::State {
    bool started = false;
    bool exited = false;
    bool streamEnded = false;
    int status = -1;
    int master = -1;
    std::coroutine_handle<> waiter;

    [[nodiscard]] bool done() const { return exited && streamEnded; }

    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    // Called whenever one end condition is met.
    static void finishIfDone(const std::shared_ptr<State>& state)
    {
        if (!state->done())
            return;
        state->closeMaster();
        if (!state->waiter)
            return;
        // Resumed from the event loop, never inside the notifier's or QProcess's own
        // signal: the waiter may well destroy the PTYTool.
        QTimer::singleShot(0, QCoreApplication::instance(), [state] {
            if (std::coroutine_handle<> waiter = std::exchange(state->waiter, nullptr))
                waiter.resume();
        });
    }
};

PTYTool::PTYTool(const QString& exe, const QStringList& args, const std::optional<QString>& cwd)
    : m_state(std::make_shared<State>())
    , m_process(std::make_unique<QProcess>())
{
    m_process->setProgram(exe);
    m_process->setArguments(args);
    m_process->setProcessEnvironment(toolEnvironment());
    if (cwd)
        m_process->setWorkingDirectory(*cwd);
}

PTYTool::~PTYTool()
{
    m_notifier.reset();
    if (m_process->state() != QProcess::NotRunning) {
        // Reaped without blocking: the process object deletes itself once the child is
        // gone, and a pending wait() completes then with the child's status. Until then the
        // application owns it, so it cannot outlive the application object unowned.
        QProcess* process = m_process.release();
        process->setParent(QCoreApplication::instance());
        QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
        process->kill();
    }
    // Nobody reads any more: closing the terminal also hangs up what the child started.
    m_state->streamEnded = true;
    m_state->closeMaster();
    State::finishIfDone(m_state);
}

void PTYTool::start(std::function<void(const QString&)> onText)
{
    if (m_state->started)
        throw ToolStartError(QStringLiteral("Сеанс уже запущен."));

    winsize size{};
    size.ws_row = terminalRows;
    size.ws_col = terminalColumns;
    int master = -1;
    int terminal = -1;
    if (::openpty(&master, &terminal, nullptr, nullptr, &size) != 0)
        throw ToolStartError(systemError(ENOTTY));
    // Neither side may leak into this or any other child by inheritance: the child gets
    // the terminal by path below, and must not hold the master.
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(terminal, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    char name[PATH_MAX] = {};
    if (::ttyname_r(terminal, name, sizeof name) != 0) {
        ::close(master);
        ::close(terminal);
        throw ToolStartError(systemError(ENOTTY));
    }
    const QString terminalPath = QFile::decodeName(name);
    m_process->setStandardInputFile(terminalPath);
    m_process->setStandardOutputFile(terminalPath, QIODevice::Append);
    m_process->setStandardErrorFile(terminalPath, QIODevice::Append);
    // A session of its own with this terminal as controlling terminal: /dev/tty works,
    // and the child's group is hung up when the terminal closes.
    m_process->setChildProcessModifier([] {
        ::setsid();
        ::ioctl(STDIN_FILENO, TIOCSCTTY, 0);
    });

    std::shared_ptr<State> state = m_state;
    QObject::connect(m_process.get(), &QProcess::finished, m_process.get(), [state](int exitCode) {
        state->status = exitCode;
        state->exited = true;
        State::finishIfDone(state);
    });

    m_process->start();
    // Waits for the exec hand-shake only (the child reports a failed exec at once), so
    // that a program that cannot run is reported to the caller here.
    if (!m_process->waitForStarted(-1)) {
        const QString reason = m_process->errorString();
        ::close(master);
        ::close(terminal);
        throw ToolStartError(reason.isEmpty() ? QStringLiteral("Не удалось запустить программу.") : reason);
    }
    // The stream on the master ends only when every copy of the terminal side is closed.
    ::close(terminal);

    state->started = true;
    state->master = master;
    m_onText = std::make_shared<std::function<void(const QString&)>>(std::move(onText));
    m_notifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { readAvailable(); });
}

void PTYTool::readAvailable()
{
    char buffer[readSize];
    ssize_t count = 0;
    do {
        count = ::read(m_state->master, buffer, sizeof buffer);
    } while (count < 0 && errno == EINTR);

    if (count > 0) {
        // The callback may destroy this object: keep it alive by a local reference and
        // touch no member afterwards.
        const std::shared_ptr<std::function<void(const QString&)>> onText = m_onText;
        if (*onText)
            (*onText)(QString::fromUtf8(buffer, count));
        return;
    }
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    // 0 or EIO: the terminal side is closed everywhere, everything has been read.
    m_notifier->setEnabled(false);
    m_state->streamEnded = true;
    State::finishIfDone(m_state);
}

QCoro::Task<int> PTYTool::wait()
{
    struct Completion {
        std::shared_ptr<State> state;
        [[nodiscard]] bool await_ready() const noexcept { return !state->started || state->done(); }
        void await_suspend(std::coroutine_handle<> awaiting) noexcept { state->waiter = awaiting; }
        [[nodiscard]] int await_resume() const noexcept { return state->status; }
    };
    // Only the shared state is used after the suspension: the object may be gone by then.
    // Built outside the co_await expression: GCC 12 destroys a braced temporary there twice,
    // which dropped a reference to the state too many.
    Completion completion{m_state};
    co_return co_await completion;
}

void PTYTool::write(const QString& text)
{
    if (m_state->master < 0)
        return;
    const QByteArray bytes = text.toUtf8() + '\n';
    [[maybe_unused]] const ssize_t written = ::write(m_state->master, bytes.constData(), size_t(bytes.size()));
}

bool PTYTool::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

void PTYTool::terminate()
{
    if (isRunning())
        m_process->terminate();
}

} // namespace telmora
