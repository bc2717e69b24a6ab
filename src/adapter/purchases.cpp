// list-purchases --all | --since-year Y: upstream (2.5 and later) gives the history a page at
// a time, newest first (count, totalCount, page, apps); the contract wants it in one line,
// oldest first, with the dates as "Mar 5, 2021".

#include "adapter/commands.h"

#include "adapter/events.h"
#include "adapter/upstreamrun.h"

#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QSet>

#include <algorithm>

namespace telmora::adapter {

namespace {

constexpr int pageSize = 100;   // upstream's largest page
constexpr int pageLimit = 1000; // a tool that ignored -p must not keep us here for ever

QString idText(const QJsonValue& value)
{
    if (value.isDouble())
        return QString::number(static_cast<qint64>(value.toDouble()));
    return value.toString();
}

// An RFC 3339 time (how the logger writes a time), seconds since 1970, or the store's
// "Mar 5, 2021"; the date in UTC.
std::optional<QDate> purchaseDate(const QJsonValue& value)
{
    if (value.isDouble() && value.toDouble() > 0)
        return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(value.toDouble()), Qt::UTC).date();
    const QString text = value.toString().trimmed();
    if (text.isEmpty())
        return std::nullopt;
    if (const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs); time.isValid())
        return time.toUTC().date();
    for (const QString& format : {QStringLiteral("yyyy-MM-dd"), QStringLiteral("MMM d, yyyy")}) {
        if (const QDate date = QLocale::c().toDate(text, format); date.isValid())
            return date;
    }
    return std::nullopt;
}

QString contractDate(const QDate& date)
{
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return QStringLiteral("%1 %2, %3").arg(QLatin1String(months[date.month() - 1])).arg(date.day()).arg(date.year());
}

// Upstream asks the store for iOS software only; it names no kind.
QJsonObject contractApp(const QJsonObject& app, const std::optional<QDate>& date)
{
    QJsonObject item{{QStringLiteral("id"), app.value(u"id")},
                     {QStringLiteral("kind"), app.value(u"kind").toString(QStringLiteral("iOS App"))}};
    if (const QString name = app.value(u"name").toString(); !name.isEmpty())
        item.insert(QStringLiteral("name"), name);
    if (date)
        item.insert(QStringLiteral("purchaseDate"), contractDate(*date));
    return item;
}

struct History {
    QJsonArray apps; // newest first, as upstream gives them
    QSet<QString> seen;
};

// Takes one page into `history`; true when a later page may hold more that is wanted.
bool takePage(const Event& page, int sinceYear, History& history)
{
    const QJsonArray apps = page.fields.value(u"apps").toArray();
    bool fresh = false;
    bool reachedOlder = false;
    for (const QJsonValue& value : apps) {
        const QJsonObject app = value.toObject();
        const QString id = idText(app.value(u"id"));
        if (id.isEmpty() || history.seen.contains(id))
            continue;
        history.seen.insert(id);
        fresh = true;
        const std::optional<QDate> date = purchaseDate(app.value(u"purchaseDate"));
        if (sinceYear > 0 && date && date->year() < sinceYear) {
            reachedOlder = true; // newest first: everything after this is older still
            continue;
        }
        history.apps.append(contractApp(app, date));
    }
    const QJsonValue total = page.fields.value(u"totalCount");
    const bool more = total.isDouble() ? history.seen.size() < total.toInt() : apps.size() >= pageSize;
    return fresh && !reachedOlder && more;
}

} // namespace

int listPurchases(const Request& request, const Contract& out)
{
    int sinceYear = 0;
    if (!request.has("--all")) {
        bool ok = false;
        sinceYear = request.value({"--since-year"}).toInt(&ok);
        if (!ok || sinceYear <= 0)
            return out.fail(QStringLiteral("either --all or --since-year YEAR must be given"));
    }
    const std::optional<Upstream> tool = Upstream::open(out);
    if (!tool)
        return 1;

    History history;
    for (int page = 1; page <= pageLimit; ++page) {
        const Outcome outcome = tool->run({QStringLiteral("list-purchases"), QStringLiteral("-l"),
                                           QString::number(pageSize), QStringLiteral("-p"), QString::number(page)});
        if (const std::optional<QString> failure = failureOf(outcome, tool->program()))
            return out.fail(contractError(*failure));
        const Event* result = outcome.result(QStringLiteral("apps"));
        if (!result || !result->fields.value(u"apps").isArray())
            return out.fail(unreadableMessage());
        if (!takePage(*result, sinceYear, history))
            break;
    }

    QJsonArray oldestFirst;
    for (qsizetype i = history.apps.size() - 1; i >= 0; --i)
        oldestFirst.append(history.apps.at(i));
    out.info({{QStringLiteral("apps"), oldestFirst},
              {QStringLiteral("count"), oldestFirst.size()},
              {QStringLiteral("success"), true}});
    return 0;
}

} // namespace telmora::adapter
