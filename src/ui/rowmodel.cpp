#include "ui/rowmodel.h"

namespace telmora {

void RowModel::signalChangedRuns(const QList<int>& changed)
{
    for (qsizetype start = 0; start < changed.size();) {
        qsizetype end = start;
        while (end + 1 < changed.size() && changed.at(end + 1) == changed.at(end) + 1)
            ++end;
        Q_EMIT dataChanged(index(changed.at(start)), index(changed.at(end)));
        start = end + 1;
    }
}

} // namespace telmora
