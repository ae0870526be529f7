# Sourced by the client test runners: the project's Wine prefix, Windows paths
# for Unix ones, registration, and the check of a client's summary line.
_hosting_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$_hosting_root/scripts/wine-env"
vavizav_wine_prefix || exit 1

# Z: is the whole Unix file system in every Wine prefix.
winpath() {
  local path
  path=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  printf 'Z:%s' "${path//\//\\}"
}

# The built-in programs of one bitness: 32 runs the 32-bit ones (syswow64 in
# a 64-bit prefix), anything else those of the prefix's own bitness.
wine_bits() {
  local bits=$1
  shift
  if [ "$bits" = 32 ]; then wine "$@"; else vavizav_wine_native "$@"; fi
}

# Registers the component in this prefix with the regsvr32 of the DLL's
# bitness (32 or native); the clients create it by class name.
register_component() {
  wine_bits "${2:-native}" regsvr32 /s "$(winpath "$1")" || { echo "regsvr32 $1 failed (exit $?)"; return 1; }
}

# Passes when the output's last line reads "N passed, 0 failed" with N > 0.
# A script that stopped early (an error, a function Wine's VBScript lacks)
# never prints that line.
check_summary() {
  local output=$1 status=$2 last
  last=$(printf '%s\n' "$output" | tr -d '\r' | sed '/^$/d' | tail -n 1)
  if [[ $last =~ ^([0-9]+)\ passed,\ 0\ failed$ ]] && [ "${BASH_REMATCH[1]}" -gt 0 ] && [ "$status" -eq 0 ]; then
    return 0
  fi
  echo "client did not pass (exit $status, last line: '$last')"
  return 1
}
