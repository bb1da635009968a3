#include "device/Thumbwheels.h"

namespace fieldmon {

void Thumbwheels::restart()
{
    count_ = 0;
    wheels_.assign(kWheels, Wheel{});
}

namespace {

// Only an empty text is skipped; an absent one applies as no text.
bool applies(const std::optional<std::string_view>& part)
{
    return !part || !part->empty();
}

std::string textOf(const std::optional<std::string_view>& part)
{
    return part ? std::string(*part) : std::string();
}

} // namespace

void Thumbwheels::define(std::optional<std::string_view> name, std::optional<std::string_view> disp,
                         std::optional<std::string_view> command, int wheel)
{
    if (wheel < 0 || wheel >= kWheels)
        return;
    Wheel& w = wheels_[static_cast<std::size_t>(wheel)];
    if (applies(name)) {
        w.ignoringColumn = w.columns.size() >= kColumns;
        if (!w.ignoringColumn)
            w.columns.push_back(Column{textOf(name), {}});
    }
    if (w.ignoringColumn || w.columns.empty())
        return; // no column for a row to go into
    Column& c = w.columns.back();
    if (applies(disp)) {
        if (c.rows.size() >= kRows)
            return;
        c.rows.push_back(Row{textOf(disp), {}});
    }
    if (applies(command) && !c.rows.empty())
        c.rows.back().command = textOf(command);
}

int Thumbwheels::columns(int wheel) const
{
    if (wheel < 0 || wheel >= kWheels)
        return 0;
    return static_cast<int>(wheels_[static_cast<std::size_t>(wheel)].columns.size());
}

int Thumbwheels::rows(int col, int wheel) const
{
    if (col < 0 || col >= columns(wheel))
        return 0;
    return static_cast<int>(wheels_[static_cast<std::size_t>(wheel)].columns[static_cast<std::size_t>(col)].rows.size());
}

const Thumbwheels::Row* Thumbwheels::row(int r, int col, int wheel) const
{
    if (r < 0 || r >= rows(col, wheel))
        return nullptr;
    return &wheels_[static_cast<std::size_t>(wheel)].columns[static_cast<std::size_t>(col)].rows[static_cast<std::size_t>(r)];
}

std::string Thumbwheels::display(int r, int col, int wheel) const
{
    const Row* p = row(r, col, wheel);
    return p ? p->display : std::string();
}

std::string Thumbwheels::command(int r, int col, int wheel) const
{
    const Row* p = row(r, col, wheel);
    return p ? p->command : std::string();
}

} // namespace fieldmon
