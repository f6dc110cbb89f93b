#!/usr/bin/env bash
# Installs what is missing, builds, and shows printerctl at work: the commands a few settings
# become, and those bytes read back.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --release
ctl=build/tools/printerctl/printerctl
set -x
"$ctl" --dry-run basic --baud 9600 --cutter off --codepage "CP437 [US, European Standard]"
"$ctl" --dry-run wifi home secret
"$ctl" --dry-run mqtt topics --qos 2 | "$ctl" decode
"$ctl" --dry-run ip ethernet static 192.168.1.100 255.255.255.0 192.168.1.1 | "$ctl" decode --json
