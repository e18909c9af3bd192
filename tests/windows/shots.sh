#!/usr/bin/env bash
# Screenshots of the Win32 dialogs under wine: `bsplift.exe` without arguments on host 1 of the
# namespace LAN that tests/windows/lan_run.sh set up (a simulated controller on host 2), inside a
# wine desktop window so that the dialogs get captions. Driven by clicks and keys from xdotool at
# the places the backend's trace (BSPLIFT_UI_TRACE) names: the controller's line, Start, Yes in the
# warning box. Saves main-dialog.png, warning.png, upgrade-dialog.png and upgrade-completed.png in
# BUILD_DIR/shots/ (DISPLAY must name a running X server).
#
#   tests/windows/shots.sh BUILD_DIR WORK_DIR LAN_PREFIX
set -euo pipefail
build=$1
work=$2
lan=$3
shots=$build/shots
trace=$work/trace.txt
mkdir -p "$shots"
rm -f "$trace"

main=136
upgrade=137
devices=1001
start=1
log=1009

fail() {
  echo "windows shots: FAILED: $*" >&2
  echo "trace:" >&2
  cat "$trace" >&2 || true
  exit 1
}
on_pc() { WINEPREFIX=$work/wine-1 ip netns exec "$lan-1" "$@"; }
# The trace is a Windows program's text file: its lines end in CR LF.
# Waits up to 60 s for a trace line matching an awk pattern; prints the last one.
wait_for() {
  local pattern=$1 line=""
  for _ in $(seq 600); do
    line=$({ tr -d '\r' <"$trace" 2>/dev/null || true; } | awk "$pattern" | tail -1)
    [ -n "$line" ] && { echo "$line"; return 0; }
    sleep 0.1
  done
  fail "no trace line for: $pattern"
}
# The centre of a control, or with a row index the middle of that line of a list box.
point() {  # DIALOG ID [ROW]
  awk -v d="$1" -v c="$2" -v r="${3:--1}" '
    $1 == "control" && $2 == d && $4 == c { x = $5; y = $6; w = $7; h = $8 }
    $1 == "rows" && $2 == d && $3 == c { row = $4 }
    END { if (r < 0) print int(x + w / 2), int(y + h / 2); else print x + 20, int(y + r * row + row / 2) }' \
    <(tr -d '\r' <"$trace")
}
click() { DISPLAY=$DISPLAY xdotool mousemove "$1" "$2" click 1; }
# The wine desktop's 1024x768 in the display's corner.
shot() {
  sleep 0.5
  import -display "$DISPLAY" -window root -crop 1024x768+0+0 +repage "$shots/$1"
  echo "windows shots: $shots/$1"
}

(cd "$work/pc" && on_pc env BSPLIFT_UI_TRACE="$trace" wine explorer /desktop=bsplift,1024x768 \
  "$(realpath "$build")/bsplift.exe" >"$work/windows.out" 2>&1) &
pid=$!

wait_for "\$1 == \"insert\" && \$2 == $main && \$3 == $devices" >/dev/null
# shellcheck disable=SC2046
click $(point $main $devices 0)
wait_for "\$1 == \"select\" && \$2 == $main && \$3 == $devices && \$4 == 0" >/dev/null
shot main-dialog.png

# shellcheck disable=SC2046
click $(point $main $start)
wait_for '$1 == "box"' >/dev/null
shot warning.png
DISPLAY=$DISPLAY xdotool key Return
wait_for "\$1 == \"open\" && \$2 == $upgrade" >/dev/null
wait_for "\$1 == \"insert\" && \$2 == $upgrade && \$3 == $log && /Transfer File: .*rootfs.img/" >/dev/null
shot upgrade-dialog.png
wait_for "\$1 == \"insert\" && \$2 == $upgrade && \$3 == $log && /BSP Upgrade completed/" >/dev/null
shot upgrade-completed.png

# OK closes the upgrade dialog, Cancel the main dialog and with it the program.
DISPLAY=$DISPLAY xdotool key Return
wait_for "\$1 == \"close\" && \$2 == $upgrade" >/dev/null
# shellcheck disable=SC2046
click $(point $main 2)
wait_for "\$1 == \"close\" && \$2 == $main" >/dev/null
# The wine desktop window may outlive the program; the wine server's end takes it down.
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
