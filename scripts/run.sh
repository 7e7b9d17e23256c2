#!/usr/bin/env bash
# Installs what is missing, builds, and starts Ostrel from its program folder build/app/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh
if [ -x build/app/ostrel ]; then
  exec build/app/ostrel
fi
echo "Built. The program folder is build/app/ (Config/ holds the settings file)."
echo "The main window is not built yet, so there is nothing to start."
