#pragma once
// Writing a file that a user or a script named, without losing what was
// there by a wrong path. Commands that write files (a screenshot, an export
// of readings, a capture) take a path from outside; a path mistyped through
// "..", or pointing at a folder, a device or a link, must never replace a
// file of some other kind. So a write:
//
//   - goes to a temporary file in the target's folder first, and is renamed
//     into place only once it is complete (a reader never sees half a file,
//     and a failed write leaves the old file as it was);
//   - replaces an existing file only when it is a regular file that the
//     caller's kind recognises (a PNG for a screenshot), or when the caller
//     asks to overwrite one that is regular but of another kind;
//   - never replaces anything that is not a regular file (a folder, a
//     symbolic link, a device, a pipe, a socket), overwrite or not;
//   - says why it refused or failed, in a sentence for the user.
//
// A new name is moved into place only if it is still new at that moment, so
// a file that appears between the check and the rename is not replaced
// either.
//
// Thread rule: any thread; two writers of one path race as any two do.

#include <functional>
#include <string>
#include <string_view>

namespace fieldmon::platform {

// What a write may replace: files whose first bytes `recognises` accepts.
struct FileKind {
    // For the reason texts, e.g. "a PNG picture".
    std::string name;
    // Given up to kHeadBytes first bytes of an existing regular file.
    std::function<bool(std::string_view head)> recognises;

    static constexpr std::size_t kHeadBytes = 512;
    // Files that start with `signature`.
    static FileKind startingWith(std::string name, std::string signature);
    // PNG pictures (their 8-byte signature).
    static FileKind png();
};

struct SafeWriteResult {
    enum class Outcome {
        Written,
        NotRegular, // the path names a folder, a link, a device, …: never replaced
        OtherKind,  // a regular file of another kind: replaced only on request
        Failed,     // the folder is missing or not writable, the disk is full, …
    };
    Outcome outcome = Outcome::Failed;
    // Why not, when not written.
    std::string reason;
    // The path as written to, made absolute.
    std::string path;
    // The system's error number behind a failure, 0 when there is none (a
    // refusal by kind), for callers that word the reason their own way.
    int error = 0;

    bool ok() const { return outcome == Outcome::Written; }
};

// Writes `bytes` to `path` as described above. The file gets mode 0644.
// `overwrite` lets a regular file of another kind be replaced.
SafeWriteResult writeFileSafely(const std::string& path, std::string_view bytes, const FileKind& kind,
                                bool overwrite = false);

// The same for a file made piece by piece: `produce` hands each piece to the
// sink, which returns false once the disk refused one (produce should then
// stop); produce returns false when it failed itself, and nothing replaces
// the target then either.
using ByteSink = std::function<bool(std::string_view piece)>;
SafeWriteResult writeFileSafely(const std::string& path, const std::function<bool(const ByteSink&)>& produce,
                                const FileKind& kind, bool overwrite = false);

} // namespace fieldmon::platform
