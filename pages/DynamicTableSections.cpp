#include "pages/DynamicTableSections.h"

#include "device/Client.h"
#include "expr/Binding.h"
#include "expr/Node.h"
#include "pages/ClientDynamicTableCell.h"

#include <algorithm>
#include <utility>

namespace fieldmon {

DynamicTableSections::DynamicTableSections(std::shared_ptr<Client> client, NodePtr cellCount)
    : remoteClient_(std::move(client)), cellCount_(std::move(cellCount))
{
    // Counts and titles are loaded by this object, never by themselves.
    if (cellCount_)
        cellCount_->dontRequeue();
}

void DynamicTableSections::newSection(NodePtr title, NodePtr count)
{
    if (title)
        title->dontRequeue();
    if (count)
        count->dontRequeue();
    sections_.push_back(Section{std::move(title), count ? std::move(count) : cellCount_, {}});
}

void DynamicTableSections::addCell(Template cell)
{
    if (sections_.empty())
        newSection(expr::Node::string(remoteClient_, ""), nullptr);
    sections_.back().cells.push_back(std::move(cell));
}

bool DynamicTableSections::implicitSection() const
{
    return sections_.size() == 1 && sections_[0].title && sections_[0].title->stringValue().empty();
}

const DynamicTableSections::NodePtr& DynamicTableSections::countOf(const Section& section) const
{
    return implicitSection() || !section.count ? cellCount_ : section.count;
}

std::vector<int> DynamicTableSections::rowCounts() const
{
    std::vector<int> rows;
    rows.reserve(sections_.size());
    int budget = kMaxRows;
    for (const Section& s : sections_) {
        const NodePtr& count = countOf(s);
        const int n = count ? std::clamp(count->intValue(), 0, budget) : 0;
        rows.push_back(n);
        budget -= n;
    }
    return rows;
}

int DynamicTableSections::numberOfRows(int section) const
{
    if (section < 0 || section >= numberOfSections())
        return 0;
    return rowCounts()[static_cast<std::size_t>(section)];
}

std::string DynamicTableSections::title(int section) const
{
    if (section < 0 || section >= numberOfSections() || implicitSection())
        return {};
    const NodePtr& t = sections_[static_cast<std::size_t>(section)].title;
    return t ? t->stringValue() : std::string();
}

DynamicTableSections::Template DynamicTableSections::templateFor(int section, int row) const
{
    if (section < 0 || section >= numberOfSections())
        return nullptr;
    for (const Template& t : sections_[static_cast<std::size_t>(section)].cells)
        if (t->rangeContains(row))
            return t;
    return nullptr;
}

// --- Constant ---------------------------------------------------------------------

bool DynamicTableSections::sectionConst(const Section& section, int rows) const
{
    const NodePtr& count = countOf(section);
    if (count && !count->isConst())
        return false;
    if (!implicitSection() && section.title && !section.title->isConst())
        return false;
    return std::none_of(section.cells.begin(), section.cells.end(),
                        [rows](const Template& t) { return !t->isConst() && t->coversSomeIndexBelow(rows); });
}

bool DynamicTableSections::isConst() const
{
    const std::vector<int> rows = rowCounts();
    for (std::size_t s = 0; s < sections_.size(); ++s)
        if (!sectionConst(sections_[s], rows[s]))
            return false;
    return true;
}

// --- Stale values -----------------------------------------------------------------

bool DynamicTableSections::invalidateSection(std::size_t index, int rows)
{
    const Section& section = sections_[index];
    const NodePtr& count = countOf(section);
    if (!count)
        return false;
    bool result = false;
    // Range bounds may follow the device too: fetched again each pass.
    for (const Template& t : section.cells)
        result = t->invalidateRange() || result;
    for (int i = 0; i < rows; ++i)
        if (Template t = templateFor(static_cast<int>(index), i))
            result = t->invalidateElementsForIndex(i) || result;
    const bool countStale = count->invalidateRemoteVariableValues();
    if (rows > 0)
        return countStale || result;
    return countStale || !count->isConst() || result;
}

bool DynamicTableSections::invalidateRemoteVariableValues()
{
    auto hold = shared_from_this();
    refreshing_ = true;
    const std::vector<int> rows = rowCounts();
    bool result = false;
    for (std::size_t s = sections_.size(); s-- > 0;) {
        // A title is fetched with its section, but its staleness alone
        // does not make the table fetch.
        if (!implicitSection() && sections_[s].title)
            sections_[s].title->invalidateRemoteVariableValues();
        result = invalidateSection(s, rows[s]) || result;
    }
    return result;
}

// --- Requests -----------------------------------------------------------------------

int DynamicTableSections::queueRows(std::size_t index, int rows)
{
    const Section& section = sections_[index];
    // Range stage: the bounds of every template that could hold one of the
    // rows, unless a constant template before it holds them all.
    int n = 0;
    for (const Template& t : section.cells) {
        if (t->isConst()) {
            if (t->coversEveryIndexBelow(rows))
                break;
            continue;
        }
        if (t->couldCoverSomeIndexBelow(rows))
            n += t->queueRangeRequests();
    }
    if (n > 0)
        return n;
    // Text stage: every row through the first template covering it.
    for (int j = 0; j < rows; ++j)
        if (Template t = templateFor(static_cast<int>(index), j))
            n += t->queueVariableRequestsForIndex(j);
    return n;
}

int DynamicTableSections::queueVariableRequests()
{
    auto hold = shared_from_this();
    const bool continuing = !std::exchange(refreshing_, false);
    const std::size_t addressesBefore = remoteClient_ ? remoteClient_->variables().requests().addressQueue().size() : 0;
    const std::size_t valuesBefore = remoteClient_ ? remoteClient_->variables().requests().valueQueue().size() : 0;
    const std::vector<int> rows = rowCounts();
    int n = 0;
    for (std::size_t s = sections_.size(); s-- > 0;) {
        const NodePtr& count = countOf(sections_[s]);
        // A section's rows wait for its count.
        if (count) {
            const int counting = count->queueVariableRequests();
            if (counting > 0) {
                n += counting;
                continue;
            }
        }
        if (!implicitSection() && sections_[s].title)
            n += sections_[s].title->queueVariableRequests();
        n += queueRows(s, rows[s]);
    }
    if (n == 0) {
        lastPass_.clear();
        // Everything is in: the table reloads.
        if (clientUpdate_)
            clientUpdate_->updateTarget();
        return 0;
    }
    if (!remoteClient_)
        return n + 1;
    std::vector<std::string> asked;
    for (auto [queue, before] : {std::pair{&remoteClient_->variables().requests().addressQueue(), addressesBefore},
                                 std::pair{&remoteClient_->variables().requests().valueQueue(), valuesBefore}})
        for (std::size_t i = before; i < queue->size(); ++i)
            asked.push_back((*queue)[i].request());
    std::sort(asked.begin(), asked.end());
    if (continuing && asked == lastPass_) {
        // The last answers changed nothing this pass needs: wait for the
        // next refresh instead of asking the same again at once.
        for (auto [queue, before] : {std::pair{&remoteClient_->variables().requests().addressQueue(), addressesBefore},
                                     std::pair{&remoteClient_->variables().requests().valueQueue(), valuesBefore}})
            queue->erase(queue->begin() + static_cast<std::ptrdiff_t>(before), queue->end());
        lastPass_.clear();
        return 0;
    }
    lastPass_ = std::move(asked);
    // Asked again when this batch's answers are in.
    remoteClient_->variables().requests().waitingRequesters().push_back(hold);
    return n + 1;
}

void DynamicTableSections::submitRequests()
{
    if (remoteClient_)
        remoteClient_->variables().requests().submitRequests();
}

} // namespace fieldmon
