#include "app/ShownVariables.h"

#include "device/ClientUpdate.h"
#include "elements/RemoteView.h"
#include "expr/Node.h"
#include "expr/Scope.h"
#include "pages/ClientDynamicTable.h"
#include "pages/PageBuildContext.h"
#include "variables/RemoteData.h"

namespace fieldmon {

namespace {

// Without `scope`, as the last refresh resolved the nodes; with one, as
// they resolve in it.
void collectVariables(expr::Node& node, std::vector<std::shared_ptr<RemoteData>>& out, expr::Scope* scope,
                      int depth = 0)
{
    if (depth > 256)
        return;
    switch (node.type()) {
    case expr::NodeKind::RemoteVariable:
    case expr::NodeKind::Element:
    case expr::NodeKind::Index:
        if (scope)
            node.updateRemoteDataWithEnvironment(scope);
        if (const auto& v = node.remoteData(); v && !v->structureType())
            out.push_back(v);
        if (node.type() == expr::NodeKind::Index && node.indexNode())
            collectVariables(*node.indexNode(), out, scope, depth + 1);
        if (node.type() == expr::NodeKind::Element && node.structure() &&
            node.structure()->type() == expr::NodeKind::Index && node.structure()->indexNode())
            collectVariables(*node.structure()->indexNode(), out, scope, depth + 1);
        return;
    case expr::NodeKind::Operator:
    case expr::NodeKind::Function:
        for (const auto& a : node.args())
            if (a)
                collectVariables(*a, out, scope, depth + 1);
        return;
    default: return;
    }
}

void addRated(expr::Node& node, expr::Scope* scope, double rate, RatedVariables& out)
{
    std::vector<std::shared_ptr<RemoteData>> vars;
    collectVariables(node, vars, scope);
    for (auto& v : vars)
        out.push_back({std::move(v), rate});
}

} // namespace

std::vector<WidgetVariables> widgetVariables(const PageBuildContext& made)
{
    std::vector<WidgetVariables> out;
    for (const auto& shown : made.shownValues()) {
        WidgetVariables w;
        w.view = shown.widget.lock();
        if (!w.view)
            continue;
        for (const auto& e : shown.expressions)
            if (auto node = e.node.lock())
                addRated(*node, nullptr, e.rate, w.variables);
        if (!w.variables.empty())
            out.push_back(std::move(w));
    }
    return out;
}

RatedVariables rowVariables(const ClientDynamicTable& table, IndexPath path)
{
    RatedVariables out;
    const double rate = ClientUpdate::parseUpdateRate(table.refreshRate()).updateRate;
    for (const auto& scope : table.rowScopes(path))
        if (scope->expression())
            addRated(*scope->expression(), scope.get(), rate, out);
    return out;
}

} // namespace fieldmon
