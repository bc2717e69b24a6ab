#include "store/store.h"

#include "model/errors.h"
#include "model/parsers.h"
#include "model/text.h"
#include "tools/ipatool.h"

#include <algorithm>

namespace telmora {

namespace {

constexpr qsizetype versionBatch = 10;

} // namespace

void Store::openVersions(const AppItem& app)
{
    if (!m_email) {
        beginLogin(QString(), false);
        return;
    }
    setVersionsApp(app);
    setVersions({});
    setVersionsError(std::nullopt);
    loadVersions(app);
}

QCoro::Task<> Store::loadVersions(AppItem app)
{
    QPointer<Store> self(this);
    setVersionsLoading(true);
    // Calls are made outside the co_await expressions: GCC 12 destroys argument copies
    // made inside one twice.
    QCoro::Task<ToolResult> listRun = ipatool(ipatool::listVersions(app.id));
    const ToolResult result = co_await listRun;
    if (!self)
        co_return;
    if (!m_versionsApp || m_versionsApp->id != app.id) {
        setVersionsLoading(false);
        co_return;
    }

    const QString text = result.out + result.err;
    const bool failed = text.contains(QLatin1String("Error"));
    const QStringList ids = failed ? QStringList() : parseVersionIDs(result.out);
    if (!ids.isEmpty()) {
        QList<VersionRow> rows;
        rows.reserve(ids.size());
        for (const QString& id : ids)
            rows.append(VersionRow{id, std::nullopt});
        setVersions(rows);
        QCoro::Task<> details = loadMoreVersionDetails(app, 0);
        co_await details;
        co_return;
    }

    if (!handleAuthLoss(text))
        setVersionsError(failed ? friendlyError(text) : QStringLiteral("Версии не найдены."));
    setVersionsLoading(false);
}

QCoro::Task<> Store::loadMoreVersionDetails(const AppItem& requested, int rounds)
{
    // Copied before the first suspension: the caller's item need not outlive it.
    const AppItem app = requested;
    QPointer<Store> self(this);
    const auto showsApp = [this, &app] { return m_versionsApp && m_versionsApp->id == app.id; };

    setVersionsLoading(true);
    QStringList batch;
    for (const VersionRow& row : std::as_const(m_versions)) {
        if (batch.size() == versionBatch)
            break;
        if (!row.meta)
            batch.append(row.id);
    }

    for (const QString& id : std::as_const(batch)) {
        if (!showsApp()) {
            setVersionsLoading(false);
            co_return;
        }
        QCoro::Task<ToolResult> metadataRun = ipatool(ipatool::versionMetadata(app.id, id));
        const ToolResult result = co_await metadataRun;
        if (!self)
            co_return;
        if (!showsApp()) {
            setVersionsLoading(false);
            co_return;
        }
        // A failed request leaves a present but empty record, so the row is not asked for again.
        QList<VersionRow> rows = m_versions;
        const auto row = std::find_if(rows.begin(), rows.end(), [&id](const VersionRow& candidate) { return candidate.id == id; });
        if (row != rows.end()) {
            row->meta = parseVersionMeta(result.out);
            setVersions(rows);
        }
    }

    // With a phone connected, keep going (two more batches at most) until some version runs on it.
    if (const std::optional<Device> device = readyDevice(); device && (rounds == 0 || rounds == 1)) {
        const bool missing = std::any_of(m_versions.cbegin(), m_versions.cend(), [](const VersionRow& row) { return !row.meta; });
        const bool compatible = std::any_of(m_versions.cbegin(), m_versions.cend(), [&device](const VersionRow& row) {
            return row.meta && row.meta->minOS && compareVersions(device->iosVersion, *row.meta->minOS) >= 0;
        });
        if (missing && !compatible) {
            QCoro::Task<> more = loadMoreVersionDetails(app, rounds + 1);
            co_await more;
            if (!self)
                co_return;
        }
    }
    setVersionsLoading(false);
}

} // namespace telmora
