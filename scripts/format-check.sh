#!/usr/bin/env bash
# Checks that the C and C++ sources follow .clang-format; prints the offending
# lines and fails otherwise. Usage: scripts/format-check.sh [--fix]
# (--fix rewrites the files in place instead).
set -euo pipefail
cd "$(dirname "$0")/.."
format=${CLANG_FORMAT:-clang-format-14}
mode=(--dry-run --Werror)
[ "${1:-}" = --fix ] && mode=(-i)
git ls-files -z -- 'src/*' 'ftgl/*' 'videoloaders/*' 'encoder/*' 'render/*' 'tests/*' 'bench/*' 'tools/*' \
    | grep -zE '\.(c|cc|cpp|h|hpp)$' \
    | xargs -0 --no-run-if-empty "$format" --style=file "${mode[@]}"
