# The program's version, major.minor.build, as resources/version.h writes
# it once. Shared by script/package, the demo and tests/e2e/package.sh.
# Source it; it defines functions only.

: "${KIVVET_ROOT:=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"

# kivvet_version: prints "2.23.15" (KIVVET_VERSION_TEXT); fails, saying
# so, when the header has none or it disagrees with the three numbers.
kivvet_version() {
  local header="$KIVVET_ROOT/resources/version.h" text numbers
  text=$(sed -nE 's/^#define KIVVET_VERSION_TEXT "([0-9.]+)"$/\1/p' "$header")
  numbers=$(for part in MAJOR MINOR BUILD; do
    sed -nE "s/^#define KIVVET_VERSION_$part ([0-9]+)$/\1/p" "$header"
  done | paste -sd.)
  if [ -z "$text" ] || [ "$text" != "$numbers" ]; then
    echo "no version in $header (text '$text', numbers '$numbers')" >&2
    return 1
  fi
  echo "$text"
}

# kivvet_app_id: prints the AppUserModelID (KIVVET_APP_USER_MODEL_ID)
# that the program, its shortcut and the installer's registry key share.
kivvet_app_id() {
  local id
  id=$(sed -nE 's/^#define KIVVET_APP_USER_MODEL_ID "([A-Za-z0-9.]+)"$/\1/p' "$KIVVET_ROOT/resources/version.h")
  [ -n "$id" ] || { echo "no AppUserModelID in resources/version.h" >&2; return 1; }
  echo "$id"
}
