// Builders of table pages: "table", and its "section" and "cell" elements.
// A section or cell outside a table changes nothing and says nothing.

#include "device/Client.h"
#include "elements/WidgetTags.h"
#include "expr/Node.h"
#include "pages/ClientDynamicTable.h"
#include "pages/ClientDynamicTableCell.h"
#include "pages/DynamicTableSections.h"
#include "pages/PageBuildContext.h"
#include "pages/PageBuilders.h"
#include "platform/Diagnostics.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"
#include "widgets/PhoneStyle.h"

namespace fieldmon {

namespace {

std::shared_ptr<ClientDynamicTable> currentTable(uidesc::ElementBuild& b)
{
    auto* table = dynamic_cast<ClientDynamicTable*>(b.context<PageBuildContext>().currentPage());
    if (!table)
        return nullptr;
    return std::static_pointer_cast<ClientDynamicTable>(table->shared_from_this());
}

// A table needs a name (its key in the page table), a row count and the
// name of its index variable; without one of them it is not built, and the
// sections and cells that follow have no table to go to.
bool startTable(uidesc::ElementBuild& b)
{
    PageBuildContext& pages = b.context<PageBuildContext>();
    const std::string* name = b.text("name");
    if (!name) {
        b.report(*b.spec().attribute("name"));
        pages.endCurrentPage();
        return false;
    }
    const std::string* indexVar = b.text("indexVar");
    auto cellCount = b.compile("cellCount");
    if (!cellCount || !indexVar) {
        // Every attribute, unknown ones too: a misspelt "cellcount" must show.
        const std::string message = "Error: Not enough arguments to the table.  Got '" +
                                    uidesc::attributeDictionary(b.attributes()) + "' as arguments";
        b.report(message, message);
        pages.endCurrentPage();
        return false;
    }
    auto table = ClientDynamicTable::create(b.clientPtr(), cellCount, *indexVar, b.rate());
    table->setTitle(phone::deviceLine(*name));
    table->setRealName(b.compile("title"));
    pages.registerPage(*name, table);
    if (auto load = b.compile("onPageLoad"))
        table->setOnPageLoad(load);
    return true;
}

// The table itself is bound: its contents load in stages and the list
// reloads when every row is in.
void endTable(uidesc::ElementBuild& b)
{
    if (auto table = currentTable(b)) {
        std::weak_ptr<ClientDynamicTable> weak = table;
        b.client().scheduler().bind(
            table->contents(),
            [weak] {
                if (auto t = weak.lock())
                    t->reloadData();
            },
            [weak] {
                auto t = weak.lock();
                return t && t->visible();
            },
            table->refreshRate());
    }
    b.context<PageBuildContext>().endCurrentPage();
}

bool startSection(uidesc::ElementBuild& b)
{
    auto table = currentTable(b);
    if (!table)
        return false;
    auto title = b.required("title");
    if (!title)
        return false;
    table->newSection(title, b.compile("cellCount"));
    return true;
}

bool startCell(uidesc::ElementBuild& b)
{
    auto table = currentTable(b);
    if (!table)
        return false;
    ClientDynamicTableCell::Texts texts;
    texts.left = b.compile("left");
    texts.right = b.compile("right");
    texts.center = b.compile("center");
    texts.command = b.compile("command");
    if (const std::string* target = b.text("target"))
        texts.target = *target;
    const std::string& var = table->indexVar();
    std::shared_ptr<ClientDynamicTableCell> cell;
    if (b.text("indexStart") || b.text("indexEnd")) {
        if (b.text("index"))
            diag("Warning: Index set as well as the start and end.  Ignoring the index\n");
        cell = ClientDynamicTableCell::withRange(std::move(texts), b.clientPtr(), b.compile("indexStart"),
                                                 b.compile("indexEnd"), var);
    } else if (b.text("index")) {
        cell = ClientDynamicTableCell::withIndex(std::move(texts), b.clientPtr(), b.compile("index"), var);
    } else {
        cell = ClientDynamicTableCell::forAll(std::move(texts), b.clientPtr(), var);
    }
    cell->setTag(widgettags::next());
    if (auto confirm = b.compile("confirm")) {
        cell->setConfirm(confirm);
        // Kept fresh at the table's rate; until its value is in, a row asks.
        std::weak_ptr<ClientDynamicTable> weak = table;
        b.client().scheduler().bind(
            confirm, [] {},
            [weak] {
                auto t = weak.lock();
                return t && t->visible();
            },
            table->refreshRate());
    }
    table->addCell(cell);
    b.keep(cell);
    return true;
}

} // namespace

void registerTableElements(uidesc::BuilderRegistry& registry)
{
    registry.add("table", {startTable, endTable});
    registry.add("section", {startSection});
    registry.add("cell", {startCell});
}

} // namespace fieldmon
