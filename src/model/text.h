#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace telmora {

// The one regular-expression helper: first match of `pattern` anywhere in `text`,
// entry 0 the whole match, entry k the k-th group ("" when a group took no part).
// Absent when the pattern does not compile or nothing matches.
[[nodiscard]] std::optional<QStringList> groups(const QString& pattern, const QString& text);

// Deletes terminal control sequences (ESC "[" … final byte); other control characters stay.
[[nodiscard]] QString removeControlSequences(const QString& text);

// Compares dotted versions with digit runs taken as numbers ("17.10" > "17.9").
// Negative, zero or positive like strcmp.
[[nodiscard]] int compareVersions(const QString& a, const QString& b);

// A progress fraction as a whole percentage, truncated (0.999 is 99), with a small
// allowance so that 0.29, which is 28.999… in binary, still reads 29.
[[nodiscard]] int wholePercent(double fraction);

// A byte count as the Russian interface writes it: decimal units, one decimal ("2,3 МБ").
[[nodiscard]] QString formattedSize(qint64 bytes);

// Appends `text` to `buffer` and keeps only the last `limit` characters.
void appendKeepingLast(QString& buffer, const QString& text, qsizetype limit);

// Trims spaces and tabs only (not line breaks) at both ends.
[[nodiscard]] QString trimSpacesAndTabs(const QString& text);

} // namespace telmora
