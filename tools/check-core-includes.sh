#!/usr/bin/env bash
# Checks the folder layering: every #include "..." of a source folder must name
# a file of the same folder or of a folder the table below allows, so that
# dependencies go down the layers and never in a circle. Also: the core
# (platform/ without platform/qt/, variables/, expr/, device/, discovery/,
# capture/, history/)
# includes no Qt header, what sim/, elements/ and pages/ take from uidesc/
# is the element table and the build-context interface (never the reader),
# and gateway/ includes no Qt GUI or Widgets header (Qt Core and Network
# only).
#
# "May include" is not transitive: each folder lists what it includes
# directly (device/Client.h brings expr/ and variables/ into discovery/, but
# discovery/ itself names only device/ and platform/). bench/, fuzz/ and
# tests/ may include anything and are not checked; no other folder may
# include them. Prints every violation and exits 1 if there is any.
#
# The top-level CMakeLists.txt links each folder's library to the libraries
# of the same table, so keep the two in step.
set -euo pipefail
cd "$(dirname "$0")/.."

core="platform variables expr device discovery capture history"
declare -A allowed=(
  [platform]=""
  [platform/qt]="platform"
  [variables]="platform"
  [expr]="variables platform"
  [device]="expr variables platform"
  [discovery]="device platform"
  [capture]="variables platform device"
  [history]="variables platform"
  [widgets]="platform platform/qt"
  [uidesc]="$core"
  [elements]="$core uidesc widgets platform/qt"
  [pages]="$core uidesc elements widgets platform/qt"
  [events]="$core widgets platform/qt"
  [trends]="$core widgets platform/qt"
  [session]="$core uidesc elements pages widgets"
  [app]="$core uidesc elements pages session widgets events trends platform/qt"
  [sim]="$core uidesc"
  [gateway]="$core uidesc platform/qt"
)
# Folders of ours that an include may name; the longest match wins
# (platform/qt before platform).
ours="platform/qt platform variables expr device discovery capture history widgets elements pages session uidesc events trends app sim gateway bench fuzz tests"
# What of uidesc/ the builders' folders and the simulator may take: the
# element table library (Qt-free), never the reader.
element_table="uidesc/ElementTable.h uidesc/BuildContext.h uidesc/BuilderRegistry.h uidesc/ElementBuild.h uidesc/ErrorList.h uidesc/Commands.h"

folder_of() { # path relative to the repository -> our folder, or empty
  local f
  for f in $ours; do
    case "$1" in "$f"/*) echo "$f"; return ;; esac
  done
}

fail=0
report() { echo "$1" >&2; fail=1; }

for dir in "${!allowed[@]}"; do
  [ -d "$dir" ] || continue
  while IFS= read -r file; do
    from=$(folder_of "$file")
    [ "$from" = "$dir" ] || continue # platform/qt files are checked as platform/qt
    while IFS=: read -r line text; do
      inc=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/' <<<"$text")
      # Resolve includes relative to the file first (same-folder or ../ forms).
      target=$inc
      if [ -e "$(dirname "$file")/$inc" ]; then
        target=$(realpath -m --relative-to=. "$(dirname "$file")/$inc")
      fi
      to=$(folder_of "$target")
      [ -n "$to" ] || continue # not ours (a library's header)
      [ "$to" = "$from" ] && continue
      ok=0
      for a in ${allowed[$from]}; do [ "$a" = "$to" ] && ok=1; done
      if [ $ok = 0 ]; then
        report "$file:$line: $from/ may not include $target (allowed: ${allowed[$from]:-nothing of ours})"
      elif [ "$to" = uidesc ] && [[ " sim elements pages " == *" $from "* ]] &&
           [[ " $element_table " != *" $target "* ]]; then
        report "$file:$line: $from/ may take only the element table and the build-context interface from uidesc/ ($element_table), not $target"
      fi
    done < <(grep -nE '^\s*#\s*include\s*"' "$file" || true)
  done < <(find "$dir" -type f \( -name '*.h' -o -name '*.cpp' \))
done

gui=$(grep -rnE '^\s*#\s*include\s*<Q(Widget|Application|Painter|Pixmap|Image|Gui|tWidgets|tGui)' gateway \
      --include='*.h' --include='*.cpp' 2>/dev/null || true)
if [ -n "$gui" ]; then
  report "gateway/ is headless (Qt Core and Network only):"
  report "$gui"
fi

qt=$(grep -rnE '^\s*#\s*include\s*<Q' $core --include='*.h' --include='*.cpp' | grep -v '^platform/qt/' || true)
if [ -n "$qt" ]; then
  report "Qt header included in core code:"
  report "$qt"
fi
exit $fail
