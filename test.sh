#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest.
#   ./test.sh            the normal build
#   ./test.sh --asan     the same suite under AddressSanitizer + UndefinedBehaviorSanitizer
# Both build the device ROM image (preset device) first, for the emulator tests.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"

preset=default
case "${1:-}" in
    "") ;;
    --asan) preset=asan ;;
    *) echo "usage: $0 [--asan]" >&2; exit 2 ;;
esac

vx_install_packages
# The ROM image first: the emulator tests of the host build run it.
vx_build device
vx_build "$preset"
cd "$vx_root"
# `ctest -L <label>` runs one subject; a test without a label would drop out
# of such runs unnoticed.
unlabelled=$(ctest --preset "$preset" -N -LE . | grep '^ *Test *#' || true)
if [ -n "$unlabelled" ]; then
    echo "Tests without a label:" >&2
    echo "$unlabelled" >&2
    exit 1
fi
ctest --preset "$preset"
