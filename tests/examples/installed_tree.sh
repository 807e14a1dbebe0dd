#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The installed component as a program author uses it, and the installed
# programs as they run: installs the build into a scratch prefix, moves the
# tree, builds examples/ against it through find_package (and the same
# source through pkg-config), and runs it against the installed simulator.
#   installed_tree.sh BUILD SOURCE GENERATOR CXX GUI(ON|OFF)
set -euo pipefail
build=$1 src=$2 generator=$3 cxx=$4 gui=$5
tmp=$(mktemp -d)
sim=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$tmp/first" --strip >"$tmp/install.log"
# Nothing may depend on where it was installed first, nor on the build tree.
mv "$tmp/first" "$tmp/prefix"
prefix=$tmp/prefix
if hits=$(grep -rlaF -e "$src" -e "$build" -e "$tmp/first" --exclude='*.a' "$prefix"); then
  fail "installed files name the build or the first prefix: $hits"
fi

configure() {  # configure SOURCE BINARY [cmake args...]
  local s=$1 b=$2
  shift 2
  cmake -S "$s" -B "$b" -G "$generator" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF "$@"
}
configure "$src/examples" "$tmp/example" -DCMAKE_INSTALL_PREFIX="$prefix" >"$tmp/configure.log" ||
  { cat "$tmp/configure.log"; fail "examples/ does not configure against the installed tree"; }
found=$(sed -n 's/^CPort_DIR:[A-Z]*=//p' "$tmp/example/CMakeCache.txt")
[[ "$found" == "$prefix"/* ]] || fail "find_package(CPort) took $found, not the scratch prefix"
cmake --build "$tmp/example" >"$tmp/build.log" || { cat "$tmp/build.log"; fail "examples/ does not build"; }
cmake --install "$tmp/example" >/dev/null

pc=$(find "$prefix" -name cport.pc)
[ -n "$pc" ] || fail "no cport.pc installed"
flags=$(PKG_CONFIG_LIBDIR=$(dirname "$pc") pkg-config --cflags --libs cport)
# shellcheck disable=SC2086  # the flags are words
for example in send_line print_lines; do
  "$cxx" -std=c++20 "$src/examples/$example.cpp" $flags -o "$tmp/$example-pc" || fail "pkg-config flags do not build $example"
done
[ -x "$prefix/bin/print-lines" ] || fail "examples/ did not build and install print-lines"
status=0
"$prefix/bin/print-lines" "$tmp/no-such-port" 2>"$tmp/lines.err" || status=$?
[ "$status" = 1 ] && grep -q "^print-lines: " "$tmp/lines.err" || fail "print-lines on a missing port: $status $(cat "$tmp/lines.err")"

# The Qt part comes only where it was built, and then with Qt found again.
if [ "$gui" = ON ]; then
  configure "$src/tests/examples/qt_consumer" "$tmp/qt" >"$tmp/qt.log" && cmake --build "$tmp/qt" >>"$tmp/qt.log" ||
    { cat "$tmp/qt.log"; fail "CPort::cport_qt does not build from the installed tree"; }
elif configure "$src/tests/examples/qt_consumer" "$tmp/qt" >"$tmp/qt.log" 2>&1; then
  fail "find_package(CPort COMPONENTS Qt) succeeded without the Qt part"
fi
# So does the example window, which names a port it cannot open and ends.
if [ "$gui" = ON ]; then
  [ -x "$prefix/bin/port-lamps" ] || fail "examples/ built no port-lamps with the Qt part installed"
  status=0
  QT_QPA_PLATFORM=offscreen "$prefix/bin/port-lamps" "$tmp/no-such-port" 2>"$tmp/lamps.err" || status=$?
  [ "$status" = 1 ] && grep -q "^port-lamps: " "$tmp/lamps.err" || fail "port-lamps on a missing port: $status $(cat "$tmp/lamps.err")"
elif [ -e "$prefix/bin/port-lamps" ]; then
  fail "examples/ built port-lamps without the Qt part"
fi

"$prefix/bin/vxgen-sim" --steady >"$tmp/sim.out" 2>"$tmp/sim.err" &
sim=$!
for _ in $(seq 200); do
  [ -s "$tmp/sim.out" ] && break
  kill -0 "$sim" 2>/dev/null || { cat "$tmp/sim.err"; fail "the installed vxgen-sim did not start"; }
  sleep 0.05
done
tty=$(head -n1 "$tmp/sim.out")
[ -n "$tty" ] || fail "the installed vxgen-sim printed no terminal"
for program in "$prefix/bin/send-line" "$tmp/send_line-pc"; do
  reply=$("$program" "$tty" '%@05SR') || fail "$program: no reply"
  [ "$reply" = "#02SR016" ] || fail "$program printed '$reply'"
done

# The texts come from the catalogs of the tree the program is installed in:
# a language no system catalog has, made from the installed German one.
mkdir -p "$prefix/share/locale/xx/LC_MESSAGES"
cp "$prefix/share/locale/de/LC_MESSAGES/cport.mo" "$prefix/share/locale/xx/LC_MESSAGES/"
if LANGUAGE=xx LC_ALL=C.UTF-8 "$prefix/bin/send-line" "$tmp/no-such-port" x 2>"$tmp/err.txt"; then
  fail "opening a missing port succeeded"
fi
# Whatever the German words are, the English text must not come through.
[ -s "$tmp/err.txt" ] && ! grep -q "Unable to open com port" "$tmp/err.txt" ||
  fail "the installed catalog was not used: $(cat "$tmp/err.txt")"
echo "installed tree: find_package, pkg-config, the examples, simulator reply and catalogs all good"
