#pragma once
// DynamicTableSections: the contents of a device's table page — its
// sections, each with a title, a row count and a list of cell templates —
// and the expression the update scheduler refreshes for the page. The
// table page binds this object (its notifier reloads the table), and the
// scheduler asks it, as it asks any expression, whether it is constant, to
// mark its values stale and to queue its requests.
//
// Loading goes in stages, one request batch each, so that nothing is asked
// for before what it depends on is known:
//   1. the row counts (and section titles);
//   2. the range bounds of the templates that could hold a row;
//   3. the texts of every row, each through the first template covering it.
// After each batch's answers the request machinery asks again (requeue()
// is always true), and when a pass finds nothing missing the binding is
// told and the table reloads, with every row's text in.
//
// A pass that would ask for exactly what the pass before it asked for,
// after those answers came, asks for nothing: the answers brought nothing
// the table needs (a reply too short to be stored), and asking again at
// once would repeat at the device's round-trip speed for ever. The table
// tries again at its next refresh, at its own rate.
//
// The implicit section: templates added before any section go to a first
// section titled "" (empty). A table whose only section is titled "" is one
// list of the table's default row count, without a header.
//
// Rows are held to kMaxRows for the whole table (each section gets what
// the sections before it left): a device's count, or a document with many
// sections, is no reason to build millions of rows.
//
// Thread rule: main thread only.

#include "expr/Schedulable.h"

#include <memory>
#include <string>
#include <vector>

namespace fieldmon {

class Client;
class ClientDynamicTableCell;

namespace expr {
class Node;
}

class DynamicTableSections final : public expr::Schedulable,
                                   public std::enable_shared_from_this<DynamicTableSections> {
public:
    using NodePtr = std::shared_ptr<expr::Node>;
    using Template = std::shared_ptr<ClientDynamicTableCell>;
    static constexpr int kMaxRows = 10000;

    struct Section {
        NodePtr title;
        NodePtr count;
        std::vector<Template> cells;
    };

    DynamicTableSections(std::shared_ptr<Client> client, NodePtr cellCount);

    // A section titled `title` with its own count (null: the table's).
    void newSection(NodePtr title, NodePtr count);
    // Appends a template to the last section, opening the implicit one
    // first when there is none.
    void addCell(Template cell);

    const std::vector<Section>& sections() const { return sections_; }
    const NodePtr& cellCount() const { return cellCount_; }
    bool implicitSection() const;
    int numberOfSections() const { return static_cast<int>(sections_.size()); }
    int numberOfRows(int section) const;
    // Every section's rows at once (the counts' values, within the table's budget).
    std::vector<int> rowCounts() const;
    std::string title(int section) const;
    // The first template of the section that covers `row`, or null.
    Template templateFor(int section, int row) const;

    // --- The scheduler's expression ---------------------------------------------
    bool isConst() const override;
    bool invalidateRemoteVariableValues() override;
    int queueVariableRequests() override;
    void submitRequests() override;
    bool requeue() const override { return true; }
    void setClientUpdate(expr::Binding* binding) override { clientUpdate_ = binding; }
    expr::Binding* clientUpdate() const override { return clientUpdate_; }

private:
    // The count of a section (the implicit one: the table's).
    const NodePtr& countOf(const Section& section) const;
    bool sectionConst(const Section& section, int rows) const;
    bool invalidateSection(std::size_t section, int rows);
    // Stages 2 and 3 for one section; the stage-1 requests are the caller's.
    int queueRows(std::size_t section, int rows);

    std::shared_ptr<Client> remoteClient_;
    NodePtr cellCount_;
    std::vector<Section> sections_;
    expr::Binding* clientUpdate_ = nullptr;
    // The requests the last pass queued (their texts, sorted), and whether
    // the next pass starts a refresh (the scheduler invalidated first) or
    // continues one (answers came in).
    std::vector<std::string> lastPass_;
    bool refreshing_ = false;
};

} // namespace fieldmon
