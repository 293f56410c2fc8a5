#!/usr/bin/env bash
# Compiles the public headers under INCLUDE the way a user's program meets
# them: every header alone, and every ordered pair of two different headers
# (the second after the first), each as strict C11 and as C++20. Headers are
# found by listing INCLUDE/orvexks and INCLUDE/orvexnt, so a new header is
# checked without editing this script.
#
# Strict C11 with no feature macro is the demanding case: a header that lets
# a C library header in before ks_base.h (or nt_base.h) fixes the feature
# set without POSIX, and a later header that needs POSIX types breaks. Each
# header is also compiled alone after the caller's own _POSIX_C_SOURCE, the
# way README asks strict C programs to include it.
# Usage: headers.sh INCLUDE WORK      (C and C++ compilers from CC and CXX)
set -euo pipefail

include=$1
work=$2
cc=${CC:-cc}
cxx=${CXX:-c++}
jobs=$(nproc)

mapfile -t headers < <(cd "$include" && find orvexks orvexnt -name '*.h' | sort)
[[ ${#headers[@]} -gt 0 ]] || { echo "headers: none under $include" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/alone" "$work/posix" "$work/pairs"
n=0
for a in "${headers[@]}"; do
  n=$((n + 1))
  printf '#include <%s>\n' "$a" >"$work/alone/h$n.c"
  printf '#define _POSIX_C_SOURCE 200809L\n#include <%s>\n' "$a" \
    >"$work/posix/h$n.c"
  m=0
  for b in "${headers[@]}"; do
    m=$((m + 1))
    [[ $a != "$b" ]] || continue
    printf '#include <%s>\n#include <%s>\n' "$a" "$b" >"$work/pairs/h${n}_$m.c"
  done
done

c_flags=(-std=c11 -Wall -Wextra -Werror -pedantic -I"$include" -fsyntax-only)
cxx_flags=(-x c++ -std=c++20 -Wall -Wextra -Werror -pedantic -I"$include"
           -fsyntax-only)

# compile DIR COMPILER FLAGS...: compiles every source of DIR, many to one
# compiler run and several runs at once; on failure prints each failing
# source's includes and the compiler's messages.
compile() {
  local dir=$1
  shift
  if ! find "$dir" -name '*.c' -print0 |
       xargs -0 -n 64 -P "$jobs" "$@" >"$dir.log" 2>&1; then
    local f
    for f in $(grep -oE "$dir/h[0-9_]+\.c" "$dir.log" | sort -u); do
      echo "headers: does not compile ($*):" >&2
      grep '#' "$f" >&2
    done
    cat "$dir.log" >&2
    return 1
  fi
}

rc=0
compile "$work/alone" "$cc" "${c_flags[@]}" || rc=1
compile "$work/posix" "$cc" "${c_flags[@]}" || rc=1
compile "$work/alone" "$cxx" "${cxx_flags[@]}" || rc=1
compile "$work/pairs" "$cc" "${c_flags[@]}" || rc=1
compile "$work/pairs" "$cxx" "${cxx_flags[@]}" || rc=1
[[ $rc -eq 0 ]] &&
  echo "headers: ${#headers[@]} headers alone and $((n * (n - 1))) ordered pairs compile as C11 and C++20"
exit "$rc"
