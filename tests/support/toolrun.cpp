#include "toolrun.h"

#include "model/text.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <vector>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace telmora::test {

QString ToolRun::out() const { return removeControlSequences(QString::fromUtf8(rawOut)); }
QString ToolRun::err() const { return removeControlSequences(QString::fromUtf8(rawErr)); }
QString Terminal::clean() const { return removeControlSequences(QString::fromUtf8(transcript)); }

ToolRun runProgram(const QString& program, const QStringList& args, const QString& cwd)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setWorkingDirectory(cwd);
    process.start(program, args);
    ToolRun result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.status = process.exitCode();
    result.rawOut = process.readAllStandardOutput();
    result.rawErr = process.readAllStandardError();
    return result;
}

Terminal::Terminal(const QString& program, const QStringList& args, const QString& cwd)
{
    std::vector<QByteArray> storage{QFile::encodeName(program)};
    for (const QString& arg : args)
        storage.push_back(arg.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const QByteArray folder = QFile::encodeName(cwd);

    struct winsize size = {.ws_row = 50, .ws_col = 240, .ws_xpixel = 0, .ws_ypixel = 0};
    m_pid = forkpty(&m_master, nullptr, nullptr, &size);
    if (m_pid == 0) {
        if (!folder.isEmpty() && chdir(folder.constData()) != 0)
            _exit(126);
        execv(storage.front().constData(), argv.data());
        _exit(127);
    }
}

Terminal::~Terminal()
{
    if (m_pid > 0 && m_status == -2) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
    if (m_master >= 0)
        ::close(m_master);
}

bool Terminal::waitFor(const QByteArray& text, int count, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (transcript.count(text) < count && !timer.hasExpired(milliseconds) && readSome(100)) {
    }
    return transcript.count(text) >= count;
}

void Terminal::send(const QByteArray& line)
{
    const QByteArray bytes = line + '\n';
    QCOMPARE(::write(m_master, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
}

bool Terminal::running()
{
    if (m_status != -2)
        return false;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }
    return true;
}

int Terminal::finish(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!timer.hasExpired(milliseconds) && readSome(100)) {
    }
    while (running() && !timer.hasExpired(milliseconds))
        QTest::qWait(20);
    return m_status == -2 ? -1 : m_status;
}

bool Terminal::readSome(int milliseconds)
{
    struct pollfd poller = {m_master, POLLIN, 0};
    const int ready = ::poll(&poller, 1, milliseconds);
    if (ready <= 0)
        return ready == 0;
    char buffer[8192];
    const ssize_t got = ::read(m_master, buffer, sizeof buffer);
    if (got <= 0)
        return false; // EIO once the child side is closed
    transcript.append(buffer, got);
    return true;
}

} // namespace telmora::test
