# Shared by scripts/run, scripts/test and scripts/bench: installs what is missing, configures, builds.
# shellcheck shell=bash
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev libgl-dev qt6-webengine-dev
  libcurl4-openssl-dev libpsl-dev publicsuffix ca-certificates fonts-noto-cjk qt6-translations-l10n)
TEST_PACKAGES=(libgtest-dev libgmock-dev libcpp-httplib-dev xvfb xauth imagemagick dbus-daemon)
BENCH_PACKAGES=(libbenchmark-dev libcpp-httplib-dev)

# Installs the Debian packages among "$@" that are not installed yet. Quick when nothing is missing.
ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo=(sudo)
    else
      echo "These packages are missing and you are not root (and there is no sudo): ${missing[*]}" >&2
      exit 1
    fi
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# configure_and_build BUILD_DIR [cmake options...]: configures once, then builds incrementally.
configure_and_build() {
  local dir="$1"
  shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@"
  fi
  cmake --build "$dir" --parallel "$(nproc)"
}

# Chromium refuses to run as root with its sandbox on; only tests and the run script turn it off.
if [ "$(id -u)" -eq 0 ]; then
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi
