#include "widgets/CellPool.h"

#include "widgets/TableCell.h"

#include <algorithm>
#include <utility>

namespace fieldmon {

TableCell* CellPool::take(const QString& identifier)
{
    auto it = cells_.find(identifier);
    if (it == cells_.end() || it->second.empty())
        return nullptr;
    TableCell* cell = it->second.back();
    it->second.pop_back();
    return cell;
}

void CellPool::remove(TableCell* cell)
{
    auto& pooled = cells_[cell->reuseIdentifier()];
    pooled.erase(std::remove(pooled.begin(), pooled.end(), cell), pooled.end());
}

void CellPool::put(TableCell* cell, bool fingerDown)
{
    if (fingerDown) {
        // The cell under a finger takes the rest of the finger's events:
        // hidden, it would end the drag there (the list stops following the
        // finger). It goes out of sight instead and is hidden once the
        // finger lifts, unless a row took it.
        cell->move(cell->x(), -cell->height() - 1);
        parked_ = true;
    } else {
        cell->hide();
    }
    cell->setHighlighted(false);
    cells_[cell->reuseIdentifier()].push_back(cell);
}

void CellPool::hideParked()
{
    if (!std::exchange(parked_, false))
        return;
    for (auto& [identifier, cells] : cells_)
        for (TableCell* cell : cells)
            cell->hide();
}

} // namespace fieldmon
