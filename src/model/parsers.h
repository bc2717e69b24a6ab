#pragma once

#include "model/records.h"

#include <QJsonValue>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

namespace telmora {

// Pure readers of tool output. None fails loudly: bad input gives an empty list,
// an absent value or the input unchanged.

// The plain text of a JSON id: a number gives its decimal digits, a string gives itself.
[[nodiscard]] QString jsonPlainText(const QJsonValue& value);
// `ipatool search … --format json`: the JSON object from the first "{".
[[nodiscard]] QList<AppItem> parseSearch(const QString& text);
// One-line display name; "Без названия" when nothing is left.
[[nodiscard]] QString cleanName(const QString& text);
// `ipatool list-purchases`: absent when there is no readable "apps=" list.
[[nodiscard]] std::optional<QList<AppItem>> parsePurchases(const QString& text);
// "Mar 5, 2021" or "5 March 2021" → "05.03.2021"; anything else unchanged.
[[nodiscard]] QString normalizedDate(const QString& text);
// "05.03.2021" → 20210305; absent or unreadable → 0.
[[nodiscard]] int dateKey(const std::optional<QString>& text);
// `ipatool list-versions`: quoted digit runs, unique, largest first.
[[nodiscard]] QStringList parseVersionIDs(const QString& text);
// `ipatool get-version-metadata`.
[[nodiscard]] VersionMeta parseVersionMeta(const QString& text);
// Percentage and speed from the last non-blank line of a chunk.
[[nodiscard]] Progress parseProgress(const QString& text);

// One chunk of a tool's live output on its pseudo-terminal (downloads, installs): the chunk
// without control sequences, appended to `kept` (of which the last `limit` characters stay),
// and the progress it shows.
struct OutputChunk {
    QString text;
    Progress progress;
};
[[nodiscard]] OutputChunk readOutputChunk(const QString& chunk, QString& kept, qsizetype limit);

// The iTunes lookup service's answer: the store details of every result that has a
// "trackId", with that id as text, in the answer's order. Absent when the answer is not an
// object whose "results" is an array of objects.
[[nodiscard]] std::optional<QList<std::pair<QString, AppDetails>>> parseLookup(const QByteArray& json);
// "Name: 123456" lines of the catalog resource.
[[nodiscard]] QList<AppItem> parseCatalog(const QString& text);

} // namespace telmora
