#!/usr/bin/env bash
# Fails when a source file differs from what .clang-format makes of it.
set -euo pipefail
clang_format=${1:-clang-format}
cd "$(dirname "$0")/.."
find src tests bench \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 "$clang_format" --dry-run --Werror
