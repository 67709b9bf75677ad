#!/usr/bin/env bash
# Builds the Debian packages and checks them, and checks a plain install under a temporary prefix:
#   1. build-deb/ (prefix /usr, Debian's hardening flags) builds; cpack -G DEB makes vistelle,
#      vistelle-headless, vistelle-data, libveilixcontrol1 and libveilixcontrol-dev;
#   2. the desktop entry and the AppStream metainfo validate; the manual page formats without a
#      warning;
#   3. lintian reports no error, and no warning that docs/packaging.md does not explain;
#   4. dpkg installs the packages into a throwaway root; the program installed there runs headless
#      with a throwaway home, listens on a free port, logs a visit and finds its country file and
#      manual page in that root; so does vistelled, which links neither Qt Gui nor Qt Widgets;
#   5. cmake --install of the main build (build/, or $BUILD_DIR) into a temporary prefix: the
#      program there finds its data and the control library beside it.
# scripts/test.sh runs it after the tests. Needs what scripts/deps.sh --test installs.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=${BUILD_DIR:-build}
pkgbuild=${PACKAGE_BUILD_DIR:-build-deb}
work=$(mktemp -d /tmp/vistelle-package-check.XXXXXX)
trap 'rm -rf "$work"' EXIT

step() { echo "== package-check: $*"; }
fail() {
    echo "package-check: FAILED: $*" >&2
    exit 1
}
app_id=io.sourceforge.vistelle.Vistelle

