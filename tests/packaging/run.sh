#!/usr/bin/env bash
# Installs the build tree BUILD into WORK/prefix and checks what a user of
# the installed library gets: the files, the exported symbols, headers that
# compile alone and in every order in C and C++, and a C program built once
# with pkg-config and once with find_package(orvexks).
# Usage: run.sh BUILD WORK
set -euo pipefail

build=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
cc=${CC:-cc}
cxx=${CXX:-c++}

fail() { echo "packaging: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

# Where GNUInstallDirs put the libraries (lib or lib/<multiarch>).
pc=$(find "$prefix" -name orvexks.pc -path '*/pkgconfig/*' | head -n 1)
[[ -n $pc ]] || fail "orvexks.pc not installed"
libdir=$(dirname "$(dirname "$pc")")

for f in "$libdir"/liborvexks.so "$libdir"/liborvexnt.so \
         "$libdir"/liborvexks.a "$libdir"/liborvexnt.a \
         "$libdir"/cmake/orvexks/orvexksConfig.cmake \
         "$libdir"/cmake/orvexks/orvexksConfigVersion.cmake \
         "$libdir"/cmake/orvexks/orvexksTargets.cmake \
         "$prefix"/include/orvexks/orvexks.h \
         "$prefix"/include/orvexnt/nt_base.h; do
  [[ -e $f ]] || fail "missing after install: ${f#"$prefix"/}"
done

# liborvexks.so depends on liborvexnt.so and finds it beside itself.
readelf -d "$libdir/liborvexks.so" | grep -q 'NEEDED.*liborvexnt\.so' ||
  fail "liborvexks.so does not link liborvexnt.so"

# Only the C interface is exported: no C++ symbols, no internal functions.
for lib in liborvexks.so liborvexnt.so; do
  leaked=$(nm -D --defined-only "$libdir/$lib" | awk '{print $3}' |
           grep -E '^(_Z|ksi_|nti_)' || true)
  [[ -z $leaked ]] || fail "$lib exports internal symbols:
$leaked"
done

# Every installed header compiles alone and after any other, as strict C11
# and as C++20.
CC=$cc CXX=$cxx bash "$here/headers.sh" "$prefix/include" "$work/headers"

# pkg-config: flags from the installed orvexks.pc.
export PKG_CONFIG_PATH=$libdir/pkgconfig
flags=$(pkg-config --cflags --libs orvexks)
# shellcheck disable=SC2086  # the flags are a list of words
"$cc" -std=c11 -Wall -Werror -o "$work/consumer_pc" "$here/consumer.c" \
  $flags -Wl,-rpath,"$libdir"
"$work/consumer_pc"

# CMake package: a C-only project, linked once with each library kind.
cmake -S "$here/consumer" -B "$work/consumer-build" -G Ninja \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_PREFIX_PATH="$prefix" >"$work/consumer.log"
cmake --build "$work/consumer-build" >>"$work/consumer.log" ||
  { cat "$work/consumer.log"; fail "CMake consumer did not build"; }
"$work/consumer-build/consumer_shared"
"$work/consumer-build/consumer_static"
echo "packaging: ok"
