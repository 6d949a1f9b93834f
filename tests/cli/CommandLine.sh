#!/usr/bin/env bash
# The program's arguments, answered without a display: no DISPLAY, no WAYLAND_DISPLAY and the X
# platform plugin asked for, so a program that started the toolkit would abort instead.
# usage: CommandLine.sh PROGRAM help|version|unknown VERSION
set -uo pipefail

program="$1"
out="$(mktemp)" err="$(mktemp)"
trap 'rm -f "$out" "$err"' EXIT

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
    grep -q -- '--version' "$out" || fail "the usage does not name --version"
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
*)
    echo "unknown case $2" >&2
    exit 1
    ;;
esac
echo "command line $2: passed"
