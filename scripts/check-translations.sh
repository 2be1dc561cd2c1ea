#!/usr/bin/env bash
# Fails when a translatable text of the programs has no translation in one of
# the languages of translations/, when a translation is marked unfinished,
# obsolete or vanished, when a numerus entry lacks a form, or when lrelease has
# anything to say. lupdate runs on copies: the files in the tree are only read.
set -euo pipefail
cd "$(dirname "$0")/.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
sources=(app ui cli run)
for ts in translations/zarn-update-utility_*.ts; do
  name=$(basename "$ts")
  cp "$ts" "$work/$name"
  lupdate -qt=5 -locations none "${sources[@]}" -ts "$work/$name" >"$work/lupdate.log" 2>&1 || {
    cat "$work/lupdate.log"
    echo "FAIL: lupdate failed on $name" >&2
    failures=$((failures + 1))
    continue
  }
  # lupdate marks a text it found new unfinished, and one gone from the code obsolete or vanished.
  if grep -nE 'type="(unfinished|obsolete|vanished)"' "$work/$name" >"$work/marked"; then
    echo "FAIL: $name has texts without a finished translation:" >&2
    grep -B3 -nE 'type="(unfinished|obsolete|vanished)"' "$work/$name" | grep -E '<source>|type=' >&2 || true
    failures=$((failures + 1))
  fi
  if grep -qE '<(translation|numerusform)( [^>]*)?>\s*</(translation|numerusform)>|<translation/>' "$work/$name"; then
    echo "FAIL: $name has an empty translation" >&2
    failures=$((failures + 1))
  fi
  if ! diff -q <(grep -v '^\s*$' "$ts") <(grep -v '^\s*$' "$work/$name") >/dev/null; then
    echo "FAIL: $name is not as lupdate leaves it (run lupdate -no-obsolete -locations none ${sources[*]} -ts $ts):" >&2
    diff <(grep -v '^\s*$' "$ts") <(grep -v '^\s*$' "$work/$name") | head -20 >&2
    failures=$((failures + 1))
  fi
  lrelease -qt=5 "$ts" -qm "$work/${name%.ts}.qm" >"$work/lrelease.log" 2>&1 || failures=$((failures + 1))
  # lrelease reports what it made; anything else is a warning.
  if grep -vE '^(Updating|    Generated|    Ignored 0|Removing)' "$work/lrelease.log" | grep -q .; then
    echo "FAIL: lrelease on $name:" >&2
    cat "$work/lrelease.log" >&2
    failures=$((failures + 1))
  fi
  grep -q 'Generated' "$work/lrelease.log" && echo "ok: $name ($(grep Generated "$work/lrelease.log" | sed 's/^ *//'))"
done
[ "$failures" -eq 0 ] || { echo "check-translations: $failures problems" >&2; exit 1; }
echo "check-translations: every text translated"
