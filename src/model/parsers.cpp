#include "model/parsers.h"

#include "model/text.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <cmath>

namespace telmora {

namespace {


std::optional<QString> stringValue(const QJsonValue& value)
{
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

// Keys folded to lower case; the first value met for a folded key wins.
// Walks the raw document order: QJsonObject iterates sorted, which would pick the wrong twin.
QHash<QString, QJsonValue> lowerCasedKeys(const QJsonObject& object, const QStringList& orderedKeys)
{
    QHash<QString, QJsonValue> folded;
    for (const QString& key : orderedKeys) {
        const QString lower = key.toLower();
        if (!folded.contains(lower))
            folded.insert(lower, object.value(key));
    }
    return folded;
}

// Object keys in the order the text wrote them. QJsonObject keeps keys sorted, which only
// matters when two keys fold to the same lower-case key; then the spelling met first in
// the document text comes first.
QStringList keysInTextOrder(const QJsonObject& object, const QByteArray& documentText)
{
    QStringList keys = object.keys();
    QSet<QString> folded;
    for (const QString& key : keys)
        folded.insert(key.toLower());
    if (folded.size() == keys.size())
        return keys;
    std::stable_sort(keys.begin(), keys.end(), [&](const QString& a, const QString& b) {
        return documentText.indexOf('"' + a.toUtf8() + '"') < documentText.indexOf('"' + b.toUtf8() + '"');
    });
    return keys;
}

const QHash<QString, int>& monthTable()
{
    static const QHash<QString, int> months{
        {QStringLiteral("Jan"), 1}, {QStringLiteral("Feb"), 2}, {QStringLiteral("Mar"), 3},
        {QStringLiteral("Apr"), 4}, {QStringLiteral("May"), 5}, {QStringLiteral("Jun"), 6},
        {QStringLiteral("Jul"), 7}, {QStringLiteral("Aug"), 8}, {QStringLiteral("Sep"), 9},
        {QStringLiteral("Oct"), 10}, {QStringLiteral("Nov"), 11}, {QStringLiteral("Dec"), 12}};
    return months;
}

// "%02d.%02d.%@" of a one- or two-digit day, a month number and the year text.
QString formattedDate(QStringView day, int month, QStringView year)
{
    const int dayNumber = day.toInt();
    QString date;
    date.reserve(6 + year.size());
    date.append(QChar(u'0' + dayNumber / 10)).append(QChar(u'0' + dayNumber % 10)).append(u'.');
    date.append(QChar(u'0' + month / 10)).append(QChar(u'0' + month % 10)).append(u'.');
    date.append(year);
    return date;
}

} // namespace

// A JSON number gives its decimal digits, a string gives itself.
QString jsonPlainText(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble()) {
        const double number = value.toDouble();
        // Converting a number beyond 64 bits to an integer is undefined: those keep their
        // floating form.
        if (std::abs(number) < 0x1p63 && number == std::trunc(number))
            return QString::number(static_cast<qint64>(number));
        return QString::number(number, 'g', 17);
    }
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return {};
}

// Each run of line breaks becomes a space, then each run of two or more blanks one space.
// Written out rather than with expressions: JSON text may hold a lone surrogate ("\ud800"),
// and an expression never matches in such a string, which would leave the breaks in.
QString cleanName(const QString& text)
{
    const auto isBreak = [](QChar c) { return c == u'\r' || c == u'\n'; };
    // Most names are one line already: no copy for them (a purchase history runs this for
    // every one of thousands of apps).
    bool needsReplacing = false;
    for (qsizetype i = 0; i < text.size() && !needsReplacing; ++i)
        needsReplacing = isBreak(text[i]) || (text[i].isSpace() && i + 1 < text.size() && text[i + 1].isSpace());
    if (!needsReplacing) {
        const QString name = text.trimmed();
        return name.isEmpty() ? QStringLiteral("Без названия") : name;
    }
    QString name;
    name.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        if (!text[i].isSpace()) {
            name.append(text[i++]);
            continue;
        }
        qsizetype end = i;
        int blanks = 0; // after the line-break runs have become one space each
        while (end < text.size() && text[end].isSpace()) {
            if (isBreak(text[end])) {
                while (end < text.size() && isBreak(text[end]))
                    ++end;
            } else {
                ++end;
            }
            ++blanks;
        }
        name.append(blanks == 1 && !isBreak(text[i]) ? text[i] : QChar(u' '));
        i = end;
    }
    name = name.trimmed();
    return name.isEmpty() ? QStringLiteral("Без названия") : name;
}

