#pragma once
// CaptureFile: the file a recording goes to, written only in whole blocks.
// Every append() hands over a run of whole blocks with the offsets where each
// ends; what reaches the disk always ends on a block boundary: a write the
// disk cuts short (full, or failing) is truncated back to the last whole
// block, so the file stays a valid capture up to there. A size cap is kept
// the same way: the blocks that would pass it are not written.
//
// Thread rule: one owner (the storage thread); it does blocking file I/O.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fieldmon::capture {

class CaptureFile {
public:
    enum class Result { Written, CapReached, Failed };

    // Creates (or empties) `path`. Nothing when it cannot be opened; `why`
    // tells the system's reason.
    static std::unique_ptr<CaptureFile> create(const std::string& path, std::uint64_t sizeCap, std::string& why);
    ~CaptureFile();
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    // Writes `blocks`, whose blocks end at the offsets in `ends` (ascending,
    // the last one blocks.size()). Written: all of them. CapReached: the
    // blocks that fit under the cap, no more. Failed: `why` says what the
    // system answered; the file keeps every block before the failing one.
    // After CapReached or Failed nothing more is written.
    Result append(const std::string& blocks, const std::vector<std::size_t>& ends, std::string& why);

    std::uint64_t size() const { return size_; }
    std::uint64_t blocksWritten() const { return blocks_; }

private:
    CaptureFile(int fd, std::uint64_t sizeCap) : fd_(fd), cap_(sizeCap) {}
    bool writeAll(const char* data, std::size_t count, std::size_t& written);

    int fd_ = -1;
    std::uint64_t cap_ = 0;
    std::uint64_t size_ = 0;
    std::uint64_t blocks_ = 0;
    bool closed_ = false;
};

} // namespace fieldmon::capture
