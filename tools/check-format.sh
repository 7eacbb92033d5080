#!/usr/bin/env bash
# Checks that every C++ source and header is formatted as .clang-format says, and names each one
# that is not. clang-format 14 (Debian 12's) is the reference: other versions format differently.
# Usage: tools/check-format.sh [SOURCE_DIR]
set -euo pipefail
source_dir=${1:-$(dirname "$0")/..}
cd "$source_dir"
mapfile -d '' files < <(find app xml prefs tray net platform tests bench tools fuzz \
    \( -name '*.cpp' -o -name '*.h' \) -type f -print0 | sort -z)
clang-format-14 --dry-run --Werror "${files[@]}"
echo "${#files[@]} files formatted as .clang-format says"
