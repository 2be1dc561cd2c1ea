#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, and only those missing.
# Usage: scripts/install-deps.sh [extra package ...]
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qtbase5-dev qtbase5-dev-tools
  # lupdate and lrelease, and the toolkit's own translations of its standard buttons.
  qttools5-dev qttools5-dev-tools qttranslations5-l10n
  libssl-dev openssl
  fonts-dejavu-core
  "$@"
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Needs root or sudo to install: ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi

echo "Installing: ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
