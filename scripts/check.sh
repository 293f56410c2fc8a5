#!/usr/bin/env bash
# Builds the project and runs its checks, one build directory per
# configuration, each under the source tree:
#   test   build/        plain build, every test under CTest
#   asan   build-asan/   the same with AddressSanitizer + UBSan
#   tsan   build-tsan/   the same with ThreadSanitizer
#   clang  build-clang/  clang build of the libraries and tools, with the
#                        thread-safety analysis of the locking annotations
#                        as an error (no tests: the other stages run them)
#   fuzz   build-fuzz/   clang + libFuzzer + ASan; each target runs briefly
#   bench  build-bench/  Release build; each benchmark runs briefly
# Usage: scripts/check.sh [STAGE...]    (default: test asan tsan)
# Environment: JOBS (parallel jobs, default: the number of cores),
# FUZZ_SECONDS (time budget of all fuzz targets together, default 120).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-$(nproc)}
fuzz_budget=${FUZZ_SECONDS:-120}
stages=("$@")
[[ ${#stages[@]} -gt 0 ]] || stages=(test asan tsan)

summary=()
plain_result=""

note() { printf '\n== %s\n' "$*"; }

configure() {
  local dir=$1
  shift
  cmake -S "$root" -B "$root/$dir" -G Ninja "$@"
}

build() {
  cmake --build "$root/$1" -j "$jobs"
}

# Runs ctest in build directory $1 (with an optional command prefix in the
# remaining arguments) and keeps its closing line for the summary.
run_ctest() {
  local dir=$1
  shift
  local log=$root/$dir/ctest-output.log
  local rc=0
  "$@" ctest --test-dir "$root/$dir" --output-on-failure -j "$jobs" \
    2>&1 | tee "$log" || rc=$?
  last_ctest_line=$(grep -E '[0-9]+% tests passed' "$log" | tail -n 1 || true)
  return "$rc"
}

# TSan needs a narrower address-space layout than some kernels give by
# default ("unexpected memory mapping"); then everything that runs
# instrumented code, test discovery during the build included, runs with
# address randomisation off.
tsan_prefix() {
  local probe
  probe=$(mktemp -d)
  printf 'int main(void) { return 0; }\n' >"$probe/p.c"
  if ${CC:-cc} -fsanitize=thread "$probe/p.c" -o "$probe/p" &&
     ! "$probe/p" 2>&1 | grep -q 'unexpected memory mapping'; then
    :
  else
    echo "setarch $(uname -m) -R"
  fi
  rm -rf "$probe"
}

stage_test() {
  configure build
  build build
  run_ctest build
  plain_result=$last_ctest_line
}

stage_asan() {
  configure build-asan -DORVEX_SANITIZE=address
  build build-asan
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    run_ctest build-asan
}

stage_tsan() {
  local prefix
  prefix=$(tsan_prefix)
  [[ -z $prefix ]] || echo "TSan runs under: $prefix"
  configure build-tsan -DORVEX_SANITIZE=thread
  # shellcheck disable=SC2086  # the prefix is a command and its arguments
  $prefix cmake --build "$root/build-tsan" -j "$jobs"
  # shellcheck disable=SC2086
  TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1} \
    run_ctest build-tsan $prefix
}

# Executables directly inside a build's bench/ or fuzz/ directory whose
# names end in $2 (helper programs beside them, such as a benchmark's
# server, are started by their benchmark, never on their own).
programs_in() {
  find "$1" -maxdepth 1 -type f -executable -name "*$2" | sort
}

stage_clang() {
  CC=clang CXX=clang++ configure build-clang -DORVEX_TESTS=OFF \
    -DORVEX_EXAMPLES=OFF
  build build-clang
  last_ctest_line="libraries built with -Wthread-safety"
}

stage_fuzz() {
  CC=clang CXX=clang++ configure build-fuzz -DORVEX_FUZZ=ON \
    -DORVEX_SANITIZE=address -DORVEX_TESTS=OFF -DORVEX_EXAMPLES=OFF
  build build-fuzz
  local targets
  mapfile -t targets < <(programs_in "$root/build-fuzz/fuzz" _fuzz)
  last_ctest_line="${#targets[@]} fuzz targets"
  [[ ${#targets[@]} -gt 0 ]] || { echo "no fuzz targets"; return 0; }
  local each=$((fuzz_budget / ${#targets[@]}))
  ((each <= 20)) || each=20
  ((each >= 2)) || each=2
  local t name corpus seeds
  for t in "${targets[@]}"; do
    name=$(basename "$t")
    corpus=$root/build-fuzz/corpus/$name
    seeds=$root/fuzz/corpus/$name
    mkdir -p "$corpus"
    note "fuzz $name (${each}s)"
    if [[ -d $seeds ]]; then
      "$t" -max_total_time="$each" -rss_limit_mb=2048 -print_final_stats=1 \
        "$corpus" "$seeds"
    else
      "$t" -max_total_time="$each" -rss_limit_mb=2048 -print_final_stats=1 \
        "$corpus"
    fi
  done
}

stage_bench() {
  configure build-bench -DCMAKE_BUILD_TYPE=Release -DORVEX_BENCH=ON \
    -DORVEX_TESTS=OFF -DORVEX_EXAMPLES=OFF
  build build-bench
  local benches b
  mapfile -t benches < <(programs_in "$root/build-bench/bench" _bench)
  last_ctest_line="${#benches[@]} benchmark programs"
  for b in "${benches[@]}"; do
    note "bench $(basename "$b")"
    "$b" --benchmark_min_time=0.01
  done
}

for stage in "${stages[@]}"; do
  case $stage in
    test | asan | tsan | clang | fuzz | bench) ;;
    *) echo "unknown stage '$stage' (test asan tsan clang fuzz bench)" >&2
       exit 2 ;;
  esac
done

for stage in "${stages[@]}"; do
  note "stage $stage"
  started=$SECONDS
  last_ctest_line=""
  "stage_$stage"
  summary+=("$(printf '%-6s %5ds  %s' "$stage" $((SECONDS - started)) \
    "$last_ctest_line")")
done

note "summary"
printf '%s\n' "${summary[@]}"
printf '%-6s %5ds\n' total "$SECONDS"
# The plain configuration's closing line comes last.
[[ -z $plain_result ]] || echo "$plain_result"
