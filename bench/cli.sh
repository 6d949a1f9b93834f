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

echo "== --list of /usr against fdfind -uu -tf -tl . /usr (warm, median of $runs triples)"
# fdfind reads only the types the folders give; --list must also read every file's size and
# times (stat), as fdfind does when asked to compare a time, the second yardstick.
document /usr >"$work/usr.xml"
fd_plain=(fdfind -uu -tf -tl . /usr)
fd_stat=(fdfind -uu -tf -tl --changed-before 2100-01-01 . /usr)
"$purgala" --config "$work/usr.xml" --list >/dev/null 2>&1 || true
"${fd_plain[@]}" >/dev/null
ours=() plain=() stat=() r_plain=() r_stat=()
for _ in $(seq "$runs"); do
    a=$(seconds "$purgala" --config "$work/usr.xml" --list)
    b=$(seconds "${fd_plain[@]}")
    c=$(seconds "${fd_stat[@]}")
    ours+=("$a") plain+=("$b") stat+=("$c")
    r_plain+=("$(echo "scale=3; $a / $b" | bc)") r_stat+=("$(echo "scale=3; $a / $c" | bc)")
done
echo "purgala --list: $(printf '%s\n' "${ours[@]}" | median) s," \
    "lines $("$purgala" --config "$work/usr.xml" --list 2>/dev/null | wc -l)"
echo "fdfind:         $(printf '%s\n' "${plain[@]}" | median) s, lines $("${fd_plain[@]}" | wc -l)"
echo "fdfind, stat:   $(printf '%s\n' "${stat[@]}" | median) s"
echo "ratio to fdfind, median of the triples: $(printf '%s\n' "${r_plain[@]}" | median)"
echo "ratio to fdfind with stat:              $(printf '%s\n' "${r_stat[@]}" | median)"

echo "== permanent --clean of $small files against find -delete (median of $runs pairs)"
document "$work/small" 1 >"$work/small.xml"
ours=() theirs=() ratios=()
for _ in $(seq "$runs"); do
    make_tree "$work/small" "$small" && sync
    a=$(seconds "${ahead[@]}" "$purgala" --config "$work/small.xml" --clean)
    [ "$(find "$work/small" -type f | wc -l)" -eq 0 ] || echo "--clean left files" >&2
    rm -rf "$work/small"
    make_tree "$work/small" "$small" && sync
    b=$(seconds find "$work/small" -type f -delete)
    rm -rf "$work/small"
    ours+=("$a") theirs+=("$b") ratios+=("$(echo "scale=3; $a / $b" | bc)")
done
echo "purgala --clean: $(printf '%s\n' "${ours[@]}" | median) s"
echo "find -delete:    $(printf '%s\n' "${theirs[@]}" | median) s"
# The disk's speed drifts from one run to the next; each pair ran on the same moment's disk.
echo "ratio, median of the pairs: $(printf '%s\n' "${ratios[@]}" | median)"
