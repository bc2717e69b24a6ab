#include "output.h"

#include <QDateTime>
#include <QLocale>
#include <QTime>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <thread>

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace telmora::sim {

namespace {

QByteArray colour(int code, const QByteArray& text)
{
    return "\x1b[" + QByteArray::number(code) + 'm' + text + "\x1b[0m";
}

void appendHex(QByteArray& out, uint value, int digits)
{
    out += QByteArray::number(value, 16).rightJustified(digits, '0');
}

QByteArray jsonString(const QString& text, bool html)
{
    QByteArray out = "\"";
    for (const char32_t c : text.toUcs4()) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x2028 || c == 0x2029 || (html && (c == '<' || c == '>' || c == '&'))) {
                out += "\\u";
                appendHex(out, c, 4);
            } else {
                out += QString::fromUcs4(&c, 1).toUtf8();
            }
        }
    }
    return out + '"';
}

QByteArray realText(double value)
{
    return QString::number(value, 'f', QLocale::FloatingPointShortest).toLatin1();
}

// zerolog's console writer quotes a value holding anything outside printable ASCII,
// a blank, a backslash or a quotation mark.
bool needsQuote(const QByteArray& utf8)
{
    return std::any_of(utf8.begin(), utf8.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c < 0x20 || c > 0x7e || c == ' ' || c == '\\' || c == '"';
    });
}

QByteArray kitchenTime()
{
    const QTime now = QTime::currentTime();
    const int hour = now.hour() % 12 == 0 ? 12 : now.hour() % 12;
    return QByteArray::number(hour) + ':' + QByteArray::number(now.minute()).rightJustified(2, '0')
        + (now.hour() < 12 ? "AM" : "PM");
}

// Go's time.RFC3339: local time with its offset, "Z" in UTC.
QString rfc3339Now()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate);
}

QByteArray textValue(const Value& value)
{
    if (value.type == Value::Type::String) {
        const QByteArray utf8 = value.text.toUtf8();
        return needsQuote(utf8) ? Log::goQuote(value.text) : utf8;
    }
    return value.json(true, true);
}

void writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t done = ::write(fd, data, static_cast<size_t>(left));
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += done;
        left -= done;
    }
}

// The terminal settings to put back if a signal ends us while echo is off.
struct termios savedTerminal;
volatile std::sig_atomic_t terminalChanged = 0;

void restoreTerminal()
{
    if (terminalChanged) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
        terminalChanged = 0;
    }
}

void restoreAndDie(int signal)
{
    restoreTerminal();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

Value Value::string(const QString& text)
{
    Value v;
    v.type = Type::String;
    v.text = text;
    return v;
}

Value Value::number(qint64 value)
{
    Value v;
    v.type = Type::Integer;
    v.integer = value;
    return v;
}

Value Value::number(double value)
{
    Value v;
    v.type = Type::Real;
    v.real = value;
    return v;
}

Value Value::flag(bool value)
{
    Value v;
    v.type = Type::Bool;
    v.boolean = value;
    return v;
}

Value Value::array(QList<Value> items)
{
    Value v;
    v.type = Type::Array;
    v.items = std::move(items);
    return v;
}

Value Value::object()
{
    Value v;
    v.type = Type::Object;
    return v;
}

Value& Value::add(const QString& key, Value value)
{
    members.append({key, std::move(value)});
    return *this;
}

QByteArray Value::json(bool sortKeys, bool html) const
{
    switch (type) {
    case Type::Null: return "null";
    case Type::String: return jsonString(text, html);
    case Type::Integer: return QByteArray::number(integer);
    case Type::Real: return realText(real);
    case Type::Bool: return boolean ? "true" : "false";
    case Type::Array: {
        QByteArray out = "[";
        for (qsizetype i = 0; i < items.size(); ++i)
            out += (i ? "," : "") + items[i].json(sortKeys, html);
        return out + ']';
    }
    case Type::Object: {
        auto ordered = members;
        if (sortKeys) {
            std::stable_sort(ordered.begin(), ordered.end(),
                             [](const auto& a, const auto& b) { return a.first.toUtf8() < b.first.toUtf8(); });
        }
        QByteArray out = "{";
        for (qsizetype i = 0; i < ordered.size(); ++i)
            out += (i ? "," : "") + jsonString(ordered[i].first, html) + ':' + ordered[i].second.json(sortKeys, html);
        return out + '}';
    }
    }
    return "null";
}

QByteArray Log::goQuote(const QString& text)
{
    QByteArray out = "\"";
    for (const char32_t c : text.toUcs4()) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\a': out += "\\a"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\v': out += "\\v"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                out += "\\x";
                appendHex(out, c, 2);
            } else if ((c >= 0x80 && c < 0xa0) || c == 0x2028 || c == 0x2029) {
                out += "\\u";
                appendHex(out, c, 4);
            } else {
                out += QString::fromUcs4(&c, 1).toUtf8();
            }
        }
    }
    return out + '"';
}

