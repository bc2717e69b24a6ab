#include "store/store.h"

#include "model/errors.h"
#include "model/parsers.h"
#include "tools/ipatool.h"

#include <QDir>
#include <QSaveFile>
#include <QSet>

#include <algorithm>

namespace telmora {

QList<AppItem> mergePurchases(const QList<AppItem>& known, const QList<AppItem>& listed, bool recent)
{
    QList<AppItem> merged = listed;
    if (recent) {
        QSet<QString> listedIDs;
        listedIDs.reserve(listed.size());
        for (const AppItem& item : listed)
            listedIDs.insert(item.id);
        merged.reserve(listed.size() + known.size());
        for (const AppItem& item : known) {
            if (!listedIDs.contains(item.id))
                merged.append(item);
        }
    }
    // Sort on keys computed once: dateKey runs a regular expression.
    QList<std::pair<int, qsizetype>> keys;
    keys.reserve(merged.size());
    for (qsizetype i = 0; i < merged.size(); ++i)
        keys.append({dateKey(merged.at(i).purchaseDate), i});
    std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    QList<AppItem> sorted;
    sorted.reserve(merged.size());
    for (const auto& key : std::as_const(keys))
        sorted.append(std::move(merged[key.second]));
    return sorted;
}


bool writePurchasesCache(const QString& path, const QList<AppItem>& purchases)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(encodeAppItems(purchases));
    return file.commit();
}

std::optional<QString> Store::purchasesCacheURL() const
{
    if (!m_email)
        return std::nullopt;
    // The e-mail becomes part of a file name: one that could leave the data folder (a path
    // separator, "..") gets no cache at all, by the same rule as the saved-account folders.
    if (!accountFolder(*m_email))
        return std::nullopt;
    QDir().mkpath(m_dataFolder);
    return QDir(m_dataFolder).filePath(QStringLiteral("purchases-") + *m_email + QStringLiteral(".json"));
}

QCoro::Task<> Store::loadPurchases(bool full)
{
    QPointer<Store> self(this);
    setPurchasesLoading(true);
    setPurchasesError(std::nullopt);

    int latest = 0;
    for (const AppItem& item : std::as_const(m_purchases))
        latest = std::max(latest, dateKey(item.purchaseDate) / 10000);
    const bool recent = !full && !m_purchases.isEmpty() && latest > 0;
    const QStringList arguments = recent ? ipatool::listPurchasesSinceYear(latest) : ipatool::listPurchasesAll();
    const std::optional<QString> account = m_email;

    const ToolResult result = co_await ipatool(arguments);
    if (!self)
        co_return;
    // Switched or signed out meanwhile: this history belongs to another account and must
    // not be shown or cached as the current one's.
    if (m_email != account) {
        setPurchasesLoading(false);
        co_return;
    }

    const std::optional<QList<AppItem>> listed = parsePurchases(result.out);
    if (!listed) {
        const QString text = result.out + result.err;
        if (!handleAuthLoss(text))
            setPurchasesError(friendlyError(text));
        setPurchasesLoading(false);
        co_return;
    }

    setPurchases(mergePurchases(m_purchases, *listed, recent));
    if (const std::optional<QString> cache = purchasesCacheURL())
        writePurchasesCache(*cache, m_purchases);
    setPurchasesLoading(false);
}

} // namespace telmora
