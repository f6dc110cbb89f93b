#!/usr/bin/env bash
# Installs the Debian 12 packages a purpose needs (only those missing, with apt's own progress
# lines), then configures and builds what that purpose runs, with the build's step counter.
#   scripts/setup.sh PURPOSE [--build-dir DIR] [--sanitize] [--no-build]
# PURPOSE is one of
#   run          the three executables, optimised (build/)
#   test         what the tests run, and the tests (build-test/)
#   package      the executables for the .deb packages (the run's build/), and the tools that
#                build and check the packages
#   fresh-check  the tools of packaging/check-in-fresh-debian.sh (nothing to build)
set -euo pipefail
cd "$(dirname "$0")/.."

purpose=${1:-}
[ $# -gt 0 ] && shift
build_dir=
sanitize=OFF
build=yes
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --sanitize) sanitize=ON; shift ;;
    --no-build) build=no; shift ;;
    *) echo "setup.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

# What each purpose needs.
build_packages=(
  # toolchain and build
  cmake ninja-build g++ pkg-config
  # Qt 6 (Core, Network, Bluetooth, D-Bus; Gui, Qml, Quick and Quick Controls for the window;
  # Qt Quick's private headers for its accessibility class, which the window extends)
  qt6-base-dev qt6-connectivity-dev qt6-declarative-dev qt6-declarative-private-dev
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
  qml6-module-qtquick-layouts qml6-module-qtquick-window
  qml6-module-qtquick-shapes qml6-module-qtqml qml6-module-qtqml-workerscript
  qml6-module-qt-labs-folderlistmodel
  # the window's fonts and icons, embedded at build time
  fonts-manrope fonts-roboto-unhinted fonts-material-design-icons-iconfont
  # USB: libusb for printer-class interfaces, libudev to find serial adapters; CUPS for lpinfo
  # and the usb backend
  libusb-1.0-0-dev libudev-dev cups
)
run_packages=(
  # the window on a virtual display when there is no screen (xvfb-run needs xauth)
  xvfb xauth
)
test_packages=(
  qml6-module-qttest
  # socat is a TCP peer nobody here wrote; the fuzzers of the decoder and the profile reader
  # (clang's libFuzzer runtime, and llvm-symbolizer so a crash names its lines)
  libgtest-dev libgmock-dev clang libclang-rt-14-dev llvm-14 socat
  # USB devices emulated by umockdev; a fake BlueZ on a private D-Bus bus
  umockdev libumockdev-dev dbus python3-dbusmock
  # the window driven by an accessibility client on a virtual X display
  xvfb xauth at-spi2-core gir1.2-atspi-2.0 python3-gi
  # discovery's tests and benchmark: network namespaces with veth links and a dropping
  # firewall, real Avahi daemons announcing through avahi-publish, nmap to compare the probe with
  # (the daemon package's own service is never started by the tests)
  iproute2 util-linux nftables avahi-daemon avahi-utils nmap
  # benchmarks (built on request)
  libbenchmark-dev
)
package_packages=(
  # CPack's Debian generator and its dependency computation, and the three validators
  dpkg-dev fakeroot file lintian desktop-file-utils appstream
)
fresh_check_packages=(debootstrap)

case "$purpose" in
  run) wanted=("${build_packages[@]}" "${run_packages[@]}") ;;
  test) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
  package) wanted=("${build_packages[@]}" "${package_packages[@]}") ;;
  fresh-check) wanted=("${fresh_check_packages[@]}"); build=no ;;
  *) echo "setup.sh: say what for: run, test, package or fresh-check" >&2; exit 2 ;;
esac

missing=()
for p in $(printf '%s\n' "${wanted[@]}" | sort -u); do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  install_line="apt-get install --no-install-recommends ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then
    # Without the right to install, say exactly what to ask an administrator for.
    if ! command -v sudo >/dev/null || ! sudo -v; then
      echo >&2
      echo "setup.sh: ${#missing[@]} Debian packages are missing, and installing them needs root" >&2
      echo "(and sudo did not let this user install them). Ask an administrator to run, as root:" >&2
      echo >&2
      echo "  $install_line" >&2
      echo >&2
      echo "then run this command again." >&2
      exit 1
    fi
    sudo_cmd=(sudo)
  fi
  echo "== installing ${#missing[@]} packages and what they need: ${missing[*]}"
  # The discovery tests run Avahi daemons of their own inside network namespaces. The package's
  # system service would announce this machine on its real network as soon as it is installed,
  # so where this script brings the package in, the service is masked first and never starts.
  if printf '%s\n' "${missing[@]}" | grep -qx avahi-daemon && [ -d /run/systemd/system ]; then
    echo "== masking avahi-daemon's system service (the tests start their own, in namespaces)"
    "${sudo_cmd[@]}" systemctl mask avahi-daemon.service avahi-daemon.socket
  fi
  "${sudo_cmd[@]}" apt-get update
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${missing[@]}"
fi
[ "$build" = yes ] || exit 0

case "$purpose" in
  run)
    build_dir=${build_dir:-build}
    options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPC_BUILD_TESTS=OFF -DPC_BUILD_BENCH=OFF)
    targets=(printer-config printerctl printer-sim)
    ;;
  test)
    build_dir=${build_dir:-build-test}
    options=(-DCMAKE_BUILD_TYPE=Debug -DPC_SANITIZE="$sanitize" -DPC_BUILD_BENCH=OFF)
    targets=(all)
    ;;
  package)
    build_dir=${build_dir:-build}
    options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPC_BUILD_TESTS=OFF -DPC_BUILD_BENCH=OFF)
    targets=(all)
    ;;
esac
echo "== configuring $build_dir"
cmake -S . -B "$build_dir" -G Ninja "${options[@]}" >/dev/null
echo "== building ${targets[*]} in $build_dir"
cmake --build "$build_dir" --target "${targets[@]}"
