#pragma once
// The page's fixed logical size, in points: every position of a device's
// document is a pair of fractions of it (x × 320, y × 416), also when the
// bar is hidden. Widgets draw in these coordinates and pages scale them.
//
// Thread rule: constant data; any thread.

namespace fieldmon {

inline constexpr double kPageWidth = 320.0;
inline constexpr double kPageHeight = 416.0;

} // namespace fieldmon
