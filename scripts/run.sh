#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh" build
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$top/build" --target zelvo-footswitch2 -j"$(nproc)"
exec "$top/build/zelvo-footswitch2"