QList<AppItem> parseSearch(const QString& text)
{
    const qsizetype brace = text.indexOf(u'{');
    if (brace < 0)
        return {};
    const QByteArray json = text.mid(brace).toUtf8();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};
    const QJsonObject root = document.object();

    QJsonValue apps;
    bool found = false;
    for (const QString& key : keysInTextOrder(root, json)) {
        if (key.toLower() == u"apps") {
            apps = root.value(key);
            found = true;
            break;
        }
    }
    if (!found || !apps.isArray())
        return {};

    const QJsonArray elements = apps.toArray();
    QList<AppItem> items;
    for (const QJsonValue& element : elements) {
        if (!element.isObject())
            return {};
    }
    for (const QJsonValue& element : elements) {
        const QJsonObject object = element.toObject();
        const QHash<QString, QJsonValue> fields = lowerCasedKeys(object, keysInTextOrder(object, json));
        if (fields.isEmpty() || !fields.contains(QStringLiteral("id")))
            continue;
        const QString id = jsonPlainText(fields.value(QStringLiteral("id")));
        if (id.isEmpty())
            continue;
        AppItem item;
        item.id = id;
        item.name = cleanName(stringValue(fields.value(QStringLiteral("name"))).value_or(id));
        item.bundleID = stringValue(fields.value(QStringLiteral("bundleid")));
        item.version = stringValue(fields.value(QStringLiteral("version")));
        items.append(std::move(item));
    }
    return items;
}

