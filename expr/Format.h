#pragma once
// formatValues: the formatter behind the expression function printf. The
// format text comes from a device document, so it is never handed to the C
// library as a format: each conversion is parsed here, checked against the
// kind of the value it takes, and formatted from that value alone.
//
// - Every standard conversion is understood, with flags (- + blank # 0 '),
//   width and precision (digits or *) and length modifiers, which are
//   accepted and ignored since each value carries its own kind.
// - Integer conversions (d i o u x X c) read a value's integer reading, floating
//   ones (f F e E g G a A) its floating reading, text conversions (s @ S) its
//   text; %p prints the integer reading in hexadecimal. So a text given to %d
//   prints its leading number and a number given to %s prints as text: no
//   conversion ever reads memory the value does not own.
// - %n writes nothing (it takes its argument and prints nothing); %% is a
//   percent sign; an unknown or unfinished conversion is copied as written.
// - A conversion without an argument left prints as an empty text or zero.
// - Width and precision are capped at kMaxWidth so one conversion cannot ask
//   for an unbounded amount of memory, and the whole text at kMaxOutput
//   bytes (cut at a UTF-8 character's start), so many conversions cannot
//   either: "%1024d" written 10,800 times used to make an 11 MB label text.
//   Formatting stops at the cap; `cut`, when given, tells whether it did.
//
// Thread rule: a pure function; any thread.

#include "variables/Value.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace fieldmon::expr {

inline constexpr int kMaxWidth = 1024;
inline constexpr std::size_t kMaxOutput = 4096;

std::string formatValues(std::string_view format, std::span<const Value> args, bool* cut = nullptr);

} // namespace fieldmon::expr
