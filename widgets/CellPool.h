#pragma once
// The cells a table is not showing, by reuse identifier, for the source to
// take back (GroupedTableView::dequeueReusableCell). A cell put back while a
// finger is down on it is parked out of sight instead of hidden: hidden, it
// would end the finger's drag. Parked cells are hidden once the finger lifts.
//
// The pool does not own the cells: they stay children of the table.
//
// Thread rule: main thread only.

#include <QString>

#include <map>
#include <vector>

namespace fieldmon {

class TableCell;

class CellPool {
public:
    // A pooled cell of that identifier, out of the pool, or null.
    TableCell* take(const QString& identifier);
    // Out of the pool, if it was there (a cell a source took or made).
    void remove(TableCell* cell);
    // Into the pool, hidden or, with the finger down, parked out of sight.
    void put(TableCell* cell, bool fingerDown);
    bool hasParked() const { return parked_; }
    // Hides the cells parked while a finger was down.
    void hideParked();

private:
    std::map<QString, std::vector<TableCell*>> cells_;
    bool parked_ = false; // pooled cells moved out of sight, still shown
};

} // namespace fieldmon
