# Sourced by the client test runners: the project's Wine prefix, the shared
# helpers (Windows paths for Unix ones, registration) and the check of a
# client's summary line.
_hosting_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$_hosting_root/scripts/wine-env"
. "$_hosting_root/scripts/wine-helpers"
vavizav_wine_prefix || exit 1
# The class names, GUIDs and version, as the build wrote them (both trees hold the same).
for _identity in "$_hosting_root/build/win32/identity.sh" "$_hosting_root/build/win64/identity.sh"; do
  if [ -f "$_identity" ]; then . "$_identity"; break; fi
done

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
