#!/usr/bin/env bash
# The program's arguments, answered without a display: no DISPLAY, no WAYLAND_DISPLAY and the X
# platform plugin asked for, so a program that started the toolkit would abort instead.
# usage: CommandLine.sh PROGRAM help|version|unknown|headless|signal VERSION
#        CommandLine.sh BUILD_DIR units
set -uo pipefail

program="$1"
out="$(mktemp)" err="$(mktemp)" work="$(mktemp -d)"
trap 'rm -rf "$out" "$err" "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    echo "stdout: $(cat "$out")" >&2
    echo "stderr: $(cat "$err")" >&2
    exit 1
}

run() {
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" "$@" >"$out" 2>"$err"
    status=$?
}

case "$2" in
help)
    run --help
    [ "$status" -eq 0 ] || fail "--help ended with $status"
    head -n1 "$out" | grep -qx 'Usage: purgala \[--help | --version\]' || fail "no usage line"
    # Every option the manual page and the completion know.
    for option in --list --null --csv --clean --dry-run --config --help --version; do
        grep -q -- "$option" "$out" || fail "the usage does not name $option"
    done
    [ ! -s "$err" ] || fail "--help wrote to standard error"
    ;;
version)
    run --version
    [ "$status" -eq 0 ] || fail "--version ended with $status"
    [ "$(cat "$out")" = "Purgala $3" ] || fail "wrong version text"
    [ ! -s "$err" ] || fail "--version wrote to standard error"
    ;;
unknown)
    # Qt's own options and misspellings alike; one known option does not excuse another.
    for args in "--bogus" "-platform offscreen" "file.xml" "--version --verbose" "-"; do
        # shellcheck disable=SC2086  # the words are separate arguments
        run $args
        [ "$status" -eq 2 ] || fail "'$args' ended with $status"
        [ ! -s "$out" ] || fail "'$args' wrote to standard output"
        [ "$(wc -l <"$err")" -eq 1 ] || fail "'$args' did not write one line"
        grep -q "unknown argument" "$err" || fail "'$args' did not say what is wrong"
    done
    ;;
headless)
    # No variable at all but a home and a path: no display, no session bus, no locale.
    mkdir -p "$work/home/.config/purgala" "$work/plain" "$work/aged"
    printf 'x' >"$work/plain/a.tmp"
    printf 'y' >"$work/aged/b.tmp"
    document='<?xml version="1.0" encoding="utf-8"?><config versionNo="2"><nodes/><folders>'
    document+="<folder name=\"p\" fullpath=\"$work/plain\" ext=\"tmp\"/>"
    document+="<folder name=\"a\" fullpath=\"$work/aged\" ext=\"tmp\" age=\"3\"/>"
    document+='</folders></config>'
    printf '%s' "$document" >"$work/doc.xml"
    cp "$work/doc.xml" "$work/before.xml"
    env -i HOME="$work/home" PATH=/usr/bin:/bin "$program" --config "$work/doc.xml" --list \
        >"$out" 2>"$err" || fail "--list ended with $?"
    [ "$(cat "$out")" = "$work/plain/a.tmp" ] || fail "--list printed the wrong files"
    grep -qx '2 files (2.00 B) listed, 1 (1.00 B) checked, 1 left unchecked as recent, in use or another user.s' "$err" ||
        fail "--list summed up wrongly"
    env -i HOME="$work/home" PATH=/usr/bin:/bin "$program" --config "$work/doc.xml" --clean \
        >"$out" 2>"$err" || fail "--clean ended with $?"
    grep -qx "$work/plain has no age: it is cleaned only from the window" "$err" ||
        fail "--clean did not name the folder it skipped"
    [ -f "$work/plain/a.tmp" ] && [ -f "$work/aged/b.tmp" ] || fail "--clean removed a kept file"
    cmp -s "$work/doc.xml" "$work/before.xml" || fail "the document changed"
    # Where the window looks: a document beside the user's own copy of the program, never
    # written when missing.
    mkdir "$work/bin"
    cp "$program" "$work/bin/purgala"
    env -i HOME="$work/home" PATH=/usr/bin:/bin "$work/bin/purgala" --list >"$out" 2>"$err"
    [ $? -eq 2 ] || fail "a missing document did not end with 2"
    [ ! -e "$work/bin/PurgalaConfig.xml" ] || fail "--list wrote a default document"
    cp "$work/doc.xml" "$work/bin/PurgalaConfig.xml"
    env -i HOME="$work/home" PATH=/usr/bin:/bin "$work/bin/purgala" -l >"$out" 2>"$err"
    [ "$(cat "$out")" = "$work/plain/a.tmp" ] || fail "the document beside the program was not read"
    ;;
signal)
    # SIGTERM while the output waits for its reader: the walk ends, and the summary says where.
    mkdir -p "$work/many"
    long="$(printf 'n%.0s' {1..150})"
    for i in $(seq 2000); do : >"$work/many/$long$i.tmp"; done
    printf '<config versionNo="2"><nodes/><folders><folder name="m" fullpath="%s" ext="tmp"/></folders></config>' \
        "$work/many" >"$work/doc.xml"
    mkfifo "$work/pipe"
    "$program" --config "$work/doc.xml" --list >"$work/pipe" 2>"$err" &
    pid=$!
    {
        head -c 4096 >/dev/null
        kill -TERM "$pid"
        sleep 0.5
        cat >"$out"
    } <"$work/pipe"
    wait "$pid"
    status=$?
    [ "$status" -eq 1 ] || fail "a stopped --list ended with $status"
    grep -q "^Stopped while scanning $work/many" "$err" || fail "the summary does not say it stopped"
    [ "$(wc -l <"$out")" -lt 1990 ] || fail "the walk went on to its end"
    ;;
units)
    # The units as installed, checked by systemd itself.
    command -v systemd-analyze >/dev/null || { echo "SKIP: no systemd-analyze"; exit 0; }
    cmake --install "$program" --prefix "$work/usr" >/dev/null || fail "install failed"
    units="$work/usr/lib/systemd/user"
    [ -f "$units/purgala-clean.service" ] && [ -f "$units/purgala-clean.timer" ] ||
        fail "the units were not installed"
    [ -f "$work/usr/share/bash-completion/completions/purgala" ] || fail "no completion installed"
    # The prefix installed into, whatever the build was configured for.
    grep -qx "ExecStart=$work/usr/bin/purgala --clean" "$units/purgala-clean.service" ||
        fail "the service does not run the installed program"
    mkdir -m 700 "$work/run"
    # The manual page the units name is the one installed with them.
    man_check=--man=yes
    command -v man >/dev/null || man_check=--man=no
    MANPATH="$work/usr/share/man" XDG_RUNTIME_DIR="$work/run" SYSTEMD_LOG_LEVEL=warning \
        systemd-analyze verify --user "$man_check" \
        "$units/purgala-clean.timer" "$units/purgala-clean.service" >"$out" 2>"$err" ||
        fail "systemd-analyze refused the units"
    ! grep -qi 'purgala' "$err" || fail "systemd-analyze warned about the units"
    ;;
*)
    echo "unknown case $2" >&2
    exit 1
    ;;
esac
echo "command line $2: passed"
