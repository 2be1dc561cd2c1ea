#!/usr/bin/env bash
# Builds the Debian package from a fresh build directory, checks it with
# lintian, installs it with apt-get, starts the installed utility offscreen in
# force mode, checks the desktop entry, metainfo, icons, manual pages and udev
# rule and the journal's folder, then removes the package (the journal stays) and purges it and checks that its files
# and the journal are gone. Meant for CI (root, no display): it installs and purges the package zarn-update-utility
# on this machine, and with it the journal /var/lib/zarn-update-utility.
# Usage: scripts/check-package.sh   (BUILD_DIR picks the build directory,
# build-package by default; it is emptied first)
set -euo pipefail
cd "$(dirname "$0")/.."

package=zarn-update-utility
program=/usr/bin/$package
desktop=/usr/share/applications/$package.desktop
rules=/usr/lib/udev/rules.d/60-zarn.rules
icon_sizes=(16 22 24 32 48 64 128 256)
metainfo=/usr/share/metainfo/example.velmora.zarn_update_utility.metainfo.xml
doc=/usr/share/doc/$package
force_line="openWithoutDriver: ON"
# Without the driver the utility waits on a critical box that nobody answers
# offscreen, so it runs until the timeout ends it.
run_seconds=${RUN_SECONDS:-8}

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Needs root or sudo to install the package" >&2; exit 1; }
  as_root=(sudo)
