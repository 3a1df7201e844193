#!/bin/sh
# Runs a Windows executable under Wine in the project-local prefix (ctest's emulator).
. "$(dirname "$0")/wine-env.sh"
exec wine "$@"
