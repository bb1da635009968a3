#pragma once
// ErrorList: the problems of one reading of a document, as the user sees
// them in the "XML parse error" alert: each entry is its message and
// ":line %d\n", the entries one after another without separator. The list
// holds the first kMaxListedErrors entries, each message cut to
// kMaxErrorMessage bytes; later ones are only counted: 20,000 bad elements
// once made a 1 MB alert that took seconds to lay out.
//
// Thread rule: main thread only (the reader's).

#include <cstddef>
#include <string>
#include <string_view>

namespace fieldmon::uidesc {

class ErrorList {
public:
    static constexpr int kMaxListedErrors = 20;
    static constexpr std::size_t kMaxErrorMessage = 200;

    void add(std::string_view message, int line);
    void clear();
    bool empty() const { return text_.empty(); }
    // The listed entries.
    const std::string& text() const { return text_; }
    int unlisted() const { return unlisted_; }
    // What the alert says: the list, and how many more there were.
    std::string alertMessage() const;

private:
    std::string text_;
    int listed_ = 0;
    int unlisted_ = 0;
};

} // namespace fieldmon::uidesc
