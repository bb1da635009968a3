#include "events/TrackingTableView.h"
#include "platform/Diagnostics.h"

namespace fieldmon {

TrackingTableView::TrackingTableView(QWidget* parent) : GroupedTableView(parent)
{
    diag("Making a tracking version.\n");
}

void TrackingTableView::touchDown()
{
    diag("Touchdown!\n");
}

} // namespace fieldmon
