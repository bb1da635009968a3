#!/usr/bin/env bash
# Core (platform/, discovery/, device/, variables/, expr/) includes no Qt
# header; only platform/qt/ and the ui folders may.
set -euo pipefail
cd "$(dirname "$0")/.."
bad=$(grep -rnE '^\s*#\s*include\s*<Q' platform discovery device variables expr --include='*.h' --include='*.cpp' \
      | grep -v '^platform/qt/' || true)
if [ -n "$bad" ]; then
  echo "Qt header included in core code:" >&2
  echo "$bad" >&2
  exit 1
fi
