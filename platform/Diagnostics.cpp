#include "platform/Diagnostics.h"

#include "platform/Check.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace fieldmon::platform {

struct DiagnosticSink {
    std::mutex mutex;
    DiagnosticLog* log = nullptr;
    DiagnosticCapture* capture = nullptr;

    // A function-local static: diagnostics may be written while other
    // statics are made or destroyed.
    static DiagnosticSink& instance()
    {
        static DiagnosticSink sink;
        return sink;
    }

    void write(std::string_view text)
    {
        std::lock_guard lock(mutex);
        if (log)
            log->kept_.add(text.data(), text.size());
        if (capture) {
            capture->text_.append(text);
            return;
        }
        // Through stdio, flushed at once: anything else the program put on
        // standard output before keeps its place, and a reader of a pipe
        // sees the line as soon as it is written.
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
};

DiagnosticLog::DiagnosticLog()
{
    DiagnosticSink& sink = DiagnosticSink::instance();
    std::lock_guard lock(sink.mutex);
    previous_ = sink.log;
    sink.log = this;
}

DiagnosticLog::~DiagnosticLog()
{
    DiagnosticSink& sink = DiagnosticSink::instance();
    std::lock_guard lock(sink.mutex);
    FM_CHECK(sink.log == this, "diagnostic logs end in the reverse order of their start");
    sink.log = previous_;
}

DiagnosticLog::Taken DiagnosticLog::take()
{
    std::lock_guard lock(DiagnosticSink::instance().mutex);
    return kept_.take();
}

DiagnosticCapture::DiagnosticCapture()
{
    DiagnosticSink& sink = DiagnosticSink::instance();
    std::lock_guard lock(sink.mutex);
    previous_ = sink.capture;
    sink.capture = this;
}

DiagnosticCapture::~DiagnosticCapture()
{
    DiagnosticSink& sink = DiagnosticSink::instance();
    std::lock_guard lock(sink.mutex);
    FM_CHECK(sink.capture == this, "diagnostic captures end in the reverse order of their start");
    sink.capture = previous_;
}

std::string DiagnosticCapture::text() const
{
    std::lock_guard lock(DiagnosticSink::instance().mutex);
    return text_;
}

std::string DiagnosticCapture::take()
{
    std::lock_guard lock(DiagnosticSink::instance().mutex);
    std::string taken;
    taken.swap(text_);
    return taken;
}

} // namespace fieldmon::platform

namespace fieldmon {

void diagWrite(std::string_view text)
{
    if (!text.empty())
        platform::DiagnosticSink::instance().write(text);
}

void diag(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    char small[512];
    const int length = std::vsnprintf(small, sizeof small, format, args);
    if (length >= 0 && static_cast<std::size_t>(length) < sizeof small) {
        diagWrite(std::string_view(small, static_cast<std::size_t>(length)));
    } else if (length >= 0) {
        std::string text(static_cast<std::size_t>(length), '\0');
        std::vsnprintf(text.data(), text.size() + 1, format, again);
        diagWrite(text);
    }
    va_end(again);
    va_end(args);
}

} // namespace fieldmon
