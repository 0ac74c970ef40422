# Shared by the tools: install what is missing, configure and build.
# Source it; then call vorn_setup [preset].
set -euo pipefail

VORN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# python3-prometheus-client: tst_gw_faces reads rt8gw's metrics with its parser.
# promtool (Debian's prometheus, about 96 MB with its web interface) is not
# installed; tst_gw_faces runs it too where it is there.
VORN_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
               qt6-tools-dev qt6-l10n-tools qt6-qpa-plugins fonts-noto-cjk xvfb xauth
               desktop-file-utils appstream pkg-config libmosquitto-dev libsystemd-dev mosquitto mosquitto-clients ser2net
               python3-prometheus-client libmodbus-dev mbpoll python3-pymodbus python3-serial-asyncio)
# What the fuzz targets need besides: clang's libFuzzer, and localedef's sources.
VORN_FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev locales)

vorn_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; elif command -v sudo >/dev/null; then sudo "$@"; else
    echo "need root (or sudo) to run: $*" >&2; return 1; fi
}

vorn_install() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    vorn_as_root apt-get update -qq
    DEBIAN_FRONTEND=noninteractive vorn_as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

vorn_build() {
  local preset="${1:-default}"
  cd "$VORN_ROOT"
  if [ ! -f "build/$preset/build.ninja" ]; then
    cmake --preset "$preset" >/dev/null
  fi
  cmake --build --preset "$preset" -- -j"$(nproc)"
}

vorn_setup() {
  vorn_install "${VORN_PACKAGES[@]}"
  vorn_build "${1:-default}"
}
