#include "model/text.h"

#include <QHash>
#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace telmora {

namespace {

// Compiling a pattern costs far more than matching it, and the parsers call groups() once
// or twice per record (10,000 purchases are 30,000 calls): keep the few patterns compiled,
// one set per thread.
const QRegularExpression& compiled(const QString& pattern)
{
    thread_local QHash<QString, QRegularExpression> cache;
    auto found = cache.constFind(pattern);
    if (found != cache.cend())
        return *found;
    if (cache.size() >= 64)
        cache.clear();
    // ICU's \s, \d and \w are Unicode-aware; PCRE2 needs this option to behave the same.
    return *cache.insert(pattern, QRegularExpression(pattern, QRegularExpression::UseUnicodePropertiesOption));
}

} // namespace

std::optional<QStringList> groups(const QString& pattern, const QString& text)
{
    const QRegularExpression& expression = compiled(pattern);
    if (!expression.isValid())
        return std::nullopt;
    const QRegularExpressionMatch match = expression.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    QStringList captured;
    for (int i = 0; i <= expression.captureCount(); ++i)
        captured.append(match.captured(i)); // a group that did not take part gives ""
    return captured;
}

QString removeControlSequences(const QString& text)
{
    static const QRegularExpression controlSequence(QStringLiteral("\\x{1B}\\[[0-9;?]*[ -/]*[@-~]"));
    if (!text.contains(QChar(0x1B)))
        return text;
    QString cleaned = text;
    cleaned.remove(controlSequence);
    return cleaned;
}

namespace {

// A run of digits compared by value: leading zeros do not count, a longer run is larger.
int compareDigitRuns(QStringView a, QStringView b)
{
    while (a.size() > 1 && a.front() == u'0')
        a = a.mid(1);
    while (b.size() > 1 && b.front() == u'0')
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

qsizetype digitRunEnd(QStringView text, qsizetype from)
{
    while (from < text.size() && text[from].isDigit())
        ++from;
    return from;
}

} // namespace

int compareVersions(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const qsizetype endA = digitRunEnd(a, i);
            const qsizetype endB = digitRunEnd(b, j);
            const int order = compareDigitRuns(QStringView(a).mid(i, endA - i), QStringView(b).mid(j, endB - j));
            if (order != 0)
                return order;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

int wholePercent(double fraction)
{
    return static_cast<int>(std::floor(fraction * 100.0 + 1e-9));
}

QString formattedSize(qint64 bytes)
{
    return QLocale(QLocale::Russian).formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

void appendKeepingLast(QString& buffer, const QString& text, qsizetype limit)
{
    buffer += text;
    if (buffer.size() > limit)
        buffer.remove(0, buffer.size() - limit);
}

QString trimSpacesAndTabs(const QString& text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (start < end && blank(text[start]))
        ++start;
    while (end > start && blank(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

} // namespace telmora
