# Shared by the scripts: the Debian packages the project needs, and how it is built.
# shellcheck shell=bash

ORMELIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Building and testing: compilers, Qt 6 widgets and serial-port enumeration, libjpeg-turbo,
# clang's sanitizer and libFuzzer runtimes, and a font so the offscreen window has text metrics.
ORMELIN_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
  libjpeg62-turbo-dev
  clang libclang-rt-14-dev
  fonts-dejavu-core
  clang-format-14
)

# Installs whatever of the listed packages is missing. As root it runs apt-get; otherwise it
# prints the exact command and stops, since nothing can be built without them.
ormelin_install() {
  local missing=() p
  for p in "${ORMELIN_PACKAGES[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local cmd="apt-get install -y --no-install-recommends ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Run as root:" >&2
    echo "  apt-get update && $cmd" >&2
    exit 1
  fi
  echo "== Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# ormelin_build <preset> [targets...]: configure through the preset of CMakePresets.json, which
# holds every build setting, and build into build/<preset> (everything, or just the targets).
ormelin_build() {
  local preset=$1; shift
  (cd "$ORMELIN_ROOT" && cmake --preset "$preset" >/dev/null)
  local targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  (cd "$ORMELIN_ROOT" && cmake --build --preset "$preset" -j "$(nproc)" "${targets[@]}")
}
