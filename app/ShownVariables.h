#pragma once
// ShownVariables: which remote variables of a device what its pages show
// reads — each value widget's expressions, and each row of a table page —
// with the rate of the binding that reads each (seconds; infinite for
// "load" and "once"). The session watch needs them for the freshness of
// what is shown and for a value's trend.
//
// Read are variables, structure members and array elements, and what their
// indexes read; a whole structure is not a value of its own. A widget's
// expressions are read as their last refresh resolved them. A table row's
// texts share their nodes with every other row of the template, so they
// are resolved anew in the row's own scope.
//
// Thread rule: main thread only.

#include "widgets/GroupedTableView.h"

#include <memory>
#include <utility>
#include <vector>

namespace fieldmon {

class ClientDynamicTable;
class PageBuildContext;
class RemoteData;
class RemoteView;

using RatedVariables = std::vector<std::pair<std::shared_ptr<RemoteData>, double>>;

struct WidgetVariables {
    std::shared_ptr<RemoteView> view;
    RatedVariables variables;
};

// The placed widgets that read some remote variable, in order of placing.
std::vector<WidgetVariables> widgetVariables(const PageBuildContext& made);
// What row `path` of `table` reads; nothing for a row not shown yet.
RatedVariables rowVariables(const ClientDynamicTable& table, IndexPath path);

} // namespace fieldmon
