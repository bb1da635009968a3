# Sourced (not run) by tools/netns and the tests that make their own private
# networks. private_net_command WHO sets the array PRIVATE_NET to the command
# that runs a program in a new, empty network namespace:
#
#   as root:      unshare --net --
#   as anyone:    unshare --user --map-root-user --net --
#
# A normal user gets a user namespace of their own, where they are root: they
# may add veth pairs, addresses and routes there, and bind port 80, and none
# of it touches the machine's own network. When neither works, it prints one
# message saying why (naming the sysctl that forbids user namespaces, or the
# missing command) and exits 77, which ctest reads as "skipped"; callers need
# not add to it.
#
# Inside the namespace, `unshare --net` and `nsenter --net` make and enter
# further network namespaces as root would.

private_net_skip() {
    echo "$1: $2." >&2
    exit 77
}

# Why this kernel refuses user namespaces to normal users, as one sentence.
private_net_userns_refusal() {
    local f
    f=/proc/sys/kernel/unprivileged_userns_clone
    if [ -r $f ] && [ "$(cat $f)" = 0 ]; then
        echo "this kernel forbids user namespaces to normal users (sysctl kernel.unprivileged_userns_clone = 0;" \
             "allow them with: sudo sysctl -w kernel.unprivileged_userns_clone=1), so a private network needs root"
        return
    fi
    f=/proc/sys/user/max_user_namespaces
    if [ -r $f ] && [ "$(cat $f)" = 0 ]; then
        echo "this kernel allows no user namespaces (sysctl user.max_user_namespaces = 0;" \
             "allow them with: sudo sysctl -w user.max_user_namespaces=10000), so a private network needs root"
        return
    fi
    f=/proc/sys/kernel/apparmor_restrict_unprivileged_userns
    if [ -r $f ] && [ "$(cat $f)" = 1 ]; then
        echo "AppArmor forbids user namespaces to normal users (sysctl kernel.apparmor_restrict_unprivileged_userns = 1)," \
             "so a private network needs root"
        return
    fi
    echo "a user namespace could not be made (unshare --user --map-root-user --net failed;" \
         "see the sysctls kernel.unprivileged_userns_clone and user.max_user_namespaces), so a private network needs root"
}

private_net_command() {
    local who=$1 tool
    for tool in ip unshare nsenter; do
        if ! command -v $tool >/dev/null 2>&1; then
            case $tool in
                ip) private_net_skip "$who" "the ip command (Debian package iproute2) is missing" ;;
                *) private_net_skip "$who" "the $tool command (Debian package util-linux) is missing" ;;
            esac
        fi
    done
    if [ "$(id -u)" -eq 0 ]; then
        unshare --net true 2>/dev/null ||
            private_net_skip "$who" "cannot make a network namespace here (unshare --net failed, even as root)"
        PRIVATE_NET=(unshare --net --)
        return
    fi
    unshare --user --map-root-user --net true 2>/dev/null ||
        private_net_skip "$who" "$(private_net_userns_refusal)"
    PRIVATE_NET=(unshare --user --map-root-user --net --)
}
