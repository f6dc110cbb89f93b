#!/usr/bin/env bash
# Builds the two Debian packages (printer-config, printer-config-cli) from the run's optimised
# build with CPack, then checks them: lintian (no errors), desktop-file-validate and
# appstreamcli validate on what the packages install.
#   scripts/package.sh [--build-dir DIR]      the packages land in DIR (default build/)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=build
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    *) echo "package.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
bash scripts/setup.sh package --build-dir "$build_dir"

echo "== packaging"
rm -f "$build_dir"/*.deb
(cd "$build_dir" && cpack -G DEB)
debs=("$build_dir"/printer-config_*.deb "$build_dir"/printer-config-cli_*.deb)
for deb in "${debs[@]}"; do
  echo "-- $deb"
  dpkg-deb -f "$deb" Package Version Depends Recommends
done

echo "== lintian"
# Errors fail; warnings are shown.
lintian --fail-on error "${debs[@]}"

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$tree"; done
echo "== desktop-file-validate"
desktop-file-validate "$tree"/usr/share/applications/*.desktop
echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net "$tree"/usr/share/metainfo/*.metainfo.xml
echo "package.sh: ${debs[*]} built and checked"
