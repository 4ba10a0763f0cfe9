#!/usr/bin/env bash
# Installs what is missing, builds the program and makes the Debian package
# zelvo-footswitch2_<version>_<architecture>.deb in build/package/, then
# checks it with lintian (no errors allowed) and appstreamcli.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh" package
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$top/build" --target zelvo-package-files -j"$(nproc)"

out="$top/build/package"
rm -rf "$out"
cpack --config "$top/build/CPackConfig.cmake" -B "$out"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$top/build/CMakeCache.txt")
deb="$out/zelvo-footswitch2_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "package.sh: cpack made no $deb" >&2; exit 1; }

echo "--- lintian"
lintian --fail-on error --display-info "$deb"
echo "--- appstreamcli"
tree="$out/tree"
dpkg-deb -x "$deb" "$tree"
appstreamcli validate-tree --no-net "$tree"
rm -rf "$tree"
echo "Package: $deb"
