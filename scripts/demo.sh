#!/usr/bin/env bash
# Builds and runs the main job on the bundled demo fleet.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
echo "Built:"
find "${BUILD_DIR:-build}" -maxdepth 2 -type f -perm -u+x \( -name 'talvor*' \) -printf '  %p\n' | sort
