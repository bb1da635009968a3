#include "pages/DynamicTableSections.h"

#include "device/Client.h"
#include "expr/Binding.h"
#include "expr/ClientData.h"
#include "pages/ClientDynamicTableCell.h"

#include <algorithm>

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
        newSection(expr::ClientData::string(remoteClient_, ""), nullptr);
    sections_.back().cells.push_back(std::move(cell));
}

bool DynamicTableSections::implicitSection() const
{
    return sections_.size() == 1 && sections_[0].title && sections_[0].title->stringValue().empty();
}

int DynamicTableSections::clampRows(int count)
{
    return std::clamp(count, 0, kMaxRows);
}

const DynamicTableSections::NodePtr& DynamicTableSections::countOf(const Section& section) const
{
    return implicitSection() || !section.count ? cellCount_ : section.count;
}

int DynamicTableSections::numberOfRows(int section) const
{
    if (section < 0 || section >= numberOfSections())
        return 0;
    const NodePtr& count = countOf(sections_[static_cast<std::size_t>(section)]);
    return count ? clampRows(count->intValue()) : 0;
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

bool DynamicTableSections::sectionConst(const Section& section) const
{
    const NodePtr& count = countOf(section);
    if (count && !count->isConst())
        return false;
    if (!implicitSection() && section.title && !section.title->isConst())
        return false;
    const int rows = count ? clampRows(count->intValue()) : 0;
    for (const Template& t : section.cells) {
        if (t->isConst())
            continue;
        for (int j = 0; j < rows; ++j)
            if (t->rangeContains(j))
                return false;
    }
    return true;
}

bool DynamicTableSections::isConst() const
{
    return std::all_of(sections_.begin(), sections_.end(), [this](const Section& s) { return sectionConst(s); });
}

// --- Stale values -----------------------------------------------------------------

bool DynamicTableSections::invalidateSection(const Section& section)
{
    const NodePtr& count = countOf(section);
    if (!count)
        return false;
    bool result = false;
    // Range bounds may follow the device too: fetched again each pass.
    for (const Template& t : section.cells)
        result = t->invalidateRange() || result;
    const int rows = clampRows(count->intValue());
    for (int i = 0; i < rows; ++i)
        if (Template t = templateFor(static_cast<int>(&section - sections_.data()), i))
            result = t->invalidateElementsForIndex(i) || result;
    const bool countStale = count->invalidateRemoteVariableValues();
    if (rows > 0)
        return countStale || result;
    return countStale || !count->isConst() || result;
}

bool DynamicTableSections::invalidateRemoteVariableValues()
{
    auto hold = shared_from_this();
    bool result = false;
    for (auto s = sections_.rbegin(); s != sections_.rend(); ++s) {
        // A title is fetched with its section, but its staleness alone
        // does not make the table fetch.
        if (!implicitSection() && s->title)
            s->title->invalidateRemoteVariableValues();
        result = invalidateSection(*s) || result;
    }
    return result;
}

// --- Requests -----------------------------------------------------------------------

int DynamicTableSections::queueRows(const Section& section)
{
    const NodePtr& count = countOf(section);
    const int rows = count ? clampRows(count->intValue()) : 0;
    const std::size_t templates = section.cells.size();
    // Range stage: the bounds of every template that could hold a row, each
    // once; looking at a row stops at the first constant template that
    // could hold it.
    int n = 0;
    std::vector<bool> queued(templates, false);
    std::size_t left = templates;
    for (int j = 0; j < rows && left > 0; ++j) {
        for (std::size_t k = 0; k < templates; ++k) {
            const Template& t = section.cells[k];
            if (!t->rangeCouldContain(j))
                continue;
            if (t->isConst())
                break;
            if (!queued[k]) {
                n += t->queueRangeRequests();
                queued[k] = true;
                --left;
            }
        }
    }
    if (n > 0)
        return n;
    // Text stage: every row through the first template covering it.
    const int sectionIndex = static_cast<int>(&section - sections_.data());
    for (int j = 0; j < rows; ++j)
        if (Template t = templateFor(sectionIndex, j))
            n += t->queueVariableRequestsForIndex(j);
    return n;
}

int DynamicTableSections::queueVariableRequests()
{
    auto hold = shared_from_this();
    int n = 0;
    for (auto s = sections_.rbegin(); s != sections_.rend(); ++s) {
        const NodePtr& count = countOf(*s);
        // A section's rows wait for its count.
        if (count) {
            const int counting = count->queueVariableRequests();
            if (counting > 0) {
                n += counting;
                continue;
            }
        }
        if (!implicitSection() && s->title)
            n += s->title->queueVariableRequests();
        n += queueRows(*s);
    }
    if (n == 0) {
        // Everything is in: the table reloads.
        if (clientUpdate_)
            clientUpdate_->updateTarget();
        return 0;
    }
    // Asked again when this batch's answers are in.
    if (remoteClient_)
        remoteClient_->compiledStringRequesters().push_back(hold);
    return n + 1;
}

void DynamicTableSections::submitRequests()
{
    if (remoteClient_)
        remoteClient_->submitRequests();
}

} // namespace fieldmon
