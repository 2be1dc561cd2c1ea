#!/usr/bin/env bash
# Checks that every C++ file of the tree is as the root .clang-format writes it
# (Debian 12's clang-format 14), and lists the ones that are not.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh clang-format
unformatted=()
while IFS= read -r file; do
  clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done < <(git ls-files '*.cpp' '*.h')
if [ ${#unformatted[@]} -ne 0 ]; then
  printf 'Not formatted (clang-format -i mends them):\n' >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
echo "check-format: every C++ file is formatted"
