#include "adapter/prompt.h"

#include "adapter/contract.h"

#include <cerrno>
#include <csignal>

#include <termios.h>
#include <unistd.h>

namespace telmora::adapter {

namespace {

struct termios savedTerminal;
volatile std::sig_atomic_t terminalChanged = 0;

void restoreAndDie(int signal)
{
    restoreTerminal();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void hideInput()
{
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
        return;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        std::signal(signal, restoreAndDie);
    struct termios quiet = savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    terminalChanged = 1;
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
}

// One line, byte by byte, so nothing after it is taken from the terminal.
std::optional<QByteArray> readLine()
{
    QByteArray line;
    for (;;) {
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return std::nullopt;
        if (c == '\n')
            break;
        line.append(c);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

void restoreTerminal()
{
    if (terminalChanged) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
        terminalChanged = 0;
    }
}

std::optional<QString> ask(const QByteArray& prompt, bool echo)
{
    if (!echo)
        hideInput();
    writeOut(prompt);
    const std::optional<QByteArray> line = readLine();
    if (terminalChanged) {
        restoreTerminal();
        writeOut("\n"); // the line end typed was not shown either
    }
    if (!line)
        return std::nullopt;
    return QString::fromUtf8(*line);
}

} // namespace telmora::adapter
