#pragma once
// Widget tags: one process-wide counter that numbers every widget and every
// table cell template the UI description reader makes, in the order it makes
// them. The first tag is 254; the counter is never reset, so tags stay
// unique across devices and across readings of one device. Plain buttons
// are routed to their target pages by these numbers.
//
// Thread rule: main thread only (the reader runs there).

namespace fieldmon::widgettags {

inline constexpr int kFirstTag = 254;

// The next tag; the counter then grows by one.
int next();
// The tag next() will give, without taking it.
int peek();

} // namespace fieldmon::widgettags
