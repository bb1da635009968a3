#pragma once
// The event log's table: a grouped table that announces itself and every
// touch that lands on it, so that a technician can follow on the console
// what the list did while events were arriving.
//
// Thread rule: main thread only.

#include "widgets/GroupedTableView.h"

namespace fieldmon {

class TrackingTableView : public GroupedTableView {
    Q_OBJECT
public:
    explicit TrackingTableView(QWidget* parent = nullptr);

protected:
    void touchDown() override;
};

} // namespace fieldmon
