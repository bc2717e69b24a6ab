#pragma once

#include <QCoroTask>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

class QProcess;
class QSocketNotifier;

namespace telmora {

// Why a PTYTool could not start: no pseudo-terminal, or the program would not run.
// `description()` is the text to show the user.
class ToolStartError : public std::runtime_error {
public:
    explicit ToolStartError(const QString& description);
    [[nodiscard]] QString description() const { return m_description; }

private:
    QString m_description;
};

// One external program run on a pseudo-terminal of its own (50 rows × 240 columns,
// its controlling terminal), for tools that prompt or draw live progress. Standard
// output and error arrive merged, in the order written, as soon as they are written.
//
// Use it on the interface thread: `onText` is called on the thread that called start()
// (the interface thread), one call per read of at most 8192 bytes, in order, so callers
// may touch their state directly without re-queuing. Each chunk is decoded on its own;
// control sequences are left for the caller to remove.
//
// The identity of a session is the object: callers keep a std::shared_ptr<PTYTool> and
// compare pointers to tell whether a finished session is still the current one.
// Destroying the object kills a running child and closes the terminal; a pending wait()
// then completes with the child's status once it is reaped.
class PTYTool {
public:
    PTYTool(const QString& exe, const QStringList& args, const std::optional<QString>& cwd = {});
    ~PTYTool();
    PTYTool(const PTYTool&) = delete;
    PTYTool& operator=(const PTYTool&) = delete;

    // Opens the terminal and starts the program. Throws ToolStartError; nothing is left
    // running then. Called once.
    void start(std::function<void(const QString&)> onText);

    // Completes once the child has exited and every byte of its output has been handed
    // to onText; the child's exit status (the signal number when a signal ended it).
    // -1 when the session never started.
    QCoro::Task<int> wait();

    // Types `text` and a line feed into the terminal, in one write; a failure (child
    // gone) is ignored.
    void write(const QString& text);

    [[nodiscard]] bool isRunning() const;

    // Asks the child to end (SIGTERM); wait() then completes.
    void terminate();

private:
    struct State;

    void readAvailable();

    std::shared_ptr<State> m_state;
    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::shared_ptr<std::function<void(const QString&)>> m_onText;
};

} // namespace telmora
