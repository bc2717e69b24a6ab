#include "store/store.h"

#include "model/errors.h"
#include "model/parsers.h"
#include "model/text.h"
#include "tools/ipatool.h"

#include <QCoroNetworkReply>
#include <QCoroTimer>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QUrlQuery>

#include <algorithm>
#include <chrono>

namespace telmora {

namespace {

constexpr qsizetype lookupChunkSize = 150;

bool isAppID(const QString& term)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{6,}$"), QRegularExpression::UseUnicodePropertiesOption);
    return pattern.match(term).hasMatch();
}

QList<AppItem> withoutRepeatedIDs(const QList<AppItem>& items)
{
    QSet<QString> seen;
    QList<AppItem> unique;
    unique.reserve(items.size());
    for (const AppItem& item : items) {
        if (!seen.contains(item.id)) {
            seen.insert(item.id);
            unique.append(item);
        }
    }
    return unique;
}

} // namespace

QCoro::Task<> Store::search()
{
    const QString q = m_query.trimmed();
    if (q.isEmpty())
        co_return;
    QPointer<Store> self(this);
    setSearching(true);
    setSearchError(std::nullopt);

    QStringList terms;
    for (const QString& piece : q.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString term = trimSpacesAndTabs(piece);
        if (!term.isEmpty())
            terms.append(term);
    }

    if (std::all_of(terms.cbegin(), terms.cend(), isAppID)) {
        QList<AppItem> found;
        for (const QString& term : std::as_const(terms)) {
            const auto inCatalog = std::find_if(m_catalog.cbegin(), m_catalog.cend(),
                                                [&term](const AppItem& item) { return item.id == term; });
            found.append(inCatalog != m_catalog.cend() ? *inCatalog : AppItem{term, QStringLiteral("ID ") + term});
        }
        setResults(found);
        setSearching(false);
        setSearched(true);
        co_return;
    }

    QList<AppItem> combined;
    for (const AppItem& item : std::as_const(m_catalog)) {
        if (item.name.contains(q, Qt::CaseInsensitive))
            combined.append(item);
    }

    if (!m_email) {
        setSearchError(QStringLiteral("Без входа поиск идёт только по каталогу."));
    } else {
        const ToolResult result = co_await ipatool(ipatool::search(q));
        if (!self)
            co_return;
        if (result.status == 0) {
            combined.append(parseSearch(result.out));
        } else {
            const QString text = result.out + result.err;
            if (!handleAuthLoss(text))
                setSearchError(friendlyError(text));
        }
    }

    setResults(withoutRepeatedIDs(combined));
    setSearching(false);
    setSearched(true);
}

void Store::requestDetails(const QString& id)
{
    if (m_requestedLookups.contains(id))
        return;
    m_requestedLookups.insert(id);
    m_pendingLookups.insert(id);
    if (m_lookupScheduled)
        return;
    m_lookupScheduled = true;
    runLookupBatch();
}

QCoro::Task<> Store::runLookupBatch()
{
    QPointer<Store> self(this);
    co_await QCoro::sleepFor(std::chrono::milliseconds(250));
    if (!self)
        co_return;
    m_lookupScheduled = false;
    const QStringList ids = m_pendingLookups.values();
    m_pendingLookups.clear();
    co_await lookup(ids);
}

QCoro::Task<> Store::lookup(QStringList ids)
{
    QPointer<Store> self(this);
    QSet<QString> remaining(ids.cbegin(), ids.cend());
    for (const QString country : {QStringLiteral("ru"), QStringLiteral("us")}) {
        if (remaining.isEmpty())
            continue;
        const QStringList asked = remaining.values();
        for (qsizetype start = 0; start < asked.size(); start += lookupChunkSize) {
            const QStringList chunk = asked.mid(start, lookupChunkSize);
            QUrl url = m_options.lookupURL;
            QUrlQuery query;
            query.addQueryItem(QStringLiteral("id"), chunk.join(QLatin1Char(',')));
            query.addQueryItem(QStringLiteral("country"), country);
            url.setQuery(query);

            // The reply is a child of the Store's network manager, so it never outlives the
            // Store; this frame releases it as soon as it has been read.
            QPointer<QNetworkReply> reply = m_network.get(QNetworkRequest(url));
            const auto release = qScopeGuard([reply] {
                if (reply)
                    reply->deleteLater();
            });
            co_await reply.data();
            if (!self)
                co_return;
            if (!reply)
                continue;
            // A transport failure has no HTTP status; any answer from the service is read.
            if (reply->error() != QNetworkReply::NoError && !reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
                continue;

            const auto found = parseLookup(reply->readAll());
            if (!found)
                continue;
            for (const auto& [key, details] : *found) {
                setDetail(key, details);
                remaining.remove(key);
            }
        }
    }
}

} // namespace telmora
