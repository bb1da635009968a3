#include "capture/CaptureFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fieldmon::capture {

std::unique_ptr<CaptureFile> CaptureFile::create(const std::string& path, std::uint64_t sizeCap, std::string& why)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = "cannot create " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<CaptureFile>(new CaptureFile(fd, sizeCap));
}

CaptureFile::~CaptureFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool CaptureFile::writeAll(const char* data, std::size_t count, std::size_t& written)
{
    written = 0;
    while (written < count) {
        const ssize_t n = ::write(fd_, data + written, count - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC; // a write that takes nothing is a full disk
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

CaptureFile::Result CaptureFile::append(const std::string& blocks, const std::vector<std::size_t>& ends,
                                        std::string& why)
{
    if (closed_) {
        why = "the capture file is closed";
        return Result::Failed;
    }
    // Blocks up to the cap; the rest is left out whole.
    std::size_t take = 0;
    std::size_t count = 0;
    for (std::size_t end : ends) {
        if (size_ + end > cap_)
            break;
        take = end;
        ++count;
    }
    const bool capped = count < ends.size();

    std::size_t written = 0;
    if (!writeAll(blocks.data(), take, written)) {
        const int error = errno;
        // Keep the whole blocks that made it; cut the torn one off.
        std::size_t whole = 0;
        std::uint64_t wholeBlocks = 0;
        for (std::size_t end : ends) {
            if (end > written)
                break;
            whole = end;
            ++wholeBlocks;
        }
        if (whole != written && ::ftruncate(fd_, static_cast<off_t>(size_ + whole)) == 0)
            ::lseek(fd_, 0, SEEK_END);
        size_ += whole;
        blocks_ += wholeBlocks;
        closed_ = true;
        why = std::strerror(error);
        return Result::Failed;
    }
    size_ += take;
    blocks_ += count;
    if (capped) {
        closed_ = true;
        return Result::CapReached;
    }
    return Result::Written;
}

} // namespace fieldmon::capture
