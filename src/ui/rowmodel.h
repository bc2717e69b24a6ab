#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QSet>

namespace telmora {

// A list model whose rows follow a list published whole by the Store. Each new list is
// compared with the shown one by key, so a progress tick or an arriving detail changes one
// row's data and a new item is one inserted row: views keep their delegates, scroll position
// and current row.
class RowModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

protected:
    // Beyond this many removed or inserted ranges, views redo less work after a reset.
    static constexpr int maxRanges = 64;

    // Brings `rows` to `next`: removals, insertions, then dataChanged for rows that differ.
    // A reset when rows that stay changed their order, or keys repeat.
    template<typename T, typename KeyOf>
    void syncRows(QList<T>& rows, const QList<T>& next, KeyOf keyOf);

private:
    // Everything out, then everything in: unlike a reset, views keep the delegates of the
    // rows that went in their reuse pool and hand them to the rows that came.
    template<typename T>
    void resetRows(QList<T>& rows, const QList<T>& next)
    {
        if (!rows.isEmpty()) {
            beginRemoveRows({}, 0, static_cast<int>(rows.size()) - 1);
            rows.clear();
            endRemoveRows();
        }
        if (!next.isEmpty()) {
            beginInsertRows({}, 0, static_cast<int>(next.size()) - 1);
            rows = next;
            endInsertRows();
        }
    }
    void signalChangedRuns(const QList<int>& changed);
};

template<typename T, typename KeyOf>
void RowModel::syncRows(QList<T>& rows, const QList<T>& next, KeyOf keyOf)
{
    using Key = std::decay_t<decltype(keyOf(next.first()))>;
    QSet<Key> nextKeys;
    nextKeys.reserve(next.size());
    for (const T& item : next)
        nextKeys.insert(keyOf(item));
    QSet<Key> shownKeys;
    shownKeys.reserve(rows.size());
    for (const T& item : std::as_const(rows))
        shownKeys.insert(keyOf(item));
    if (nextKeys.size() != next.size() || shownKeys.size() != rows.size())
        return resetRows(rows, next);

    // Plan: which shown rows go, and whether the rest keep their order inside `next`.
    QList<int> leaving; // indexes of rows whose key is gone, ascending
    int ranges = 0;
    for (int i = 0; i < rows.size(); ++i) {
        if (!nextKeys.contains(keyOf(rows.at(i)))) {
            if (leaving.isEmpty() || leaving.last() != i - 1)
                ++ranges;
            leaving.append(i);
        }
    }
    int matched = 0;
    int survivor = 0;
    bool previousInserted = false;
    for (const T& item : next) {
        while (survivor < rows.size() && !nextKeys.contains(keyOf(rows.at(survivor))))
            ++survivor;
        const bool same = survivor < rows.size() && keyOf(rows.at(survivor)) == keyOf(item);
        if (same) {
            ++survivor;
            ++matched;
        } else if (!previousInserted) {
            ++ranges;
        }
        previousInserted = !same;
    }
    if (matched != rows.size() - leaving.size() || ranges > maxRanges)
        return resetRows(rows, next);

    // Removals from the bottom, so earlier indexes stay valid.
    for (int end = static_cast<int>(leaving.size()) - 1; end >= 0;) {
        int start = end;
        while (start > 0 && leaving.at(start - 1) == leaving.at(start) - 1)
            --start;
        const int first = leaving.at(start);
        const int last = leaving.at(end);
        beginRemoveRows({}, first, last);
        rows.remove(first, last - first + 1);
        endRemoveRows();
        end = start - 1;
    }
    // Insertions top-down: what is left of `rows` is now a subsequence of `next`.
    for (int i = 0; i < next.size();) {
        if (i < rows.size() && keyOf(rows.at(i)) == keyOf(next.at(i))) {
            ++i;
            continue;
        }
        int end = i;
        while (end < next.size() && !(i < rows.size() && keyOf(rows.at(i)) == keyOf(next.at(end))))
            ++end;
        beginInsertRows({}, i, end - 1);
        rows.insert(i, end - i, T());
        for (int k = i; k < end; ++k)
            rows[k] = next.at(k);
        endInsertRows();
        i = end;
    }
    QList<int> changed;
    for (int i = 0; i < next.size(); ++i) {
        if (!(rows.at(i) == next.at(i))) {
            rows[i] = next.at(i);
            changed.append(i);
        }
    }
    signalChangedRuns(changed);
}

} // namespace telmora
