#include "events/TrackingTableView.h"

#include <cstdio>

namespace fieldmon {

TrackingTableView::TrackingTableView(QWidget* parent) : GroupedTableView(parent)
{
    std::printf("Making a tracking version.\n");
}

void TrackingTableView::touchDown()
{
    std::printf("Touchdown!\n");
}

} // namespace fieldmon
