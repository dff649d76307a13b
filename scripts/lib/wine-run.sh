#!/usr/bin/env bash
# Runs a Windows program of the build under Wine; CTest uses it as the
# emulator for the Windows tests.
source "$(dirname "$0")/wine-env.sh"
exec "$UPD_WINE" "$@"