void Log::line(const char* level, const Fields& fields, int fd, const QString& message) const
{
    if (json) {
        QByteArray out = "{\"level\":" + jsonString(QString::fromLatin1(level), false);
        for (const auto& [key, value] : fields)
            out += ',' + jsonString(key, false) + ':' + value.json(false, value.type != Value::Type::String);
        if (!message.isEmpty())
            out += ",\"message\":" + jsonString(message, false);
        out += ",\"time\":" + jsonString(rfc3339Now(), false) + "}\n";
        writeOut(out);
        return;
    }

    // Sorted by name, with the error first, as zerolog's console writer does.
    Fields sorted = fields;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        if ((a.first == u"error") != (b.first == u"error"))
            return a.first == u"error";
        return a.first.toUtf8() < b.first.toUtf8();
    });

    QByteArray tag;
    if (qstrcmp(level, "error") == 0)
        tag = "\x1b[1m" + colour(31, "ERR") + "\x1b[0m";
    else if (qstrcmp(level, "warn") == 0)
        tag = colour(31, "WRN");
    else
        tag = colour(32, "INF");

    QByteArray out = colour(90, kitchenTime()) + ' ' + tag;
    if (!message.isEmpty())
        out += ' ' + message.toUtf8();
    for (const auto& [key, value] : sorted) {
        out += ' ' + colour(36, key.toUtf8() + '=');
        if (key == u"error")
            out += colour(31, "\x1b[1m" + textValue(value) + "\x1b[0m");
        else
            out += textValue(value);
    }
    out += '\n';
    if (fd == STDERR_FILENO)
        writeErr(out);
    else
        writeOut(out);
}

void Log::info(const Fields& fields) const
{
    line("info", fields, STDOUT_FILENO);
}

void Log::warn(const Fields& fields) const
{
    line("warn", fields, STDOUT_FILENO);
}

void Log::note(const QString& message) const
{
    line("info", {}, STDOUT_FILENO, message);
}

void Log::fail(const QString& error, int status) const
{
    line("error", {{QStringLiteral("error"), Value::string(error)}, {QStringLiteral("success"), Value::flag(false)}},
         STDERR_FILENO);
    restoreTerminal();
    std::exit(status);
}

void writeOut(const QByteArray& bytes)
{
    writeAll(STDOUT_FILENO, bytes);
}

void writeErr(const QByteArray& bytes)
{
    writeAll(STDERR_FILENO, bytes);
}

double speed()
{
    static const double factor = [] {
        bool ok = false;
        const double value = qEnvironmentVariable("TELMORA_SIM_SPEED").toDouble(&ok);
        return ok && value > 0 && std::isfinite(value) ? value : 1.0;
    }();
    return factor;
}

void pause(double seconds)
{
    if (seconds <= 0)
        return;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds / speed()));
}

bool prompt(const QByteArray& text, bool echo, QByteArray* answer, bool onStandardError)
{
    const bool hide = !echo && isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &savedTerminal) == 0;
    if (hide) {
        std::signal(SIGTERM, restoreAndDie);
        std::signal(SIGINT, restoreAndDie);
        std::signal(SIGHUP, restoreAndDie);
        struct termios quiet = savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        terminalChanged = 1;
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    if (onStandardError)
        writeErr(text);
    else
        writeOut(text);

    answer->clear();
    bool complete = false;
    for (;;) {
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        if (c == '\n') {
            complete = true;
            break;
        }
        answer->append(c);
    }
    if (answer->endsWith('\r'))
        answer->chop(1);

    if (hide) {
        restoreTerminal();
        // The line end the user typed was not echoed either.
        if (onStandardError)
            writeErr("\n");
        else
            writeOut("\n");
    }
    return complete;
}

int terminalWidth()
{
    struct winsize size = {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

std::pair<QString, QString> humanBytes(double bytes)
{
    static const char* const units[] = {" B", " kB", " MB", " GB", " TB", " PB", " EB"};
    if (bytes < 10)
        return {QString::number(bytes, 'f', 0).rightJustified(2, u' '), QString::fromLatin1(units[0])};
    const int exponent = std::min(6, static_cast<int>(std::floor(std::log(bytes) / std::log(1000.0))));
    const double value = std::floor(bytes / std::pow(1000.0, exponent) * 10 + 0.5) / 10;
    return {QString::number(value, 'f', value < 10 ? 1 : 0), QString::fromLatin1(units[exponent])};
}

} // namespace telmora::sim
