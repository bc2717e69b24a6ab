#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace telmora::test {

// What a program run to its end left behind; status -1 when it did not end normally.
struct ToolRun {
    int status = -1;
    QByteArray rawOut;
    QByteArray rawErr;
    // Decoded and cleaned of terminal control sequences.
    [[nodiscard]] QString out() const;
    [[nodiscard]] QString err() const;
};

// A run with pipes, no input and this process's environment, as the Store runs plain commands.
ToolRun runProgram(const QString& program, const QStringList& args, const QString& cwd = {});

// A program run on a pseudo-terminal of 50 × 240 of its own, for prompts and live progress.
// The destructor kills it if it still runs.
class Terminal {
public:
    Terminal(const QString& program, const QStringList& args, const QString& cwd = {});
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    [[nodiscard]] pid_t pid() const { return m_pid; }
    // Reads until `text` appears in the transcript (30 s at most).
    bool waitFor(const QByteArray& text);
    // Types `line` and a line feed.
    void send(const QByteArray& line);
    // Reads to the end of the output and gives the exit status (-1 for a signal or time-out).
    int finish();
    // The transcript decoded and cleaned of terminal control sequences.
    [[nodiscard]] QString clean() const;

    QByteArray transcript;

private:
    bool readSome(); // false at the end of the stream

    int m_master = -1;
    pid_t m_pid = -1;
    int m_status = -2; // -2: not reaped yet
};

} // namespace telmora::test
