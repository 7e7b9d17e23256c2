#!/usr/bin/env bash
# Installs what is missing, builds, and starts Ostrel from its program folder build/app/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh
exec build/app/ostrel
