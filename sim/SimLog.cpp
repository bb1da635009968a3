#include "sim/SimLog.h"

#include <chrono>
#include <ctime>

namespace fieldmon::sim {

SimLog::~SimLog()
{
    if (file_)
        std::fclose(file_);
}

bool SimLog::open(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (!f)
        return false;
    std::lock_guard lock(mutex_);
    if (file_)
        std::fclose(file_);
    file_ = f;
    return true;
}

void SimLog::setCapture(bool on)
{
    std::lock_guard lock(mutex_);
    capture_ = on;
}

std::string SimLog::captured() const
{
    std::lock_guard lock(mutex_);
    return captured_;
}

void SimLog::line(std::string_view who, std::string_view text)
{
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t secs = system_clock::to_time_t(now);
    int millis = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&secs, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);

    std::string out = stamp;
    char ms[8];
    std::snprintf(ms, sizeof ms, ".%03d", millis);
    out += ms;
    out += " [";
    out += who;
    out += "] ";
    out += text;
    out += '\n';

    std::lock_guard lock(mutex_);
    std::FILE* f = file_ ? file_ : stdout;
    std::fwrite(out.data(), 1, out.size(), f);
    std::fflush(f);
    if (capture_ && captured_.size() < (8u << 20))
        captured_ += out;
}

std::string SimLog::printable(std::string_view bytes, std::size_t limit)
{
    std::string out;
    std::size_t shown = bytes.size() < limit ? bytes.size() : limit;
    for (std::size_t i = 0; i < shown; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else if (c >= 32 && c < 127)
            out += static_cast<char>(c);
        else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    if (shown < bytes.size())
        out += "...(" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

} // namespace fieldmon::sim
