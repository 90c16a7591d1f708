#!/usr/bin/env bash
# Makes the Debian packages (build/package/*.deb) and checks them with
# lintian: every tag it still reports must be explained in the package's
# lintian overrides (cmake/package/*.lintian-overrides).
#   bash scripts/package.sh          then: apt-get install ./build/package/*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --package
out=build/package
echo "== Debian packages: building in $out"
# Debian's hardening flags (stack protector, fortified functions, read-only relocations, immediate binding).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DQUORVEL_WERROR=OFF \
  -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$out" -j "$(nproc)"
rm -f "$out"/*.deb
(cd "$out" && cpack -G DEB >cpack.log 2>&1) || { cat "$out/cpack.log" >&2; exit 1; }
echo "== the packages"
for deb in "$out"/*.deb; do
  printf '%-48s %s\n' "$(basename "$deb")" "$(dpkg-deb -f "$deb" Depends)"
done
echo "== lintian"
# Runs as root here; lintian says so and goes on.
lintian --fail-on error,warning --display-info --allow-root "$out"/*.deb
echo "packages made and checked: $out/*.deb"
