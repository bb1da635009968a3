#pragma once
// CommandPattern: matches a command text such as "set speed 120" against a
// device author's pattern such as "set speed %d". In a pattern, %d takes an
// integer, %f a number, %s a word (no blanks), %% stands for a percent sign,
// a blank takes one or more blanks, and every other character must appear
// as written. The whole command must match; the arguments come back as
// texts, $1 being the first, for substitute().
//
// Thread rule: pure functions.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon::sim {

std::optional<std::vector<std::string>> matchCommand(std::string_view pattern, std::string_view command);

// Replaces $1..$9 in `text` by the arguments (an argument that is missing
// becomes empty) and $$ by a dollar sign.
std::string substitute(std::string_view text, const std::vector<std::string>& args);

// The command part of a command datagram: without the leading "c" and the
// trailing line end and blanks.
std::string_view commandText(std::string_view datagram);

} // namespace fieldmon::sim
