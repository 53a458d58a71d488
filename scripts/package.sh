#!/usr/bin/env bash
# Builds what users install, into build/packages/:
#   ruvo-flash_<version>-1_<arch>.deb, ruvo-pack_<version>-1_<arch>.deb
#     and their -dbgsym .ddeb (debug information kept apart);
#   ruvo-<version>-windows-x64.zip (RUVO.exe, ruvo-flash.exe, ruvo-pack.exe,
#     README.txt) and ruvo-<version>-windows-x64-debug.zip (their .debug files);
#   SHA256SUMS of all of them.
# The publisher's server and keys come from the environment, as for any build:
#   RUVO_UPDATE_BASE_URL   e.g. https://updates.example.org/BRELM/
#   RUVO_RELEASE_KEYS      PEM public keys separated by ";" (never a test-only
#                          key: the build refuses those)
#   RUVO_RELEASE_KEY_THRESHOLD
# Without a base URL the packages talk to the loopback test server: their
# names end in "-not-for-release" and `ruvo-flash --version` says so.
set -euo pipefail
RUVO_ROOT=${RUVO_ROOT:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$RUVO_ROOT"
JOBS=${RUVO_JOBS:-2}
OUT=build/packages
VERSION=$(sed -n 's/^project(RUVO VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

publisher=(-DRUVO_UPDATE_BASE_URL="${RUVO_UPDATE_BASE_URL:-http://127.0.0.1/BRELM/}"
           -DRUVO_RELEASE_KEYS="${RUVO_RELEASE_KEYS:-}"
           -DRUVO_RELEASE_KEY_THRESHOLD="${RUVO_RELEASE_KEY_THRESHOLD:-1}"
           -DRUVO_ALLOW_TEST_KEYS=OFF -DRUVO_ALLOW_PLAIN_HTTP=OFF -DRUVO_TESTS=OFF)

rm -rf "$OUT"
mkdir -p "$OUT"

echo "== Debian packages"
cmake -S . -B build/package-linux -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  "${publisher[@]}" >/dev/null
cmake --build build/package-linux -j "$JOBS"
(cd build/package-linux && cpack -G DEB -B "$RUVO_ROOT/$OUT/cpack" >/dev/null)
mv "$OUT"/cpack/*.deb "$OUT"/cpack/*.ddeb "$OUT"/ 2>/dev/null || true
ls "$OUT"/*.deb "$OUT"/*.ddeb >/dev/null
rm -rf "$OUT/cpack"

# The build decides whether it is for release (cmake/packages.cmake names the
# packages); the zip follows its packages.
suffix=""
compgen -G "$OUT/ruvo-flash_*-not-for-release.deb" >/dev/null && suffix=-not-for-release

echo "== Windows zip"
cmake --preset windows -B build/package-windows "${publisher[@]}" >/dev/null
cmake --build build/package-windows -j "$JOBS" --target RUVO ruvo-flash ruvo-pack
zip_dir=$OUT/zip/ruvo-$VERSION-windows-x64
debug_dir=$OUT/zip/ruvo-$VERSION-windows-x64-debug
mkdir -p "$zip_dir" "$debug_dir"
for program in RUVO.exe ruvo-flash.exe ruvo-pack.exe; do
  # The debug information apart, the program stripped and pointing at it.
  x86_64-w64-mingw32-objcopy --only-keep-debug "build/package-windows/bin/$program" "$debug_dir/$program.debug"
  x86_64-w64-mingw32-objcopy --strip-all --add-gnu-debuglink="$debug_dir/$program.debug" \
    "build/package-windows/bin/$program" "$zip_dir/$program"
done
cp packaging/windows/README.txt "$zip_dir/"
(cd "$OUT/zip" && cmake -E tar cf "../ruvo-$VERSION-windows-x64$suffix.zip" --format=zip "$(basename "$zip_dir")" &&
  cmake -E tar cf "../ruvo-$VERSION-windows-x64-debug$suffix.zip" --format=zip "$(basename "$debug_dir")")
rm -rf "$OUT/zip"

(cd "$OUT" && sha256sum -- *.deb *.ddeb *.zip >SHA256SUMS)
echo "== $OUT"
ls -l "$OUT"
