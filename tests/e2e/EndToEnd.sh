#!/usr/bin/env bash
# Drives the real program in a real X display as a user would: "Check Temps", uncheck one row,
# "Delete" answered Yes, "Exit". Then checks the disk: exactly the checked files are gone.
# usage: EndToEnd.sh PURGALA_BINARY SCREENSHOT_PNG
set -euo pipefail

binary="$1"
screenshot="$2"

# A real display, whatever the unit tests run on.
export QT_QPA_PLATFORM=xcb

if [ -z "${PURGALA_E2E_INNER:-}" ]; then
    export PURGALA_E2E_INNER=1
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi

work="$(mktemp -d /tmp/purgala-e2e-XXXXXX)"
cleanup() {
    [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
    [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Two folders: one checked for *.tmp, one for every file. The rows come in this order: folder
# "keep", its one .tmp file, folder "all", its files.
mkdir -p "$work/prog" "$work/data/keep" "$work/data/all/sub"
echo one >"$work/data/keep/listed.tmp"
echo txt >"$work/data/keep/notes.txt"
echo obj >"$work/data/all/x.o"
echo log >"$work/data/all/sub/y.log"
cp "$binary" "$work/prog/purgala"
cat >"$work/prog/PurgalaConfig.xml" <<XML
<?xml version="1.0" encoding="utf-8"?><config versionNo="2"><nodes><node Name="File Name" Visible="True" Index="0" DefaultExport="True" Width="172" ReadOnly="True" Align="left"/><node Name="Full Path" Visible="True" Index="1" DefaultExport="True" Width="300" ReadOnly="True" Align="left"/><node Name="File Size" Visible="True" Index="2" DefaultExport="True" Width="84" ReadOnly="True" Align="right"/><node Name="Write Time" Visible="True" Index="3" DefaultExport="True" Width="160" ReadOnly="True" Align="right"/></nodes><folders><folder name="keep" fullpath="$work/data/keep" ext="tmp"/><folder name="all" fullpath="$work/data/all" ext=""/></folders></config>
XML

openbox >/dev/null 2>&1 &
wm=$!
# A window mapped while the window manager is still taking over the display can stay unmapped:
# start the program once the manager has announced itself on the root window.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}" "$work/prog/purgala" &
app=$!

main=$(timeout 60 xdotool search --sync --onlyvisible --name '^Vontra Purgala 2\.5\.3$' | head -1) ||
    fail "the main window did not appear"
xdotool windowfocus --sync "$main"

# Keys are queued in order, so each command has run when the next key is handled.
xdotool key alt+c     # Check Temps
xdotool key Down Down # the first folder row, then its file row
xdotool key space     # uncheck it
sleep 1
import -window root "$screenshot"

xdotool key alt+d # Delete: the question comes
question=$(timeout 30 xdotool search --sync --onlyvisible --name '^Warning$' | head -1) ||
    fail "the delete question did not appear"
xdotool windowfocus --sync "$question"
xdotool key alt+y

for _ in $(seq 100); do
    [ -e "$work/data/all/x.o" ] || [ -e "$work/data/all/sub/y.log" ] || break
    sleep 0.1
done
[ ! -e "$work/data/all/x.o" ] || fail "a checked file was not deleted"
[ ! -e "$work/data/all/sub/y.log" ] || fail "a checked file in a sub-folder was not deleted"
[ -f "$work/data/keep/listed.tmp" ] || fail "the unchecked file was deleted"
[ -f "$work/data/keep/notes.txt" ] || fail "a file that was never listed was deleted"
[ -d "$work/data/all/sub" ] && [ -d "$work/data/all" ] && [ -d "$work/data/keep" ] ||
    fail "a folder was removed"

xdotool windowfocus --sync "$main"
xdotool key alt+e # Exit
for _ in $(seq 100); do
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$app" 2>/dev/null && fail "Exit did not end the program"
wait "$app" || fail "the program ended with a failure"
app=
echo "end-to-end: passed"
