# What a signed RUVO.exe remembers of accepted releases, for the scenarios:
# the registry values under HKCU\Software\RUVO, one per model and key set,
# named "<model>.<16 hex digits>" and holding "<serial> <64 hex digits>".
# Sourced by run-scenarios.sh; every function runs wine in the run's prefix.
#
#   key_set KEYID...            the 16 hex digits naming the record of these keys
#   release_key_set BIN         the same for the keys BIN's RUVO.exe trusts
#   reset_release_state         forgets every accepted release
#   seed_release_state FILE SET "MODEL SERIAL" lines: another release of that
#                               serial, as if accepted before
#   read_release_state          "MODEL SERIAL" lines, sorted

# SHA-256 of the key ids in ascending order, as the program names its records.
key_set() {
  local ids
  ids=$(printf '%s\n' "$@" | sort | tr -d '\n' | sed 's/../\\x&/g')
  # shellcheck disable=SC2059
  printf "$ids" | sha256sum | cut -c1-16
}

# The ids are in the build's generated header, one "// key id" line each.
release_key_set() {
  local header
  header=$(dirname "$1")/update/generated/update/release_keys.h
  # shellcheck disable=SC2046
  key_set $(sed -n 's|^ *// key id \([0-9a-f]\{16\}\)$|\1|p' "$header")
}

reset_release_state() {
  wine reg delete 'HKCU\Software\RUVO' /f >/dev/null 2>&1 </dev/null
  return 0
}

seed_release_state() {
  local file=$1 set=$2 model serial zeros
  zeros=$(printf '0%.0s' $(seq 64))
  sed -e 's/#.*//' "$file" | while read -r model serial; do
    [ -n "$model" ] || continue
    wine reg add 'HKCU\Software\RUVO' /v "$model.$set" /t REG_SZ /d "$serial $zeros" /f >/dev/null 2>&1 </dev/null ||
      return 1
  done
}

read_release_state() {
  wine reg query 'HKCU\Software\RUVO' 2>/dev/null </dev/null | tr -d '\r' |
    sed -n 's/^ *\([A-Za-z0-9._-]\{4\}\)\.[0-9a-f]\{16\} *REG_SZ *\([0-9]*\) .*$/\1 \2/p' | sort
}
