#!/usr/bin/env bash
# bsplift.exe under wine on a private namespace LAN (scripts/lan): the PC on host 1, a simulated
# controller (the simulator's Windows build, under wine too) on host 2. `list` must print the
# controller's exact line, and `upgrade MAC --yes` must end in "BSP Upgrade completed" with exit 0
# and the payload byte-equal on the controller. With SHOTS=1 the main dialog and the upgrade
# dialog are also run and photographed (tests/windows/shots.sh). Needs root.
#
#   tests/windows/lan_run.sh BUILD_DIR WORK_DIR SHOTS
set -euo pipefail
build=$(realpath "$1")
work=$2
shots=${3:-0}
cd "$(dirname "$0")/../.."

lan=bswin$$
pids=()
prefixes=()
cleanup() {
  trap - EXIT INT TERM
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  for entry in "${prefixes[@]}"; do
    WINEPREFIX=${entry#*=} ip netns exec "${entry%%=*}" wineserver -k 2>/dev/null || true
  done
  scripts/lan down "$lan" || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "windows lan: FAILED: $*" >&2
  exit 1
}

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
scripts/lan up "$lan" 2
# Wine's sockets and adapters are those of the namespace its server runs in, so each host has a
# prefix of its own, and its server is started inside the host's namespace.
on_host() {  # HOST command...
  local host=$1
  shift
  WINEPREFIX=$work/wine-$host ip netns exec "$lan-$host" "$@"
}
for host in 1 2; do
  mkdir -p "$work/wine-$host"
  on_host "$host" wineserver -p 120
  on_host "$host" wineboot -i >/dev/null 2>&1
  prefixes+=("$lan-$host=$work/wine-$host")
done

controller=$work/controller
mkdir -p "$controller"
(cd "$work" && on_host 2 wine "$build/bsplift-controller-sim.exe" --address 10.231.0.12 --port 7000 \
  --root "Z:$controller" --mac 0050C2D00002 --type 9 --subtype 0 \
  --name GARAGE --reboot-seconds 3 >"$work/controller.log" 2>&1) &
pids+=($!)
for _ in $(seq 100); do grep -q listening "$work/controller.log" 2>/dev/null && break; sleep 0.1; done
grep -q listening "$work/controller.log" || fail "the simulated controller did not start: $(cat "$work/controller.log")"

payload=$work/pc
mkdir -p "$payload/BSP/UPGRADE"
head -c 2500000 /dev/urandom >"$payload/BSP/UPGRADE/rootfs.img"
head -c 300000 /dev/urandom >"$payload/BSP/UPGRADE/kernel.bin"
echo "BSP 7.1 windows" >"$payload/BSP/UPGRADE/version.txt"

# The console's line ends are CR LF on Windows; the lines themselves are the Linux build's.
status=0
(cd "$payload" && on_host 1 wine "$build/bsplift.exe" list >"$work/list.out" 2>"$work/list.err") || status=$?
[ "$status" -eq 0 ] || fail "list exited $status: $(cat "$work/list.err")"
expected=$(printf '00:50:C2:D0:00:02\t    10.231.0.12\tR5')
[ "$(tr -d '\r' <"$work/list.out")" = "$expected" ] || fail "list printed: $(cat -A "$work/list.out")"
echo "windows lan: wine bsplift.exe list printed the controller's line"

status=0
(cd "$payload" && on_host 1 wine "$build/bsplift.exe" upgrade 00:50:C2:D0:00:02 --yes >"$work/upgrade.out" 2>"$work/upgrade.err") ||
  status=$?
[ "$status" -eq 0 ] || fail "upgrade exited $status: $(tr -d '\r' <"$work/upgrade.out" | tail -5) $(cat "$work/upgrade.err")"
[ "$(tr -d '\r' <"$work/upgrade.out" | tail -1)" = "BSP Upgrade completed" ] || fail "upgrade ended: $(tail -3 "$work/upgrade.out")"
for f in rootfs.img kernel.bin version.txt; do
  cmp -s "$payload/BSP/UPGRADE/$f" "$controller/mmcblk0p4/UPGRADE/$f" || fail "$f differs on the controller"
done
echo "windows lan: wine bsplift.exe upgrade completed; every payload file is byte-equal on the controller"

if [ "$shots" = 1 ]; then
  tests/windows/shots.sh "$build" "$work" "$lan"
fi
