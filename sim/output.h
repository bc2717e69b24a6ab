#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <utility>

namespace telmora::sim {

// A JSON value whose objects keep their members in insertion order: ipatool's JSON lines
// list fields in code order, while its text lines print the same objects with sorted keys.
struct Value {
    enum class Type { Null, String, Integer, Real, Bool, Array, Object };

    Type type = Type::Null;
    QString text;
    qint64 integer = 0;
    double real = 0;
    bool boolean = false;
    QList<Value> items;
    QList<std::pair<QString, Value>> members;

    static Value string(const QString& text);
    static Value number(qint64 value);
    static Value number(double value);
    static Value flag(bool value);
    static Value array(QList<Value> items = {});
    static Value object();

    Value& add(const QString& key, Value value);

    // Go's encoding/json spelling; `html` escapes <, > and & as json.Marshal does.
    [[nodiscard]] QByteArray json(bool sortKeys, bool html) const;
};

using Fields = QList<std::pair<QString, Value>>;

// ipatool's zerolog output: coloured text lines, or one JSON object per line.
class Log {
public:
    bool json = false;

    void info(const Fields& fields) const;
    void warn(const Fields& fields) const;
    // An info line with a message and no fields ("INF preparing authentication; …").
    void note(const QString& message) const;
    // Prints the error line and ends the process with `status`.
    [[noreturn]] void fail(const QString& error, int status = 1) const;

    // Go's strconv.Quote, used for text-mode values that need quoting.
    [[nodiscard]] static QByteArray goQuote(const QString& text);

private:
    void line(const char* level, const Fields& fields, int fd, const QString& message = {}) const;
};

// Unbuffered writes that survive short writes; output order across the two streams
// matters on a terminal.
void writeOut(const QByteArray& bytes);
void writeErr(const QByteArray& bytes);

// Timings from the world are in seconds at speed 1; TELMORA_SIM_SPEED divides them.
[[nodiscard]] double speed();
void pause(double seconds);

// Reads one line from standard input, without its line end. With `echo` false and a
// terminal on standard input, echo is switched off before `prompt` is written, so an
// answer typed the moment the prompt appears is never shown. Returns false on end of input.
// The prompt goes to standard error when `onStandardError` is set (upstream's habit).
bool prompt(const QByteArray& prompt, bool echo, QByteArray* answer, bool onStandardError = false);

// Columns of the terminal on standard output; 0 when it is not a terminal.
[[nodiscard]] int terminalWidth();

// 1000-based sizes as schollz/progressbar prints them, number and unit apart so that
// "45/100 MB" can share one unit: (" 0", " B"), ("3.2", " MB"), ("45", " MB").
[[nodiscard]] std::pair<QString, QString> humanBytes(double bytes);

} // namespace telmora::sim
