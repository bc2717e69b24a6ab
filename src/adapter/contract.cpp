#include "adapter/contract.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTime>

#include <algorithm>
#include <cerrno>

#include <unistd.h>

namespace telmora::adapter {

namespace {

void writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t done = ::write(fd, data, static_cast<size_t>(left));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return;
        data += done;
        left -= done;
    }
}

// The console writer quotes anything but plain printable ASCII without blanks and quotes.
bool needsQuote(const QByteArray& utf8)
{
    return std::any_of(utf8.begin(), utf8.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c < 0x21 || c > 0x7e || c == '\\' || c == '"';
    });
}

QByteArray compactJson(const QJsonValue& value)
{
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    // A scalar: written inside an array, then unwrapped.
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

QByteArray textValue(const QJsonValue& value)
{
    if (!value.isString())
        return compactJson(value);
    const QByteArray utf8 = value.toString().toUtf8();
    return needsQuote(utf8) ? Contract::goQuote(value.toString()) : utf8;
}

QByteArray levelTag(const QString& level)
{
    if (level == u"error")
        return "ERR";
    if (level == u"warn")
        return "WRN";
    if (level == u"debug")
        return "DBG";
    return "INF";
}

QByteArray kitchenTime()
{
    const QTime now = QTime::currentTime();
    const int hour = now.hour() % 12 == 0 ? 12 : now.hour() % 12;
    return QByteArray::number(hour) + ':' + QByteArray::number(now.minute()).rightJustified(2, '0')
        + (now.hour() < 12 ? "AM" : "PM");
}

QByteArray jsonMember(const QString& key, const QJsonValue& value)
{
    return compactJson(key) + ':' + compactJson(value);
}

} // namespace

void writeOut(const QByteArray& bytes)
{
    writeAll(STDOUT_FILENO, bytes);
}

void writeErr(const QByteArray& bytes)
{
    writeAll(STDERR_FILENO, bytes);
}

QByteArray Contract::goQuote(const QString& text)
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
            if (c < 0x20 || c == 0x7f)
                out += "\\x" + QByteArray::number(uint(c), 16).rightJustified(2, '0');
            else
                out += QString::fromUcs4(&c, 1).toUtf8();
        }
    }
    return out + '"';
}

QByteArray Contract::textLine(const QString& level, const QString& message, const QJsonObject& fields)
{
    QByteArray line = kitchenTime() + ' ' + levelTag(level);
    if (!message.isEmpty())
        line += ' ' + message.toUtf8();
    // QJsonObject keeps its keys sorted; the error comes first.
    if (fields.contains(u"error"))
        line += " error=" + textValue(fields.value(u"error"));
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        if (it.key() != u"error")
            line += ' ' + it.key().toUtf8() + '=' + textValue(it.value());
    }
    return line + '\n';
}

QByteArray Contract::jsonLine(const QString& level, const QString& message, const QJsonObject& fields)
{
    QByteArray line = '{' + jsonMember(QStringLiteral("level"), level);
    for (auto it = fields.begin(); it != fields.end(); ++it)
        line += ',' + jsonMember(it.key(), it.value());
    if (!message.isEmpty())
        line += ',' + jsonMember(QStringLiteral("message"), message);
    const QDateTime now = QDateTime::currentDateTime();
    line += ',' + jsonMember(QStringLiteral("time"), now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate));
    return line + "}\n";
}

void Contract::info(const QJsonObject& fields, const QString& message) const
{
    const QString level = QStringLiteral("info");
    writeOut(m_json ? jsonLine(level, message, fields) : textLine(level, message, fields));
}

void Contract::error(const QString& text) const
{
    const QString level = QStringLiteral("error");
    const QJsonObject fields{{QStringLiteral("error"), text}, {QStringLiteral("success"), false}};
    if (m_json)
        writeOut(jsonLine(level, {}, fields));
    else
        writeErr(textLine(level, {}, fields));
}

int Contract::fail(const QString& text) const
{
    error(text);
    return 1;
}

} // namespace telmora::adapter
