#pragma once
// The diagnostics sink: every diagnostic line of our programs goes through
// diag() or diagWrite(). The text reaches standard output exactly as given
// (no line feed is added, nothing is prefixed), in one piece per call, so
// that lines written by the main and the listen thread never interleave.
// The texts are part of what users and scripts see: keep them as they are.
//
// Two observers can attach to the sink, each by an object that lives as long
// as it observes:
// - DiagnosticLog keeps a bounded copy of the complete lines for the
//   automation "log" command. It needs no second thread and leaves file
//   descriptor 1 alone.
// - DiagnosticCapture takes the text instead of standard output; tests read
//   diagnostics through it.
//
// Thread rule: diag() and diagWrite() on any thread; the sink's one lock
// orders them. A DiagnosticLog or DiagnosticCapture is made and destroyed on
// one thread, in the reverse order of making when several are alive; their
// readers may be called on any thread.

#include "platform/KeptLines.h"

#include <string>
#include <string_view>

namespace fieldmon {

// printf-style; a text of any length is written whole.
void diag(const char* format, ...) __attribute__((format(printf, 1, 2)));
void diagWrite(std::string_view text);

} // namespace fieldmon

namespace fieldmon::platform {

class DiagnosticLog {
public:
    DiagnosticLog();
    ~DiagnosticLog();
    DiagnosticLog(const DiagnosticLog&) = delete;
    DiagnosticLog& operator=(const DiagnosticLog&) = delete;

    using Taken = KeptLines::Taken;
    // The complete lines written since the last call, oldest first, and how
    // many older ones were dropped to keep the bound.
    Taken take();

private:
    friend struct DiagnosticSink;
    KeptLines kept_; // under the sink's lock
    DiagnosticLog* previous_;
};

class DiagnosticCapture {
public:
    DiagnosticCapture();
    ~DiagnosticCapture();
    DiagnosticCapture(const DiagnosticCapture&) = delete;
    DiagnosticCapture& operator=(const DiagnosticCapture&) = delete;

    // Everything written since the capture began or since the last take().
    std::string text() const;
    std::string take();

private:
    friend struct DiagnosticSink;
    std::string text_; // under the sink's lock
    DiagnosticCapture* previous_;
};

} // namespace fieldmon::platform
