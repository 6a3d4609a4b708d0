#!/usr/bin/env bash
# Builds the Debian packages torvix, updater and receiver-emulator into
# build/packages (OUT=... for another folder) and checks them with lintian:
#
#   bash scripts/package.sh
#   sudo apt install ./build/packages/torvix_*.deb
#
# The programs are built in build/package with Debian's compiler and linker
# flags (dpkg-buildflags, all hardening), then CPack makes one package per
# install component, its Depends found by dpkg-shlibdeps.  Installs what is
# missing (the build's packages, dpkg-dev, lintian); needs root or sudo only
# for that.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh dpkg-dev lintian

build=build/package
out=${OUT:-build/packages}
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
# Only what the packages hold: the programs, their manual pages and documents.
cmake --build "$build" --parallel "$(nproc)" \
  --target torvix torvix-cli updater updater-cli receiver-emulator package_documents

mkdir -p "$out"
rm -f "$out"/*.deb
cpack --config "$build/CPackConfig.cmake" -B "$out"
rm -rf "$out/_CPack_Packages"

echo
for deb in "$out"/*.deb; do
  dpkg-deb --show --showformat='${Package} ${Version}: ${Depends}\n' "$deb"
done
echo
# Errors fail the run; warnings are shown.  (Its remark about running as
# root is left out.)
status=0
report=$(lintian --fail-on error "$out"/*.deb 2>&1) || status=$?
report=$(grep -v 'running with root privileges' <<<"$report" || true)
echo "lintian: ${report:-no errors, no warnings}"
[ "$status" -eq 0 ] || { echo "package.sh: lintian found errors" >&2; exit 1; }
echo
echo "Install with:  sudo apt install $(printf './%s ' "$out"/*.deb)"
