#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

# dbus-daemon: the inhibitor tests start a private bus of their own.
# at-spi2-core, python3-pyatspi: the accessibility bus and its client for tests/system/accessibility_bus.py.
# locales: the window is tried under German and French (tests/app).
scripts/install-deps.sh dbus-daemon python3-jsonschema xvfb at-spi2-core python3-pyatspi locales
for locale in de_DE fr_FR; do
  if ! locale -a | grep -qx "$locale.utf8"; then
    if [ "$(id -u)" -eq 0 ]; then localedef -i "$locale" -f UTF-8 "$locale.UTF-8"; else sudo localedef -i "$locale" -f UTF-8 "$locale.UTF-8"; fi
  fi
done
# A test that finds one of them missing fails instead of skipping.
export ZARN_TEST_DEPS_INSTALLED=1
build=${BUILD_DIR:-build-test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN_WERROR=ON
cmake --build "$build" --parallel "$(nproc)"
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)"
