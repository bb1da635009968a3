#pragma once
// Moves the test process into a network namespace of its own, which has
// nothing but its loopback interface, brought up. Servers there may bind any
// port on 127.0.0.1, port 80 included, without colliding with the machine or
// with other test runs, and nothing they do reaches the machine's network.
//
// As root only the network namespace is new. A normal user also gets a user
// namespace, where the process is root (mapped to the user outside), which is
// what lets it bind port 80 there; the kernel refuses that to a process with
// more than one thread, so call this first thing in main().
//
// Returns an empty text on success, otherwise one sentence saying why no
// namespace could be made (for a skip message).

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace fieldmon::test {

namespace detail {

inline bool writeProcFile(const char* path, const std::string& text)
{
    std::ofstream f(path);
    f << text;
    f.flush();
    return static_cast<bool>(f);
}

inline std::string readProcFile(const char* path)
{
    std::ifstream f(path);
    std::string s;
    std::getline(f, s);
    return s;
}

// Why the kernel refused a user namespace, naming the setting that does it.
inline std::string userNamespaceRefusal(int error)
{
    if (readProcFile("/proc/sys/kernel/unprivileged_userns_clone") == "0")
        return "this kernel forbids user namespaces to normal users (sysctl kernel.unprivileged_userns_clone = 0), "
               "so a private network needs root";
    if (readProcFile("/proc/sys/user/max_user_namespaces") == "0")
        return "this kernel allows no user namespaces (sysctl user.max_user_namespaces = 0), "
               "so a private network needs root";
    if (readProcFile("/proc/sys/kernel/apparmor_restrict_unprivileged_userns") == "1")
        return "AppArmor forbids user namespaces to normal users "
               "(sysctl kernel.apparmor_restrict_unprivileged_userns = 1), so a private network needs root";
    return std::string("no user namespace could be made (") + std::strerror(error) +
           "; see the sysctls kernel.unprivileged_userns_clone and user.max_user_namespaces), "
           "so a private network needs root";
}

} // namespace detail

inline std::string enterPrivateNetwork()
{
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (uid == 0) {
        if (::unshare(CLONE_NEWNET) != 0)
            return std::string("cannot make a network namespace, even as root (") + std::strerror(errno) + ")";
    } else {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            return detail::userNamespaceRefusal(errno);
        // Root inside maps to us outside. setgroups must be denied before an
        // unprivileged process may write its gid map.
        if (!detail::writeProcFile("/proc/self/setgroups", "deny") ||
            !detail::writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
            !detail::writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n"))
            return "the user namespace's identity maps could not be written";
    }
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return std::string("no socket in the new network namespace (") + std::strerror(errno) + ")";
    ifreq lo{};
    std::snprintf(lo.ifr_name, sizeof lo.ifr_name, "lo");
    bool up = ::ioctl(s, SIOCGIFFLAGS, &lo) == 0;
    lo.ifr_flags = static_cast<short>(lo.ifr_flags | IFF_UP);
    up = up && ::ioctl(s, SIOCSIFFLAGS, &lo) == 0;
    const int error = errno;
    ::close(s);
    if (!up)
        return std::string("the loopback interface of the new network namespace stays down (") +
               std::strerror(error) + ")";
    return {};
}

// What enterPrivateNetwork() answered when main() called it: the tests that
// need the private network skip with it when it is not empty.
inline std::string& privateNetworkProblem()
{
    static std::string problem;
    return problem;
}

} // namespace fieldmon::test
