#!/usr/bin/env bash
# The packages as users meet them (build/packages, from scripts/package.sh):
#   - lintian finds no error in the .deb files (its warnings are shown);
#   - each .deb installs into a throwaway system: the system's own /usr, /etc
#     and /var under an overlay in a mount namespace of this run, so dpkg and
#     the maintainer scripts run for real and the machine keeps nothing. The
#     installed tools answer --version and --help, the udev rule, man page,
#     completion and copyright are where they belong, the installed
#     ruvo-flash finds an emulated hidraw device (ruvo-sim --hidraw), and a
#     purge leaves none of the package's files behind;
#   - the Windows zip holds exactly its four files, and its ruvo-flash.exe
#     answers --version under Wine;
#   - SHA256SUMS matches.
# Needs root (namespaces, overlays, FUSE); otherwise exits 77 (skipped).
#   install_test.sh [PACKAGES_DIR [NATIVE_BUILD_DIR]]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
INFO=20030A1F414243010000000052313030
if [ "${1:-}" = --throwaway ]; then
  BUILD=$4
else
  PACKAGES=$(cd "${1:-$ROOT/build/packages}" && pwd)
  BUILD=$(cd "${2:-$ROOT/build/native}" && pwd)
fi

if [ "${1:-}" = --throwaway ]; then :; elif [ "${RUVO_SESSION:-}" != 1 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "needs root (mount namespaces, overlays, emulated hidraw nodes): skipped"
    exit 77
  fi
  exec "$ROOT/scripts/session.sh" --hidraw "$0" "$PACKAGES" "$BUILD"
fi

failures=0
pass() { echo "ok   $1"; }
fail() { echo "FAIL $1"; failures=$((failures + 1)); }

# --- inside a throwaway system: install, look, purge ----------------------------
# Runs in a mount namespace of its own: /usr, /etc and /var are overlays whose
# changes land in a tmpfs that goes with the namespace.
throwaway() {  # PACKAGE DEB
  local package=$1 deb=$2 scratch dir
  scratch=$(mktemp -d /tmp/ruvo-throwaway.XXXXXX)
  mount -t tmpfs tmpfs "$scratch"
  for dir in usr etc var; do
    mkdir -p "$scratch/$dir/up" "$scratch/$dir/work"
    mount -t overlay overlay -o "lowerdir=/$dir,upperdir=$scratch/$dir/up,workdir=$scratch/$dir/work" "/$dir"
  done
  if DEBIAN_FRONTEND=noninteractive dpkg -i "$deb" >"$scratch/dpkg.out" 2>&1; then pass "$package: installs"
  else fail "$package: dpkg -i"; sed 's/^/     /' "$scratch/dpkg.out"; return; fi

  local tool=/usr/bin/$package
  if "$tool" --version >"$scratch/version" 2>&1 && grep -q "^$package [0-9.]* (revision " "$scratch/version"; then
    pass "$package: installed --version: $(head -n1 "$scratch/version")"
  else fail "$package: --version"; cat "$scratch/version"; fi
  if "$tool" --help >"$scratch/help" 2>&1 && grep -q "^usage: $package" "$scratch/help"; then pass "$package: installed --help"
  else fail "$package: --help"; head -5 "$scratch/help"; fi
  local files=("/usr/share/man/man1/$package.1.gz" "/usr/share/bash-completion/completions/$package"
               "/usr/share/doc/$package/copyright" "/usr/share/doc/$package/changelog.Debian.gz")
  [ "$package" = ruvo-flash ] && files+=(/usr/lib/udev/rules.d/70-ruvo.rules)
  [ "$package" = ruvo-pack ] && files+=(/usr/share/doc/ruvo-pack/examples/nginx-release.conf)
  local file
  for file in "${files[@]}"; do
    if [ -f "$file" ]; then pass "$package: $file"; else fail "$package: no $file"; fi
  done
  if [ "$(man -w "$package" 2>/dev/null)" = "/usr/share/man/man1/$package.1.gz" ]; then pass "$package: man finds its page"
  else fail "$package: man -w $package: $(man -w "$package" 2>&1)"; fi

  if [ "$package" = ruvo-flash ]; then
    # The installed tool, through hidapi, on an emulated hidraw node.
    mkfifo "$scratch/sim.in"
    "$BUILD/tools/simulator/ruvo-sim" --hidraw 0 --info "$INFO" <>"$scratch/sim.in" >"$scratch/sim.out" 2>&1 &
    local sim=$!
    for _ in $(seq 100); do grep -q '^ruvo-sim ready' "$scratch/sim.out" && break; sleep 0.05; done
    if "$tool" list >"$scratch/list" 2>&1 && grep -q "/dev/hidraw0: .*model R100" "$scratch/list"; then
      pass "ruvo-flash: the installed tool lists the device on /dev/hidraw0"
    else fail "ruvo-flash: list"; sed 's/^/     /' "$scratch/list" "$scratch/sim.out"; fi
    echo quit >"$scratch/sim.in"
    wait "$sim" || true
  fi

  dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -n 's|^\./|/|p' | grep -v '/$' >"$scratch/files"
  if DEBIAN_FRONTEND=noninteractive dpkg --purge "$package" >"$scratch/dpkg.out" 2>&1; then pass "$package: purges"
  else fail "$package: dpkg --purge"; sed 's/^/     /' "$scratch/dpkg.out"; fi
  local left
  left=$( (while read -r file; do [ -e "$file" ] && echo "$file"; done <"$scratch/files"
          find "$scratch/usr/up" "$scratch/etc/up" -type f) || true)
  if [ -z "$left" ]; then pass "$package: nothing left behind ($(wc -l <"$scratch/files") files installed and removed)"
  else fail "$package: left behind:"; echo "$left" | sed 's/^/     /'; fi
}

if [ "${1:-}" = --throwaway ]; then
  throwaway "$2" "$3"
  exit $((failures > 0))
fi

# --- the packages as files ----------------------------------------------------
if (cd "$PACKAGES" && sha256sum --quiet -c SHA256SUMS); then pass "SHA256SUMS matches every package"
else fail "SHA256SUMS"; fi

lintian_out=$(mktemp /tmp/ruvo-lintian.XXXXXX)
if lintian --fail-on error --tag-display-limit 0 "$PACKAGES"/*.deb >"$lintian_out" 2>&1; then
  pass "lintian: no errors ($(grep -c '^W:' "$lintian_out" || true) warnings, shown below)"
else fail "lintian"; fi
grep -v 'running with root privileges' "$lintian_out" | sed 's/^/     /'
rm -f "$lintian_out"

for package in ruvo-flash ruvo-pack; do
  deb=$(ls "$PACKAGES/${package}_"*.deb)
  if unshare --mount --propagation private "$0" --throwaway "$package" "$deb" "$BUILD"; then :; else failures=$((failures + 1)); fi
done

# --- the Windows zip -------------------------------------------------------------
zip=$(find "$PACKAGES" -maxdepth 1 -name 'ruvo-*-windows-x64*.zip' ! -name '*-debug*' | head -n1)
unzipped=$(mktemp -d /tmp/ruvo-zip.XXXXXX)
(cd "$unzipped" && cmake -E tar xf "$zip")
listing=$(cd "$unzipped" && find . -type f | sed 's|^\./[^/]*/||' | sort | tr '\n' ' ')
if [ "$listing" = "README.txt RUVO.exe ruvo-flash.exe ruvo-pack.exe " ]; then pass "the zip holds exactly: $listing"
else fail "the zip holds: $listing"; fi
# Stripped, and nothing of the tests: no test-only key id in any program.
for program in "$unzipped"/*/*.exe; do
  if x86_64-w64-mingw32-objdump -h "$program" | grep -q '\.debug_info'; then fail "$(basename "$program") carries debug information"
  else pass "$(basename "$program") is stripped"; fi
done
# The test-only key ids as the programs would hold them: 8 raw bytes each.
test_key_ids=()
for id in 6479c7bdad0f2145 19804222e904f473 346574fe19483a57; do
  test_key_ids+=(-e "$(printf "$(echo "$id" | sed 's/../\\x&/g')")")
done
if LC_ALL=C grep -q -a -F "${test_key_ids[@]}" "$unzipped"/*/*.exe; then
  fail "a program of the zip trusts a test-only key"
else pass "no program of the zip trusts a test-only key"; fi
if wine "$(ls "$unzipped"/*/ruvo-flash.exe)" --version >"$unzipped/version" 2>/dev/null </dev/null &&
  grep -q "^ruvo-flash [0-9.]* (revision " "$unzipped/version"; then
  pass "ruvo-flash.exe from the zip under Wine: $(head -n1 "$unzipped/version" | tr -d '\r')"
else fail "ruvo-flash.exe --version from the zip"; cat "$unzipped/version"; fi
rm -rf "$unzipped"

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
