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
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
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
        waitpid(m_pid, nullptr, 0);
    }
    if (m_master >= 0)
        ::close(m_master);
}

bool Terminal::waitFor(const QByteArray& text)
{
    QElapsedTimer timer;
    timer.start();
    while (!transcript.contains(text) && !timer.hasExpired(30000) && readSome()) {
    }
    return transcript.contains(text);
}

void Terminal::send(const QByteArray& line)
{
    const QByteArray bytes = line + '\n';
    QCOMPARE(::write(m_master, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
}

int Terminal::finish()
{
    QElapsedTimer timer;
    timer.start();
    while (!timer.hasExpired(60000) && readSome()) {
    }
    for (int status = 0; m_status == -2 && !timer.hasExpired(60000); QTest::qWait(20)) {
        if (waitpid(m_pid, &status, WNOHANG) == m_pid)
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return m_status == -2 ? -1 : m_status;
}

bool Terminal::readSome()
{
    struct pollfd poller = {m_master, POLLIN, 0};
    const int ready = ::poll(&poller, 1, 100);
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
