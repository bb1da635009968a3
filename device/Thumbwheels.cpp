#include "device/Thumbwheels.h"

namespace fieldmon {

Thumbwheels& Thumbwheels::shared()
{
    static Thumbwheels table;
    return table;
}

void Thumbwheels::define(const std::string& name, const std::string& disp, const std::string& command, int wheel)
{
    if (wheel < 0 || wheel >= kWheels)
        return;
    Wheel& w = wheels_[wheel];
    if (!name.empty()) {
        if (w.columnCount >= kColumns)
            return; // a 51st column has no room; its rows go nowhere either
        w.columns.emplace_back();
        w.columns.back().name = name;
        ++w.columnCount;
    }
    if (w.columnCount == 0)
        return; // a row before any column has no column to go into
    Column& c = w.columns[w.columnCount - 1];
    if (!disp.empty()) {
        if (c.rowCount >= kRows)
            return;
        c.rows[c.rowCount].display = disp;
        ++c.rowCount;
    }
    if (!command.empty() && c.rowCount > 0)
        c.rows[c.rowCount - 1].command = command;
}

int Thumbwheels::columns(int wheel) const
{
    if (wheel < 0 || wheel >= kWheels)
        return 0;
    return wheels_[wheel].columnCount;
}

int Thumbwheels::rows(int col, int wheel) const
{
    if (col < 0 || col >= columns(wheel))
        return 0;
    return wheels_[wheel].columns[col].rowCount;
}

const Thumbwheels::Row* Thumbwheels::row(int r, int col, int wheel) const
{
    if (r < 0 || r >= rows(col, wheel))
        return nullptr;
    return &wheels_[wheel].columns[col].rows[r];
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

void Thumbwheels::clear()
{
    for (auto& w : wheels_)
        w = Wheel{};
    descriptions_.clear();
}

} // namespace fieldmon
