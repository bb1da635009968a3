#!/usr/bin/env bash
# End to end: the app, offscreen, against the simulated example devices in a
# private network. Its walk through the screens must find devices and leave
# a picture of every screen. Exits 77 (skipped) where no namespace can be made.
#
#   app-end-to-end.sh FIELDMON FIELDSIM SOURCE_DIR
set -uo pipefail
APP=$1
export FIELDSIM=$2
SRC=$3
out=$(mktemp -d /tmp/fieldmon-e2e.XXXXXX)
trap 'rm -rf "$out"' EXIT

shopt -s nullglob
devices=("$SRC"/examples/*/*.json)
[ ${#devices[@]} -gt 0 ] || { echo "no example devices"; exit 77; }

QT_QPA_PLATFORM=offscreen FIELDMON_SCREENSHOTS="$out" FIELDMON_QUIT_AFTER=60 \
  "$SRC/tools/netns" "${devices[@]}" -- "$APP" > "$out/app.log" 2>&1
status=$?
[ $status -eq 77 ] && { cat "$out/app.log"; exit 77; }
if [ $status -ne 0 ]; then
  echo "app ended with status $status"; tail -40 "$out/app.log"; exit 1
fi
for picture in 01-devices 02-device 03-event-log 04-device-connected 05-devices-again; do
  [ -s "$out/$picture.png" ] || { echo "missing $picture.png"; tail -40 "$out/app.log"; exit 1; }
done
# The detail screen asked the device for its description and got it.
grep -q "^Got file '" "$out/app.log" || { echo "Connect fetched no ui.xml"; tail -40 "$out/app.log"; exit 1; }
echo "end to end: devices listed, every screen pictured"