step "building the packages in $pkgbuild (prefix /usr)"
# Debian's compiler and linker flags; CMake does not read CPPFLAGS (_FORTIFY_SOURCE), so it goes
# into the compiler flags as debhelper does it.
flags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)
cxxflags=$(eval "$flags" && echo "$CPPFLAGS $CXXFLAGS")
cflags=$(eval "$flags" && echo "$CPPFLAGS $CFLAGS")
ldflags=$(eval "$flags" && echo "$LDFLAGS")
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$pkgbuild" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DVISTELLE_BUILD_TESTS=OFF -DVEILIXCONTROL_BUILD_EXAMPLES=OFF "${launcher[@]}" \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_C_FLAGS="$cflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$pkgbuild"
rm -f "$pkgbuild"/*.deb
(cd "$pkgbuild" && cpack -G DEB >"$work/cpack.log") || {
    cat "$work/cpack.log"
    fail "cpack"
}
debs=()
for name in vistelle vistelle-headless vistelle-data libveilixcontrol1 libveilixcontrol-dev; do
    deb=$(ls "$pkgbuild/${name}"_*.deb 2>/dev/null || true)
    [[ -f "$deb" ]] || fail "no package $name"
    debs+=("$deb")
    echo "$deb"
    dpkg-deb --field "$deb" Package Version Section Depends Recommends | sed 's/^/    /'
done

step "desktop entry, metainfo, manual page"
desktop-file-validate "data/$app_id.desktop"
appstreamcli validate --no-net "data/$app_id.metainfo.xml"
# The metainfo's newest release is this version.
version=$(sed -n 's/^project(Vistelle VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
grep -q "<release version=\"$version\"" "data/$app_id.metainfo.xml" ||
    fail "data/$app_id.metainfo.xml has no release entry for $version"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l data/vistelle.1 2>&1 >/dev/null)
[[ -z "$warnings" ]] || fail "the manual page: $warnings"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l packaging/headless/vistelled.8 2>&1 >/dev/null)
[[ -z "$warnings" ]] || fail "the manual page of vistelled: $warnings"
if command -v systemd-analyze >/dev/null; then
    # The unit names the installed program and manual page, which this machine need not have.
    systemd-analyze verify packaging/headless/vistelled.service >"$work/unit.txt" 2>&1 || true
    problems=$(grep -v "vistelled is not executable\|vistelled: No such file\|man vistelled(8)" "$work/unit.txt" || true)
    [[ -z "$problems" ]] || fail "vistelled.service: $problems"
fi

step "lintian"
lintian --fail-on error --display-level ">=warning" "${debs[@]}" | tee "$work/lintian.txt" ||
    fail "lintian reports errors"
# Each warning left is explained in docs/packaging.md.
while read -r _ _ tag _; do
    grep -q -- "$tag" docs/packaging.md || fail "lintian warning $tag is not explained in docs/packaging.md"
done < <(grep '^W: ' "$work/lintian.txt" || true)

# Runs the installed program headless with a throwaway home; a country file of our own in the
# installed data folder must name the visitor's country, so the program read it from there.
#   run_installed <binary> <data folder> [VAR=value ...]
run_installed() {
    local bin=$1 data=$2
    shift 2
    printf '%s\n' '"127.0.0.0","127.255.255.255",2130706432,2147483647,"ZZ",Installed Land' \
        >"$data/GeoIPCountryWhois.csv"
    env "$@" VISTELLE_BIN="$bin" python3 - <<'EOF'
import os
import sys
sys.path.insert(0, "tests/e2e")
from vistelle_e2e import Program, free_port, send

port = free_port()
program = Program(settings={"ListenPort": str(port), "usedyndns": "0", "SoundAlert": "0"},
                  env={"DISPLAY": None, "WAYLAND_DISPLAY": None})
program.start()
try:
    program.wait_line(f"Listening for connections on port: {port}", timeout=20)
    send(port, b"GET /t.gif HTTP/1.1\r\nHost: me\r\nReferer: http://site.example/installed.html\r\n\r\n")
    program.wait_line("Visit: 127.0.0.1 -> http://site.example/installed.html")
    program.wait_line("Popup: Installed Land | Visited page: http://site.example/  installed.html")
finally:
    code = program.stop()
assert code == 0, f"exit code {code}"
print("    " + "\n    ".join(program.output()))
EOF
}

step "installing the packages into a throwaway root with dpkg"
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
# The root holds only these packages, so the system libraries they depend on come from outside.
# The root has no shell: maintainer scripts run outside it (chrootless, DPKG_ROOT set), as at the
# purge below. vistelle-headless's (they enable and start the service) are not run at all: that
# package is unpacked, not configured.
headless_deb=${debs[1]}
others=("${debs[@]:0:1}" "${debs[@]:2}")
DPKG_ROOT=$root dpkg --root="$root" --force-depends --force-script-chrootless --log=/dev/null -i "${others[@]}" \
    >"$work/dpkg.log" 2>&1 &&
    dpkg --root="$root" --force-depends --log=/dev/null --unpack "$headless_deb" >>"$work/dpkg.log" 2>&1 || {
    cat "$work/dpkg.log"
    fail "dpkg -i into $root"
}
for name in vistelle vistelle-data libveilixcontrol1 libveilixcontrol-dev; do
    status=$(dpkg-query --root="$root" -W -f='${Status}' "$name")
    [[ "$status" == "install ok installed" ]] || fail "$name in the throwaway root: $status"
done
status=$(dpkg-query --root="$root" -W -f='${Status}' vistelle-headless)
[[ "$status" == "install ok unpacked" ]] || fail "vistelle-headless in the throwaway root: $status"
libdir=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for f in /usr/bin/vistelle "$libdir/libVeilixControl.so.1" "$libdir/libVeilixControl.so" \
    /usr/include/VeilixControl/VeilixButton.h "$libdir/cmake/VeilixControl/VeilixControlConfig.cmake" \
    "$libdir/qt6/plugins/designer/libveilixcontrolplugin.so" /usr/share/vistelle/doorbell.wav \
    /usr/share/vistelle/vistelle.htm /usr/share/vistelle/NOTICE-GeoIPCountryWhois.md \
    "/usr/share/applications/$app_id.desktop" "/usr/share/metainfo/$app_id.metainfo.xml" \
    /usr/share/icons/hicolor/scalable/apps/vistelle.svg /usr/share/icons/hicolor/48x48/apps/vistelle.png \
    /usr/share/man/man1/vistelle.1.gz /usr/share/doc/vistelle/copyright /usr/share/doc/vistelle/changelog.gz \
    /usr/bin/vistelled /usr/lib/systemd/system/vistelled.service /usr/share/man/man8/vistelled.8.gz \
    /usr/share/doc/vistelle-headless/copyright /usr/share/doc/vistelle-data/copyright; do
    [[ -e "$root$f" ]] || fail "not installed: $f"
done
[[ $(file -b "$root/usr/bin/vistelle") == *", stripped"* ]] || fail "/usr/bin/vistelle is not stripped"
# The postinst let the program listen on port 80: the one capability, nothing else.
caps=$(getcap "$root/usr/bin/vistelle")
[[ "$caps" == "$root/usr/bin/vistelle cap_net_bind_service=ep" ]] || fail "capability of /usr/bin/vistelle: '$caps'"
# The documentation the manual page points to.
for doc in README.md docs/architecture.md docs/history-window.png; do
    [[ -f "$root/usr/share/doc/vistelle/$doc" ]] || fail "no /usr/share/doc/vistelle/$doc"
done
# man finds the page in the root's manual folders.
[[ $(MANPATH="$root/usr/share/man" man -w vistelle) == "$root/usr/share/man/man1/vistelle.1.gz" ]] ||
    fail "man -w vistelle does not find the installed page"
MANPATH="$root/usr/share/man" MANWIDTH=80 man vistelle 2>/dev/null | grep -q "XDG_RUNTIME_DIR" ||
    fail "man vistelle does not show the page"
# The packaged program carries no run path; in a throwaway root it needs to be told where its library is.
mkdir -m 700 "$work/run"
[[ $(XDG_RUNTIME_DIR="$work/run" LD_LIBRARY_PATH="$root$libdir" "$root/usr/bin/vistelle" --version | head -n 1) == "vistelle $version" ]] ||
    fail "vistelle --version from the root"
run_installed "$root/usr/bin/vistelle" "$root/usr/share/vistelle" LD_LIBRARY_PATH="$root$libdir"
# The server program: no Qt Gui, no Qt Widgets, and it works the same.
linked=$(ldd "$root/usr/bin/vistelled")
! grep -qE "libQt6(Gui|Widgets)" <<<"$linked" || fail "vistelled links Qt Gui or Qt Widgets"
[[ $(XDG_RUNTIME_DIR="$work/run" "$root/usr/bin/vistelled" --version | head -n 1) == "vistelled $version" ]] ||
    fail "vistelled --version from the root"
run_installed "$root/usr/bin/vistelled" "$root/usr/share/vistelle"
DPKG_ROOT=$root dpkg --root="$root" --log=/dev/null --force-script-chrootless --purge vistelle-headless vistelle libveilixcontrol-dev \
    libveilixcontrol1 vistelle-data \
    >"$work/dpkg.log" 2>&1 || {
    cat "$work/dpkg.log"
    fail "dpkg --purge in $root"
}
leftover=$(find "$root" -path "$root/var" -prune -o -type f -print)
[[ -z "$leftover" ]] || fail "left behind after purging: $leftover"

step "cmake --install $build into a temporary prefix"
[[ -f "$build/CMakeCache.txt" ]] || fail "no main build in $build (scripts/build.sh makes it)"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
[[ -x "$prefix/bin/vistelle" ]] || fail "no $prefix/bin/vistelle"
run_installed "$prefix/bin/vistelle" "$prefix/share/vistelle"
MANPATH="$prefix/share/man" man -w vistelle >/dev/null || fail "man does not find the page under $prefix"
step "all checks passed"
