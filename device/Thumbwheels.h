#pragma once
// Thumbwheel (multi-column picker) definitions read from UI descriptions.
// One table serves the whole application: wheels are numbered across devices
// by each device's wheel count. Limits: 10 wheels, 50 columns per wheel, 50
// rows per column. Definitions beyond a limit, and wheel numbers below 0, are
// ignored; reads beyond a limit give 0 or an empty text.
//
// Thread rule: main thread only.

#include <array>
#include <string>
#include <vector>

namespace fieldmon {

// What the reader appends per wheel definition. Nothing reads these back; the
// wheel table below is what the picker uses.
struct ThumbwheelDescription {};

class Thumbwheels {
public:
    static constexpr int kWheels = 10;
    static constexpr int kColumns = 50;
    static constexpr int kRows = 50;

    static Thumbwheels& shared();

    // Starts a fresh list of wheel descriptions.
    void initDescriptions() { descriptions_.clear(); }
    void addDescription(ThumbwheelDescription d) { descriptions_.push_back(d); }
    std::size_t descriptionCount() const { return descriptions_.size(); }

    // name: a new column of wheel `wheel`; disp: a new row in its last column;
    // command: the command text of the last row of the last column. Each part
    // applies only when not empty.
    void define(const std::string& name, const std::string& disp, const std::string& command, int wheel);

    int columns(int wheel) const;
    int rows(int col, int wheel) const;
    std::string display(int row, int col, int wheel) const;
    std::string command(int row, int col, int wheel) const;

    // Forgets every definition (used by tests).
    void clear();

private:
    struct Row {
        std::string display;
        std::string command;
    };
    struct Column {
        std::string name;
        int rowCount = 0;
        std::array<Row, kRows> rows;
    };
    struct Wheel {
        int columnCount = 0;
        std::vector<Column> columns; // grows up to kColumns as columns are defined
    };

    const Row* row(int row, int col, int wheel) const;

    std::array<Wheel, kWheels> wheels_;
    std::vector<ThumbwheelDescription> descriptions_;
};

} // namespace fieldmon
