#!/usr/bin/env bash
# Checks every tracked C and C++ source against the committed .clang-format,
# with the clang-format major version the style was written for; prints the
# files that differ and exits 1 when there are any.
#
#   tools/check-format.sh           check
#   tools/check-format.sh --fix     reformat them in place
set -euo pipefail
cd "$(dirname "$0")/.."

wanted=14
format=""
for candidate in clang-format-$wanted clang-format; do
    if command -v "$candidate" >/dev/null &&
       "$candidate" --version | grep -q "version $wanted\."; then
        format=$candidate
        break
    fi
done
[ -n "$format" ] || { echo "check-format: clang-format $wanted is missing (package clang-format-$wanted)" >&2; exit 2; }

if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    echo "check-format: not a git checkout, nothing to check"
    exit 0
fi
mapfile -t files < <(git ls-files -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
if [ "${1:-}" = --fix ]; then
    "$format" -i -- "${files[@]}"
    exit 0
fi
# One clang-format run for all files; it names each file that differs.
status=0
report=$("$format" --dry-run -Werror -- "${files[@]}" 2>&1) || status=$?
mapfile -t bad < <(sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' \
                   <<<"$report" | sort -u)
if [ $status -ne 0 ] && [ ${#bad[@]} -eq 0 ]; then
    echo "$report" >&2
    echo "check-format: clang-format failed" >&2
    exit 2
fi
if [ ${#bad[@]} -gt 0 ]; then
    printf '%s\n' "${bad[@]}"
    echo "check-format: ${#bad[@]} of ${#files[@]} files differ from .clang-format (tools/check-format.sh --fix)" >&2
    exit 1
fi
echo "check-format: ${#files[@]} files follow .clang-format"
