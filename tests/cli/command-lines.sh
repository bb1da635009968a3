#!/usr/bin/env bash
# The programs' command lines as a user meets them, with no display at all:
# --help and --version print to stdout and exit 0, a wrong command line gets
# the usage on stderr and exit 2, and Qt's -platform still reaches Qt. Then
# the documents: every option and environment variable that --help names is
# in the program's manual page, and fieldmon's are in the README too.
# Usage: command-lines.sh FIELDMON FIELDSIM SOURCE_DIR VERSION [GATEWAY]
set -uo pipefail
FIELDMON=$1 FIELDSIM=$2 SOURCE=$3 VERSION=$4 GATEWAY=${5:-}
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM FIELDMON_AUTOMATION FIELDMON_QUIT_AFTER

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

# expect STATUS STDOUT-PATTERN STDERR-PATTERN COMMAND...   (patterns: grep -E;
# "" means the stream must be empty)
expect() {
    local status=$1 outPattern=$2 errPattern=$3
    shift 3
    "$@" >"$out" 2>"$err"
    local got=$?
    [ "$got" -eq "$status" ] || fail "$* exited $got, not $status; stderr: $(head -c 300 "$err")"
    for stream in out err; do
        local pattern file
        if [ $stream = out ]; then pattern=$outPattern file=$out; else pattern=$errPattern file=$err; fi
        if [ -z "$pattern" ]; then
            [ ! -s "$file" ] || fail "$* wrote to std$stream: $(head -c 300 "$file")"
        elif ! grep -qE -- "$pattern" "$file"; then
            fail "$* : std$stream lacks /$pattern/: $(head -c 300 "$file")"
        fi
    done
}

expect 0 '^Usage: fieldmon \[OPTIONS\]' "" "$FIELDMON" --help
expect 0 '^Usage: fieldmon' "" "$FIELDMON" -h
expect 0 "^fieldmon $VERSION\$" "" "$FIELDMON" --version
expect 2 "" "Unknown option 'bogus'.*|^Usage: fieldmon" "$FIELDMON" --bogus
expect 2 "" "^Usage: fieldmon" "$FIELDMON" --bogus
expect 2 "" "unexpected argument 'stray'" "$FIELDMON" stray
expect 2 "" "needs a socket path" "$FIELDMON" --automation ""
expect 2 "" "Missing value after '--automation'" "$FIELDMON" --automation
expect 2 "" "FIELDMON_QUIT_AFTER must be a number" env FIELDMON_QUIT_AFTER=soon "$FIELDMON"
# Qt reads "-platform NAME" only; "-platform=NAME" once got past the parser
# and Qt aborted on the display it then tried.
expect 2 "" "write -platform NAME\[:OPTIONS\], with a space" "$FIELDMON" -platform=offscreen

expect 0 "^fieldsim: simulated field devices" "" "$FIELDSIM" --help
expect 0 "^fieldsim $VERSION\$" "" "$FIELDSIM" --version
expect 2 "" "Unknown option 'bogus'" "$FIELDSIM" --bogus
expect 2 "" "^usage: fieldsim" "$FIELDSIM"
expect 2 "" "need a port number" "$FIELDSIM" --port 70000 "$SOURCE/examples/pump/pump.json"

if [ -n "$GATEWAY" ]; then
    expect 0 '^Usage: .*fieldmon-gateway \[options\]' "" "$GATEWAY" --help
    expect 0 "^fieldmon-gateway $VERSION\$" "" "$GATEWAY" --version
    expect 2 "" "Unknown option 'bogus'" "$GATEWAY" --bogus
fi

# Qt's -platform passes through the parser to Qt: without a display and
# without it, Qt would stop with "could not connect to display". The app
# broadcasts when it starts, so it runs in an empty private network.
(
    # shellcheck source=tools/private-net.sh
    . "$SOURCE/tools/private-net.sh"
    private_net_command command-lines.sh
    FIELDMON_QUIT_AFTER=0.5 timeout 30 "${PRIVATE_NET[@]}" "$FIELDMON" -platform offscreen >"$out" 2>&1
) 
case $? in
    0) ;;
    77) echo "note: no private network here; -platform offscreen not tried" ;;
    *) fail "fieldmon -platform offscreen: $(head -c 300 "$out")" ;;
esac

# Documents: what --help names, the manual page names (as troff writes a
# dash, "\-"), and the README names fieldmon's.
documented() { # NAME FILE
    local name=$1 file=$2 troff
    troff=$(sed 's/-/\\\\-/g' <<<"$name")
    grep -qF -- "$name" "$file" || grep -qE -- "$troff" "$file"
}
for program in fieldmon fieldsim ${GATEWAY:+fieldmon-gateway}; do
    binary=$FIELDMON
    [ $program = fieldsim ] && binary=$FIELDSIM
    [ $program = fieldmon-gateway ] && binary=$GATEWAY
    names=$("$binary" --help | grep -oE -- '(^|[[:space:]\[|])--?[a-z][a-z-]+|\b(FIELDMON|QT)_[A-Z_]+' |
            sed -E 's/^[[:space:]\[|]//' | sort -u)
    [ -n "$names" ] || fail "$program --help names no option"
    for name in $names; do
        documented "$name" "$SOURCE/packaging/$program.1.in" || fail "$program.1.in does not mention $name"
        if [ $program = fieldmon ]; then
            documented "$name" "$SOURCE/README.md" || fail "README.md does not mention $name"
        fi
    done
done

[ $failures -eq 0 ] && echo "all command lines behaved"
[ $failures -eq 0 ]
