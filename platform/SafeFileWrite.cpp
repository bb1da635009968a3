#include "platform/SafeFileWrite.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <vector>

namespace fieldmon::platform {

namespace {

using Outcome = SafeWriteResult::Outcome;

std::string errorText(int error)
{
    return std::strerror(error);
}

SafeWriteResult refused(Outcome outcome, std::string reason, const std::string& path, int error = 0)
{
    return SafeWriteResult{outcome, std::move(reason), path, error};
}

std::string absolute(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    std::vector<char> cwd(4096);
    if (!::getcwd(cwd.data(), cwd.size()))
        return path;
    return std::string(cwd.data()) + "/" + path;
}

// Up to FileKind::kHeadBytes first bytes of a regular file; a link put in
// its place meanwhile is not followed.
std::string head(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string bytes(FileKind::kHeadBytes, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    return bytes;
}

const char* whatItIs(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISLNK(mode))
        return "a symbolic link";
    if (S_ISFIFO(mode))
        return "a pipe";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "not a regular file";
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Moves `from` to the new name `to` unless `to` exists by now.
int moveToNewName(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the no-replace rename: a hard link also fails
    // on a name that exists.
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    ::unlink(from.c_str());
    return 0;
}

} // namespace

FileKind FileKind::startingWith(std::string name, std::string signature)
{
    return FileKind{std::move(name),
                    [signature = std::move(signature)](std::string_view head) { return head.starts_with(signature); }};
}

FileKind FileKind::png()
{
    return startingWith("a PNG picture", std::string("\x89PNG\r\n\x1a\n", 8));
}

SafeWriteResult writeFileSafely(const std::string& requested, std::string_view bytes, const FileKind& kind,
                                bool overwrite)
{
    return writeFileSafely(requested, [bytes](const ByteSink& sink) { return sink(bytes); }, kind, overwrite);
}

SafeWriteResult writeFileSafely(const std::string& requested, const std::function<bool(const ByteSink&)>& produce,
                                const FileKind& kind, bool overwrite)
{
    const std::string path = absolute(requested);
    if (requested.empty())
        return refused(Outcome::Failed, "no path given", path);
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return refused(Outcome::NotRegular, path + " names a folder, not a file", path);

    struct stat existing {};
    bool exists = true;
    if (::lstat(path.c_str(), &existing) != 0) {
        if (errno != ENOENT)
            return refused(Outcome::Failed, "cannot write " + path + ": " + errorText(errno), path, errno);
        exists = false;
    }
    if (exists) {
        if (!S_ISREG(existing.st_mode))
            return refused(Outcome::NotRegular,
                           path + " is " + whatItIs(existing.st_mode) + ", not a file that can be replaced", path);
        if (!overwrite && !(kind.recognises && kind.recognises(head(path))))
            return refused(Outcome::OtherKind, path + " exists and is not " + kind.name + "; it was left as it was",
                           path);
    }

    // The temporary file lies beside the target, so the rename stays on one
    // file system and is atomic.
    std::string temporary = folder + (folder == "/" ? "." : "/.") + name + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return refused(Outcome::Failed, "cannot write in " + folder + ": " + errorText(errno), path, errno);
    int error = 0;
    const bool produced = produce([&](std::string_view piece) {
        if (error == 0 && !writeAll(fd, piece))
            error = errno ? errno : ENOSPC;
        return error == 0;
    });
    if (error == 0 && !produced)
        error = EIO;
    if (error == 0 && (::fsync(fd) != 0 || ::fchmod(fd, 0644) != 0))
        error = errno ? errno : EIO;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0)
        error = exists ? (::rename(temporary.c_str(), path.c_str()) == 0 ? 0 : errno)
                       : moveToNewName(temporary, path);
    if (error != 0) {
        ::unlink(temporary.c_str());
        if (error == EEXIST)
            return refused(Outcome::OtherKind, path + " appeared while it was being written; it was left as it was",
                           path);
        return refused(Outcome::Failed, "cannot write " + path + ": " + errorText(error), path, error);
    }
    return SafeWriteResult{Outcome::Written, {}, path, 0};
}

} // namespace fieldmon::platform
