#!/bin/sh
# Fails when a C or C++ file of the tree is not laid out as .clang-format
# says; prints the files that differ. Skipped (exit 77) when clang-format
# is not installed. Usage: format.sh SOURCE_DIR
cd "$1" || exit 1
command -v clang-format >/dev/null 2>&1 || { echo "clang-format missing"; exit 77; }
bad=$(git ls-files '*.c' '*.cpp' '*.h' 2>/dev/null |
      while read -r f; do
        [ -f "$f" ] || continue
        clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || echo "$f"
      done)
[ -z "$bad" ] && exit 0
echo "not formatted (run clang-format -i on them):"
echo "$bad"
exit 1