fi
apt_get() { "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o Dpkg::Use-Pty=0 "$@"; }

log=$(mktemp)
trap 'rm -f "$log"' EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
# Runs a checker and shows what it wrote; passes when it succeeds and writes no
# tag or message line (E: W: I: P: X: O:) but those matching allowed.
check_quietly() {
  local what=$1 allowed=$2 status=0
  shift 2
  "$@" >"$log" 2>&1 || status=$?
  echo "--- $1 (exit status $status):"
  cat "$log"
  echo "---"
  if [ "$status" -eq 0 ] && ! grep -E '^[EWIPXO]: ' "$log" | grep -Evq -- "$allowed"; then
    pass "$what"
  else
    fail "$what: $1 objects"
  fi
}

icons=()
for size in "${icon_sizes[@]}"; do
  icons+=("/usr/share/icons/hicolor/${size}x${size}/apps/$package.png")
done
icons+=("/usr/share/icons/hicolor/scalable/apps/$package.svg")
cli=/usr/bin/zarn-update
manuals=(/usr/share/man/man1/$package.1.gz /usr/share/man/man1/zarn-update.1.gz)
translations=(/usr/share/$package/translations/${package}_de.qm /usr/share/$package/translations/${package}_fr.qm)
installed_files=("$program" "$cli" "${manuals[@]}" "$desktop" "$metainfo" "$doc/copyright" "$doc/changelog.gz"
  "$rules" "${icons[@]}" /usr/share/lintian/overrides/$package "${translations[@]}")
# Created empty: the site's trusted certificates, and those a release ships.
trusted_dirs=(/etc/$package/trusted /usr/share/$package/trusted)
# Made by the maintainer scripts, not a file of the package: kept on removal, gone on purge.
journal=/var/lib/$package

# dpkg-shlibdeps (dpkg-dev) works out the library dependencies.
scripts/install-deps.sh dpkg-dev desktop-file-utils lintian appstream

build=${BUILD_DIR:-build-package}
if [ -e "$build" ] && [ ! -f "$build/CMakeCache.txt" ]; then
  echo "$build exists and is not a build directory: not emptying it" >&2
  exit 1
fi
rm -rf "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZARN_WERROR=ON \
  -DZARN_BUILD_TESTS=OFF -DZARN_BUILD_BENCH=OFF -DZARN_BUILD_TOOLS=OFF
cmake --build "$build" --parallel "$(nproc)"
(cd "$build" && cpack -G DEB)

debs=("$build"/"${package}"_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "Expected one $package .deb in $build" >&2; exit 1; }
deb=$(realpath "${debs[0]}")
echo "Package: $deb"
dpkg-deb --info "$deb"

version=$(dpkg-deb --field "$deb" Version)
project_version=$(sed -n 's/^project(.*VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$version" = "$project_version" ] && pass "version $version" || fail "version $version, project says $project_version"
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
# One package name a line, versions dropped.
depends_names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*//; s/[[:space:]]//g')
for library in libc6 libstdc++6 libqt5core5a libqt5gui5 libqt5widgets5 libssl3 qttranslations5-l10n; do
  grep -qxF "$library" <<<"$depends_names" && pass "depends on $library" || fail "no dependency on $library"
done
contents=$(dpkg-deb --contents "$deb")
for file in "${installed_files[@]}"; do
  grep -q " \.$file\$" <<<"$contents" && pass "package holds $file" || fail "package lacks $file"
done
for dir in "${trusted_dirs[@]}"; do
  grep -q " \.$dir/\$" <<<"$contents" && pass "package holds $dir/" || fail "package lacks $dir/"
  if grep -q " \.$dir/." <<<"$contents"; then fail "package puts files in $dir/"; fi
done
# Every tag counts, down to the pedantic ones. The only one overridden is the
# empty directory where a release ships its certificates
# (packaging/debian/lintian-overrides); lintian shows it as an O: line after
# the override's comment (N:).
check_quietly "lintian finds nothing" \
  "^O: $package: package-contains-empty-directory \[usr/share/$package/trusted/\]\$" \
  lintian --display-info --pedantic --display-experimental --show-overrides --tag-display-limit 0 "$deb"
if grep -q " \.$journal" <<<"$contents"; then fail "package holds $journal, which dpkg would remove with it"; fi
if grep -Eq 'zarnsim|zarnru-build|/tests?/|bench' <<<"$contents"; then
  fail "package holds development files:"
  grep -E 'zarnsim|zarnru-build|/tests?/|bench' <<<"$contents" >&2
else
  pass "no simulator, builder, tests or benchmarks in the package"
fi

# A previous run or a hand install would make apt-get skip the install.
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
  apt_get purge "$package"
fi
apt_get install --no-install-recommends "$deb"

for file in "${installed_files[@]}"; do
  [ -f "$file" ] && pass "installed $file" || fail "missing $file"
done
[ -x "$program" ] || fail "$program is not executable"
for dir in "${trusted_dirs[@]}"; do
  [ -d "$dir" ] && [ -z "$(ls -A "$dir")" ] && pass "installed $dir, empty" || fail "no empty $dir"
done
desktop-file-validate "$desktop" && pass "desktop entry is valid" || fail "desktop-file-validate rejects $desktop"
grep -qx "Name=ZARN Update Utility" "$desktop" || fail "desktop entry has another name"
grep -qx "Exec=$package" "$desktop" || fail "desktop entry does not start $package"
grep -Eqx "Categories=(.*;)?System;.*" "$desktop" || fail "desktop entry is not in the category System"
grep -Eq '^KERNEL=="zarn_flash\|zarn_mailbox", GROUP="zarn", MODE="0660"$' "$rules" &&
  pass "udev rule gives the group zarn the device nodes" || fail "udev rule differs"
getent group zarn >/dev/null && pass "group zarn exists" || fail "postinst did not create the group zarn"
journal_mode=$(stat -c '%U:%G %a %F' "$journal" 2>&1 || true)
[ "$journal_mode" = "root:zarn 2770 directory" ] && pass "journal $journal is root:zarn 2770" ||
  fail "journal $journal is $journal_mode, not root:zarn 2770"
for file in "$program" "$cli"; do
  readelf -h "$file" | grep -Eq '^ *Type: *DYN ' && pass "$file is position-independent (ET_DYN)" ||
    fail "$file is not position-independent"
done
for manual in "${manuals[@]}"; do
  # As lintian reads a manual page: any warning of man or groff is a fault.
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$manual" 2>&1 >/dev/null)
  [ -z "$warnings" ] && pass "manual page $manual reads cleanly" || fail "man warns about $manual: $warnings"
done
changelog_version=$(zcat "$doc/changelog.gz" | sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$version" ] && pass "changelog starts with $version" ||
  fail "changelog starts with ${changelog_version:-no version}, the package is $version"
# The one info left is the component id's first part, "example": the
# vendor's domain is velmora.example, a top-level domain appstreamcli does not
# know. --no-net: no network here, so the homepage and screenshots cannot be
# fetched. Any other message fails.
check_quietly "metainfo validates" ": cid-maybe-not-rdns " \
  appstreamcli validate --pedantic --no-net --no-color "$metainfo"

status=0
QT_QPA_PLATFORM=offscreen timeout "$run_seconds" "$program" --force >/dev/null 2>"$log" || status=$?
echo "--- $program --force (exit status $status) wrote:"
cat "$log"
echo "---"
grep -qF "$force_line" "$log" && pass "installed utility starts in force mode" || fail "no \"$force_line\" line"
# 124: still running when the timeout ended it, as expected.
[ "$status" -eq 124 ] && pass "utility kept running until the timeout" || fail "utility ended by itself with status $status"

"$cli" --version | grep -qx "zarn-update $project_version (build [0-9]*)" &&
  pass "installed zarn-update answers --version" || fail "zarn-update --version"
cli_status=0
"$cli" versions >/dev/null 2>&1 || cli_status=$?
[ "$cli_status" -eq 5 ] && pass "zarn-update versions without the driver exits 5" ||
  fail "zarn-update versions without the driver exited $cli_status"
# The installed translations are found from the installed programs; the JSON stays in English.
said=$(LC_ALL=de_DE.UTF-8 "$cli" versions 2>&1 || true)
grep -q "konnte nicht gelesen werden" <<<"$said" && pass "installed zarn-update speaks German under de_DE.UTF-8" ||
  fail "zarn-update is not translated under de_DE.UTF-8: $said"
said=$(LC_ALL=fr_FR.UTF-8 "$cli" --json versions 2>&1 || true)
grep -q "could not be read" <<<"$said" && pass "zarn-update's JSON stays in English under fr_FR.UTF-8" ||
  fail "zarn-update's JSON is translated: $said"
# The installed programs keep their history in the journal, not in a folder of their own.
"$cli" history >"$log" 2>&1 || true
if grep -q "The system's journal" "$log"; then fail "zarn-update does not use the journal: $(cat "$log")"; else
  pass "zarn-update uses the journal $journal"; fi

# An entry as an operator's update leaves it: the journal and it outlive a removal.
entry=$journal/history/20260101T000000000-1.json
mkdir -p "$journal/history"
echo '{"started": "2026-01-01T00:00:00.000Z", "result": "succeeded", "file": "/kept.zarnru"}' >"$entry"
apt_get remove "$package"
[ -f "$entry" ] && pass "journal kept on removal" || fail "removal took the journal $journal"
apt_get purge "$package"
[ ! -e "$journal" ] && pass "journal $journal gone on purge" || fail "$journal is still there after purge"
for file in "${installed_files[@]}" "${trusted_dirs[@]}" "$doc"; do
  [ ! -e "$file" ] && pass "removed $file" || fail "$file is still there after purge"
done
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -qv "not-installed"; then
  fail "dpkg still knows $package after purge"
fi

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures check(s) failed" >&2
  exit 1
fi
echo "check-package: all checks passed"
