#!/usr/bin/env bash
# The command line side by side with the tools a user would reach for otherwise:
#   peak memory (Maximum resident set size) of --list and --clean over a tree of BIG files;
#   --list of every file below /usr (warm) against fdfind -uu -tf -tl . /usr;
#   a permanent --clean of SMALL files against find DIR -type f -delete on the same tree.
# usage: bench/cli.sh PURGALA [BIG=1000000] [SMALL=200000] [PARENT=/tmp] [RUNS=3]
# Needs /usr/bin/time, fd-find and faketime (scripts/setup installs them): --clean only cleans
# files older than a folder's age, and a file made now is not, so the cleaning runs see a clock
# two days ahead. File times are not faked, and the monotonic clock is left alone.
set -euo pipefail

purgala="$(realpath "$1")"
big="${2:-1000000}" small="${3:-200000}" parent="${4:-/tmp}" runs="${5:-3}"
work="$(mktemp -d "$parent/purgala-cli-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
ahead=(env NO_FAKE_STAT=1 FAKETIME_DONT_FAKE_MONOTONIC=1 faketime -f +2d)

# A tree of N empty files, 1,000 to a folder, 100 folders to a folder above.
make_tree() {
    python3 - "$1" "$2" <<'EOF'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    d = os.path.join(root, "d%d" % (i // 100000), "e%d" % (i // 1000 % 100))
    if i % 1000 == 0:
        os.makedirs(d, exist_ok=True)
    os.close(os.open(os.path.join(d, "file-%d.tmp" % i), os.O_CREAT | os.O_WRONLY, 0o644))
EOF
}

# A document with one folder, every file listed; AGE given makes it one --clean cleans.
document() {
    local age=""
    [ -n "${2:-}" ] && age=" age=\"$2\""
    printf '<?xml version="1.0" encoding="utf-8"?><config versionNo="2"><nodes/><folders>'
    printf '<folder name="b" fullpath="%s" ext=""%s/></folders></config>' "$1" "$age"
}

peak_kb() {
    /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ {print $2}'
}

seconds() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }

echo "== peak memory at $big files"
make_tree "$work/big" "$big"
document "$work/big" >"$work/list.xml"
document "$work/big" 1 >"$work/clean.xml"
echo "--list:  $(peak_kb "$purgala" --config "$work/list.xml" --list) KB"
echo "--clean: $(peak_kb "${ahead[@]}" "$purgala" --config "$work/clean.xml" --clean) KB"
left=$(find "$work/big" -type f | wc -l)
echo "files left after --clean: $left"
rm -rf "$work/big"

echo "== --list of /usr against fdfind -uu -tf -tl . /usr (warm, median of $runs)"
document /usr >"$work/usr.xml"
"$purgala" --config "$work/usr.xml" --list >/dev/null 2>&1 || true
fdfind -uu -tf -tl . /usr >/dev/null
ours=() theirs=()
for _ in $(seq "$runs"); do
    ours+=("$(seconds "$purgala" --config "$work/usr.xml" --list)")
    theirs+=("$(seconds fdfind -uu -tf -tl . /usr)")
done
a=$(printf '%s\n' "${ours[@]}" | median) b=$(printf '%s\n' "${theirs[@]}" | median)
echo "purgala --list: $a s, lines $("$purgala" --config "$work/usr.xml" --list 2>/dev/null | wc -l)"
echo "fdfind:         $b s, lines $(fdfind -uu -tf -tl . /usr | wc -l)"
echo "ratio: $(echo "scale=2; $a / $b" | bc)"

echo "== permanent --clean of $small files against find -delete (median of $runs)"
document "$work/small" 1 >"$work/small.xml"
ours=() theirs=()
for _ in $(seq "$runs"); do
    make_tree "$work/small" "$small" && sync
    ours+=("$(seconds "${ahead[@]}" "$purgala" --config "$work/small.xml" --clean)")
    [ "$(find "$work/small" -type f | wc -l)" -eq 0 ] || echo "--clean left files" >&2
    rm -rf "$work/small"
    make_tree "$work/small" "$small" && sync
    theirs+=("$(seconds find "$work/small" -type f -delete)")
    rm -rf "$work/small"
done
a=$(printf '%s\n' "${ours[@]}" | median) b=$(printf '%s\n' "${theirs[@]}" | median)
echo "purgala --clean: $a s"
echo "find -delete:    $b s"
echo "ratio: $(echo "scale=2; $a / $b" | bc)"
