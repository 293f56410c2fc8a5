#!/usr/bin/env bash
# Installs the build tree BUILD into WORK/prefix and checks what a user of
# the installed library gets: the files, the exported symbols, headers that
# compile alone and in every order in C and C++, loading at run time
# (dlopen, Python's ctypes), and a C program built once with pkg-config and
# once with find_package(orvexks).
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

# Each library exports exactly what its installed headers declare with its
# export marker: nothing by accident, nothing promised missing. The lists
# come from the same reader that writes the link's version scripts. Names
# declared ahead of their code are listed in exports_pending.txt.
exports_script=$here/../../cmake/ExportMap.cmake
pending=$work/pending
{ grep -v '^#' "$here/exports_pending.txt" || true; } | LC_ALL=C sort -u \
  >"$pending"
check_exports() {
  local lib=$1 marker=$2 headers=$3 promised exported diff early
  promised=$work/$lib.promised
  exported=$work/$lib.exported
  cmake -DMARKER="$marker" -DHEADERS="$prefix/include/$headers" \
    -DOUTPUT="$promised" -DFORMAT=names -P "$exports_script"
  nm -D --defined-only "$libdir/$lib" | awk '{print $3}' | LC_ALL=C sort -u \
    >"$exported"
  early=$(LC_ALL=C comm -12 "$pending" "$exported")
  [[ -z $early ]] || fail "$lib exports names still listed in exports_pending.txt (delete them there):
$early"
  diff=$(LC_ALL=C comm -23 "$promised" "$pending" |
         LC_ALL=C comm -3 - "$exported" |
         sed -e 's/^\t/  exported, not declared: /' \
             -e 's/^\([^ ]\)/  declared, not exported: \1/')
  [[ -z $diff ]] || fail "$lib exports differ from its headers' $marker list:
$diff"
}
check_exports liborvexks.so KS_API orvexks
check_exports liborvexnt.so NT_API orvexnt

# Every installed header compiles alone and after any other, as strict C11
# and as C++20.
CC=$cc CXX=$cxx bash "$here/headers.sh" "$prefix/include" "$work/headers"

# Both libraries load at run time, as plugins and language bindings load
# them (dlopen, Python's ctypes): a library loaded late gets only the small
# surplus of static TLS, so neither may need more of it than a few words.
cat >"$work/dlopen.c" <<'EOF_C'
#include <dlfcn.h>
#include <stdio.h>
int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (dlopen(argv[i], RTLD_NOW | RTLD_LOCAL) == NULL) {
      fprintf(stderr, "%s\n", dlerror());
      return 1;
    }
  return 0;
}
EOF_C
"$cc" -std=c11 -Wall -Werror -o "$work/dlopen" "$work/dlopen.c" -ldl
for lib in liborvexnt.so liborvexks.so; do
  "$work/dlopen" "$libdir/$lib" || fail "dlopen of $lib failed"
done
command -v python3 >/dev/null || fail "python3 is needed for the ctypes load"
for lib in liborvexnt.so liborvexks.so; do
  python3 -c 'import ctypes, sys; ctypes.CDLL(sys.argv[1])' "$libdir/$lib" ||
    fail "ctypes.CDLL of $lib failed"
done

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
