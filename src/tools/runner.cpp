#include "tools/runner.h"

#include "model/text.h"
#include "tools/environment.h"

#include <QProcess>
#include <QTimer>
#include <coroutine>
#include <memory>

namespace telmora {

size_t qHash(const ToolResult& result, size_t seed)
{
    return qHashMulti(seed, result.status, result.out, result.err);
}

namespace {

// Deletes the process from the event loop, so the frame that owns it may end while
// QProcess is still inside its own code.
struct DeleteLater {
    void operator()(QObject* object) const { object->deleteLater(); }
};

// Suspends until the process has finished or failed to start. The coroutine is resumed
// from a queued call on the process's thread, never inside QProcess's own signal.
class ProcessEnd {
public:
    explicit ProcessEnd(QProcess* process) : m_process(process) {}

    [[nodiscard]] bool await_ready() const noexcept { return hasEnded(); }

    void await_suspend(std::coroutine_handle<> awaiting)
    {
        auto resume = [this, awaiting] {
            QObject::disconnect(m_finished);
            QObject::disconnect(m_failed);
            QTimer::singleShot(0, m_process, [awaiting] { awaiting.resume(); });
        };
        m_finished = QObject::connect(m_process, &QProcess::finished, m_process, resume);
        m_failed = QObject::connect(m_process, &QProcess::errorOccurred, m_process,
                                    [resume](QProcess::ProcessError error) {
                                        if (error == QProcess::FailedToStart)
                                            resume();
                                    });
    }

    void await_resume() const noexcept {}

private:
    [[nodiscard]] bool hasEnded() const
    {
        return m_process->state() == QProcess::NotRunning;
    }

    QProcess* m_process;
    QMetaObject::Connection m_finished;
    QMetaObject::Connection m_failed;
};

QString decoded(const QByteArray& bytes)
{
    return removeControlSequences(QString::fromUtf8(bytes));
}

} // namespace

QCoro::Task<ToolResult> runTool(const QString& exe, const QStringList& args, const std::optional<QString>& cwd)
{
    // The arguments may be temporaries of the caller: nothing of them is used after the
    // first suspension. The process is owned by this frame, so a caller that stops
    // awaiting leaves the run to finish on its own.
    const QString program = exe;
    std::unique_ptr<QProcess, DeleteLater> process(new QProcess);
    process->setProgram(program);
    process->setArguments(args);
    process->setProcessEnvironment(toolEnvironment());
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::SeparateChannels);
    if (cwd)
        process->setWorkingDirectory(*cwd);

    // QProcess empties both pipes into its own buffers as data arrives, so a child that
    // fills one pipe while nobody reads the other cannot stall.
    process->start(QIODevice::ReadOnly);
    ProcessEnd end(process.get()); // named: see the note on co_await temporaries in pty.cpp
    co_await end;

    if (process->error() == QProcess::FailedToStart) {
        QString reason = process->errorString();
        if (reason.isEmpty())
            reason = QStringLiteral("Не удалось запустить ") + program;
        co_return ToolResult{-1, QString(), reason};
    }
    ToolResult result;
    result.status = process->exitCode();
    result.out = decoded(process->readAllStandardOutput());
    result.err = decoded(process->readAllStandardError());
    co_return result;
}

int runQuietly(const QString& path, const QStringList& args)
{
    QProcess process;
    process.setProgram(path);
    process.setArguments(args);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1))
        return -1;
    process.waitForFinished(-1);
    return process.exitCode();
}

} // namespace telmora
