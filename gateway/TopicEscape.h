#pragma once
// Turning names that come from devices (serials, page names, element ids)
// into MQTT topic levels and Home Assistant ids that are always safe.
//
// Topic levels keep A-Z, a-z, 0-9, '_', '-' and '.'; every other byte
// (including '/', '+', '#', '$', '~', control bytes and each byte of a
// non-ASCII character) becomes '~' and two upper-case hex digits, so
// "a/b+" is "a~2Fb~2B" and "Öl" is "~C3~96l". An empty name is "~". The
// result is never a wildcard, never spans levels, never starts with '$'
// and reads back with unescapeTopicLevel. A level whose escaped form
// would pass 128 bytes is cut at 110 and ends in "~~" and 16 hex digits
// of a hash of the whole name: still collision-resistant, no longer
// reversible.
//
// Home Assistant ids (discovery node and component ids) allow only
// A-Z, a-z, 0-9, '_' and '-': there '_' is the escape byte instead
// ("a_b" is "a_5Fb"), with the same cut for long names.
//
// Thread rule: pure functions; any thread.

#include <optional>
#include <string>
#include <string_view>

namespace fieldmon::gateway {

std::string escapeTopicLevel(std::string_view name);
// The name back, or nothing for text that escapeTopicLevel cannot have
// made (a cut long name, a stray '~', bad hex).
std::optional<std::string> unescapeTopicLevel(std::string_view level);
std::string homeAssistantId(std::string_view name);
// An operator's topic prefix ("fieldmon", "site4/fieldmon"): levels of
// printable ASCII without wildcards, no empty level, not starting with '$'.
bool isValidTopicPrefix(std::string_view prefix);

} // namespace fieldmon::gateway
