#pragma once
// Thumbwheels: one device's thumbwheel (multi-column picker) definitions, as
// its UI description defines them. Each device record holds its own, so a
// second device's definitions never overwrite the first's. Definitions are
// numbered from 0 in document order; a new reading of the document
// (restart()) forgets the old ones and numbers from 0 again, so a document
// re-read after a firmware change shows no stale wheels.
//
// Limits: 10 definitions, 50 columns per definition, 50 rows per column.
// What lies beyond a limit is ignored: a wheel number below 0 or of 10 or
// more, a 51st row, and a 51st column together with the rows that follow it
// (they belong to the ignored column, not to the one before it). Reads
// beyond a limit give 0 or an empty text.
//
// Thread rule: main thread only.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon {

class Thumbwheels {
public:
    static constexpr int kWheels = 10;
    static constexpr int kColumns = 50;
    static constexpr int kRows = 50;

    // Forgets every definition; numbering starts at 0. A new reading of the
    // device's document begins with this.
    void restart();

    // A "thumb_def": the next definition begins; returns its number.
    int beginDefinition() { return count_++; }
    // The number of definitions begun so far (also those beyond the limit).
    int count() const { return count_; }

    // name: a new column of wheel `wheel`; disp: a new row in its last column;
    // command: the command text of the last row of the last column. Only an
    // empty text is skipped: a part that is absent (nullopt, an attribute the
    // document left out) still applies, with no text. So a "wheel" without a
    // name adds a nameless column, an "entry" without "disp" adds a blank row,
    // and an "entry" without "command" leaves its row with no command.
    void define(std::optional<std::string_view> name, std::optional<std::string_view> disp,
                std::optional<std::string_view> command, int wheel);

    int columns(int wheel) const;
    int rows(int col, int wheel) const;
    std::string display(int row, int col, int wheel) const;
    std::string command(int row, int col, int wheel) const;

private:
    struct Row {
        std::string display;
        std::string command;
    };
    struct Column {
        std::string name;
        std::vector<Row> rows; // at most kRows
    };
    struct Wheel {
        std::vector<Column> columns; // at most kColumns
        // The last column named was ignored (no room): rows go nowhere
        // until the next column.
        bool ignoringColumn = false;
    };

    const Row* row(int row, int col, int wheel) const;

    int count_ = 0;
    std::vector<Wheel> wheels_ = std::vector<Wheel>(kWheels);
};

} // namespace fieldmon