std::optional<QList<AppItem>> parsePurchases(const QString& text)
{
    const std::optional<QStringList> match = groups(QStringLiteral("(?m)\\bapps=(\\[.*\\])"), text);
    if (!match)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(match->at(1).toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    const QJsonArray elements = document.array();
    for (const QJsonValue& element : elements) {
        if (!element.isObject())
            return std::nullopt;
    }

    QList<AppItem> items;
    items.reserve(elements.size());
    for (qsizetype index = elements.size() - 1; index >= 0; --index) {
        const QJsonObject object = elements.at(index).toObject();
        if (!object.contains(QStringLiteral("id")))
            continue;
        const QString id = jsonPlainText(object.value(QStringLiteral("id")));
        if (id.isEmpty())
            continue;
        const QString kind = trimSpacesAndTabs(stringValue(object.value(QStringLiteral("kind"))).value_or(QString()));
        if (kind != u"iOS App" && kind != u"Mac App")
            continue;
        AppItem item;
        item.id = id;
        item.name = cleanName(stringValue(object.value(QStringLiteral("name"))).value_or(id));
        item.kind = kind;
        item.purchaseDate = normalizedDate(stringValue(object.value(QStringLiteral("purchaseDate"))).value_or(QString()));
        items.append(std::move(item));
    }
    return items;
}

// The same first-match rule as groups(), without its list of copies: a purchase history
// normalises thousands of dates in one go.
namespace {

// The store's own form, "Mar 5, 2021", read without the expressions: a purchase history has
// thousands of such dates. Gives what the month-first expression gives for this shape.
std::optional<QString> storeDate(const QString& text)
{
    const auto isLetter = [](QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
    const auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    const qsizetype size = text.size();
    if (size != 12 && size != 11)
        return std::nullopt;
    const qsizetype dayDigits = size - 10;
    if (!isLetter(text[0]) || !isLetter(text[1]) || !isLetter(text[2]) || text[3] != u' ')
        return std::nullopt;
    for (qsizetype i = 0; i < dayDigits; ++i) {
        if (!isDigit(text[4 + i]))
            return std::nullopt;
    }
    const qsizetype comma = 4 + dayDigits;
    if (text[comma] != u',' || text[comma + 1] != u' ')
        return std::nullopt;
    for (qsizetype i = comma + 2; i < size; ++i) {
        if (!isDigit(text[i]))
            return std::nullopt;
    }
    const auto month = monthTable().constFind(text.left(3));
    if (month == monthTable().cend())
        return text;
    return formattedDate(QStringView(text).mid(4, dayDigits), *month, QStringView(text).mid(comma + 2));
}

} // namespace

QString normalizedDate(const QString& text)
{
    if (const std::optional<QString> date = storeDate(text))
        return *date;
    static const QRegularExpression monthFirst(QStringLiteral("([A-Za-z]{3})[A-Za-z]*\\.?\\s+(\\d{1,2})\\D+?(\\d{4})"),
                                               QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression dayFirst(QStringLiteral("(\\d{1,2})\\D+?([A-Za-z]{3})[A-Za-z]*\\D*?(\\d{4})"),
                                             QRegularExpression::UseUnicodePropertiesOption);
    const auto& months = monthTable();
    if (const QRegularExpressionMatch match = monthFirst.match(text); match.hasMatch()) {
        const auto month = months.constFind(match.captured(1));
        if (month == months.cend())
            return text;
        return formattedDate(match.capturedView(2), *month, match.capturedView(3));
    }
    if (const QRegularExpressionMatch match = dayFirst.match(text); match.hasMatch()) {
        const auto month = months.constFind(match.captured(2));
        if (month == months.cend())
            return text;
        return formattedDate(match.capturedView(1), *month, match.capturedView(3));
    }
    return text;
}

int dateKey(const std::optional<QString>& text)
{
    if (!text)
        return 0;
    // Called for every item of every sort: compiled once, read without copies.
    static const QRegularExpression form(QStringLiteral("^(\\d{1,2})\\.(\\d{1,2})\\.(\\d{4})$"),
                                         QRegularExpression::UseUnicodePropertiesOption);
    const QRegularExpressionMatch match = form.match(*text);
    if (!match.hasMatch())
        return 0;
    bool dayOk = false, monthOk = false, yearOk = false;
    const int day = match.capturedView(1).toInt(&dayOk);
    const int month = match.capturedView(2).toInt(&monthOk);
    const int year = match.capturedView(3).toInt(&yearOk);
    if (!dayOk || !monthOk || !yearOk)
        return 0;
    return year * 10000 + month * 100 + day;
}

QStringList parseVersionIDs(const QString& text)
{
    static const QRegularExpression quotedDigits(QStringLiteral("(?<=\")\\d+(?=\")"),
                                                 QRegularExpression::UseUnicodePropertiesOption);
    if (!quotedDigits.isValid())
        return {};
    QStringList ids;
    QSet<QString> seen;
    for (auto it = quotedDigits.globalMatch(text); it.hasNext();) {
        const QString id = it.next().captured(0);
        if (!seen.contains(id)) {
            seen.insert(id);
            ids.append(id);
        }
    }
    auto numeric = [](const QString& id) {
        bool ok = false;
        const qint64 value = id.toLongLong(&ok);
        return ok ? value : 0;
    };
    std::stable_sort(ids.begin(), ids.end(), [&](const QString& a, const QString& b) { return numeric(a) > numeric(b); });
    return ids;
}

VersionMeta parseVersionMeta(const QString& text)
{
    VersionMeta meta;
    if (const auto display = groups(QStringLiteral("displayVersion=([^\\s,]+)"), text))
        meta.display = display->at(1);
    if (const auto minOS = groups(QStringLiteral("minimumOSVersion=([^\\s,]+)"), text))
        meta.minOS = minOS->at(1);
    return meta;
}

Progress parseProgress(const QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("[\\r\\n]"));
    const QStringList pieces = text.split(lineBreak);
    QString line;
    for (auto it = pieces.crbegin(); it != pieces.crend(); ++it) {
        if (!trimSpacesAndTabs(*it).isEmpty()) {
            line = *it;
            break;
        }
    }
    Progress progress;
    if (const auto percent = groups(QStringLiteral("(\\d{1,3})(?:\\.\\d+)?\\s*%"), line))
        progress.fraction = std::min(1.0, percent->at(1).toInt() / 100.0);
    if (const auto speed = groups(QStringLiteral("\\(([^()]*MB/s)\\)"), line))
        progress.speed = speed->at(1);
    return progress;
}

OutputChunk readOutputChunk(const QString& chunk, QString& kept, qsizetype limit)
{
    OutputChunk read{removeControlSequences(chunk), {}};
    appendKeepingLast(kept, read.text, limit);
    read.progress = parseProgress(read.text);
    return read;
}

std::optional<QList<std::pair<QString, AppDetails>>> parseLookup(const QByteArray& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    const QJsonValue results = document.object().value(QStringLiteral("results"));
    if (!document.isObject() || !results.isArray())
        return std::nullopt;
    const QJsonArray array = results.toArray();
    if (!std::all_of(array.begin(), array.end(), [](const QJsonValue& value) { return value.isObject(); }))
        return std::nullopt;
    QList<std::pair<QString, AppDetails>> found;
    for (const QJsonValue& value : array) {
        const QJsonObject result = value.toObject();
        if (!result.contains(QStringLiteral("trackId")))
            continue;
        AppDetails details;
        if (const std::optional<QString> artwork = stringValue(result.value(QStringLiteral("artworkUrl100")))) {
            const QUrl url(*artwork);
            if (url.isValid())
                details.artwork = url;
        }
        details.seller = stringValue(result.value(QStringLiteral("sellerName")));
        details.version = stringValue(result.value(QStringLiteral("version")));
        details.price = stringValue(result.value(QStringLiteral("formattedPrice")));
        details.minOS = stringValue(result.value(QStringLiteral("minimumOsVersion")));
        found.append({jsonPlainText(result.value(QStringLiteral("trackId"))), details});
    }
    return found;
}

QList<AppItem> parseCatalog(const QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\\R"));
    static const QRegularExpression entry(QStringLiteral("^(.*?):\\s*(\\d{6,})\\s*$"),
                                          QRegularExpression::UseUnicodePropertiesOption);
    QList<AppItem> items;
    for (const QString& line : text.split(lineBreak)) {
        const QRegularExpressionMatch match = entry.match(line);
        if (!match.hasMatch())
            continue;
        items.append(AppItem{match.captured(2), trimSpacesAndTabs(match.captured(1))});
    }
    return items;
}

} // namespace telmora
