#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and checks what a desktop gets: the file list, the
# menu entry and the AppStream metainfo as their validators see them, and where the installed
# program keeps its configuration. A copy in a folder of the user's own keeps it beside itself.
# With --prefix it configures the sources afresh for a temporary install prefix, installs there and
# runs the installed program as the user running the test (root on CI): a program folder that
# user may write to must still not get the file when it is the folder the program was installed
# into.
# usage: Install.sh BUILD_DIR
#        Install.sh --prefix SOURCE_DIR CXX_COMPILER
set -euo pipefail

id=example.purgala.Purgala

work="$(mktemp -d /tmp/purgala-install-XXXXXX)"
cleanup() {
    [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
    chmod -R u+w "$work"  # the program folder was made read-only
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Starts the program headless with its own home, waits for the file `expect` to appear, ends it.
# Runs it as the user in `as_user` (empty: the one running the test).
as_user=()
run_until_file() {
    local program="$1" home="$2" expect="$3"
    env HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" \
        QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
        "${as_user[@]}" "$program" &
    app=$!
    for _ in $(seq 300); do
        [ -f "$expect" ] && break
        kill -0 "$app" 2>/dev/null || fail "$program ended before it wrote $expect"
        sleep 0.1
    done
    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
    app=
    [ -f "$expect" ] || fail "$program wrote no $expect"
    [ "$(stat -c %s "$expect")" -eq 793 ] || fail "$expect is not the 793-byte default"
}

if [ "$1" = --prefix ]; then
    source_dir="$2" compiler="$3"
    # The prefix is named through a link, as a merged /usr has /bin -> usr/bin: the program must
    # know its folder by the real path.
    prefix="$work/prefix"
    mkdir "$prefix"
    ln -s prefix "$work/prefix-link"
    # Unoptimised and without debug information: built only to be installed and started once.
    cmake -S "$source_dir" -B "$work/build" -DCMAKE_CXX_COMPILER="$compiler" \
        -DCMAKE_BUILD_TYPE=None -DPURGALA_TESTS=OFF -DPURGALA_BENCH=OFF \
        -DCMAKE_INSTALL_PREFIX="$work/prefix-link" >/dev/null
    cmake --build "$work/build" -j2 --target purgala purgala_docs >/dev/null
    cmake --install "$work/build" >/dev/null
    program="$prefix/bin/purgala"
    [ -x "$program" ] || fail "nothing installed at $program"
    [ -w "$prefix/bin" ] || fail "the test cannot write to $prefix/bin, so it proves nothing"
    listing() { (cd "$prefix" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort); }
    before="$(listing)"

    mkdir "$work/home"
    run_until_file "$program" "$work/home" "$work/home/config/purgala/PurgalaConfig.xml"
    [ "$(listing)" = "$before" ] || fail "the installed program wrote into its installation:
$(diff <(echo "$before") <(listing))"

    echo "install into a prefix: passed"
    exit 0
fi

build="$1"
dest="$work/dest"
DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null

expected="usr/bin/purgala
usr/lib/systemd/user/purgala-clean.service
usr/lib/systemd/user/purgala-clean.timer
usr/share/applications/$id.desktop
usr/share/bash-completion/completions/purgala
usr/share/doc/purgala/changelog.gz
usr/share/doc/purgala/copyright
usr/share/icons/hicolor/64x64/apps/$id.png
usr/share/icons/hicolor/scalable/apps/$id.svg
usr/share/man/man1/purgala.1.gz
usr/share/metainfo/$id.metainfo.xml"
installed() { (cd "$dest" && find . -mindepth 1 ! -type d -printf '%P\n' | LC_ALL=C sort); }
actual="$(installed)"
grep -qx 'ExecStart=/usr/bin/purgala --clean' "$dest/usr/lib/systemd/user/purgala-clean.service" ||
    fail "the service does not start the installed program"
[ "$actual" = "$expected" ] || fail "installed files differ:
$(diff <(echo "$expected") <(echo "$actual"))"

desktop-file-validate "$dest/usr/share/applications/$id.desktop" || fail "desktop entry invalid"
grep -qx "Icon=$id" "$dest/usr/share/applications/$id.desktop" || fail "menu entry names another icon"
appstreamcli validate --no-net "$dest/usr/share/metainfo/$id.metainfo.xml" >/dev/null ||
    fail "metainfo invalid: $(appstreamcli validate --no-net "$dest/usr/share/metainfo/$id.metainfo.xml")"

# The program runs as a user who may not write to the program folder; root may write anywhere,
# so root runs it as nobody.
chmod a+rx "$work"
[ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
user_dir() {
    mkdir -p "$1"
    [ "$(id -u)" -eq 0 ] && chown nobody:nogroup "$1"
    return 0
}

# Installed: the program folder is not the user's, the file goes to $XDG_CONFIG_HOME/purgala.
chmod a-w "$dest/usr/bin"
user_dir "$work/home"
run_until_file "$dest/usr/bin/purgala" "$work/home" "$work/home/config/purgala/PurgalaConfig.xml"
[ "$(installed)" = "$expected" ] || fail "the installed program wrote into its installation"

# Portable: a program folder the user may write to keeps the file beside the program.
user_dir "$work/portable"
user_dir "$work/home2"
cp "$dest/usr/bin/purgala" "$work/portable/"
run_until_file "$work/portable/purgala" "$work/home2" "$work/portable/PurgalaConfig.xml"
[ ! -e "$work/home2/config/purgala" ] || fail "the portable copy wrote to the user's folder"

echo "install: passed"
