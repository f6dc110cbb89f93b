#!/usr/bin/env bash
# Installs every Debian 12 package the project needs (only those missing, quietly), then
# configures and builds.
#   scripts/setup.sh [--build-dir DIR] [--sanitize] [--release]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
build_type=Debug
sanitize=OFF
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --sanitize) sanitize=ON; shift ;;
    --release) build_type=RelWithDebInfo; shift ;;
    *) echo "setup.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

packages=(
  # toolchain and build
  cmake ninja-build g++ pkg-config
  # Qt 6 (Core, Network, Bluetooth, D-Bus; Gui, Qml, Quick and Quick Controls for the window;
  # Qt Quick's private headers for its accessibility class, which the window extends)
  qt6-base-dev qt6-connectivity-dev qt6-declarative-dev qt6-declarative-private-dev
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
  qml6-module-qtquick-layouts qml6-module-qtquick-window
  qml6-module-qtquick-shapes qml6-module-qtqml qml6-module-qtqml-workerscript qml6-module-qttest
  qml6-module-qt-labs-folderlistmodel
  # the window's fonts and icons, embedded at build time
  fonts-manrope fonts-roboto-unhinted fonts-material-design-icons-iconfont
  # USB: libusb for printer-class interfaces, libudev to find serial adapters; CUPS for lpinfo
  # and the usb backend
  libusb-1.0-0-dev libudev-dev cups
  # tests: socat is a TCP peer nobody here wrote; the decoder fuzzer (clang's libFuzzer runtime) and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev socat
  # tests: USB devices emulated by umockdev; a fake BlueZ on a private D-Bus bus
  umockdev libumockdev-dev dbus python3-dbusmock
  # tests: the window driven by an accessibility client on a virtual X display
  xvfb at-spi2-core gir1.2-atspi-2.0 python3-gi
  # tests and benchmark of discovery: network namespaces with veth links and a dropping
  # firewall, real Avahi daemons announcing through avahi-publish, nmap to compare the probe with
  # (the daemon package's own service is never started by the tests)
  iproute2 util-linux nftables avahi-daemon avahi-utils nmap
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" -DPC_SANITIZE="$sanitize" >/dev/null
cmake --build "$build_dir"
