#!/usr/bin/env bash
# `cmake --install` lays the program out as a Linux desktop program, and `cpack` makes a Debian package of
# it that depends on every library it links and on the daemon that advertises it.
#
#   tests/scripts/install-package.sh BUILD_DIR ICON_SIDE...
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=../support/script-test.sh
. "$(dirname "$0")/../support/script-test.sh"

build=$1
shift
sides=("$@")
for tool in cpack desktop-file-validate dpkg-deb dpkg-shlibdeps file readelf; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/install-deps.sh installs it)"
done

validates() {
  local result
  if result=$(desktop-file-validate "$1" 2>&1) && [[ -z "$result" ]]; then
    return 0
  fi
  echo "$result" >&2
  return 1
}

is_png_of_side() {
  [[ "$(file "$1")" == *"PNG image data, $2 x $2,"* ]]
}

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 || {
  cat "$scratch/install.log" >&2
  fail "cmake --install failed"
}
entry=$prefix/share/applications/velm-host.desktop
check "the program is in bin/" test -x "$prefix/bin/velm-host"
check "its desktop entry is in share/applications/" test -f "$entry"
check "desktop-file-validate passes on it" validates "$entry"
check "it runs the program" contains "$entry" "Exec=velm-host"
check "it names the program's icon" contains "$entry" "Icon=velm-host"
check "it is a network program for remote access" contains "$entry" "Categories=Network;RemoteAccess;"
check "it has a name and a comment" grep -q '^Comment=.' "$entry"
for side in "${sides[@]}"; do
  check "the icon is in the hicolor theme at ${side}x$side" \
    is_png_of_side "$prefix/share/icons/hicolor/${side}x$side/apps/velm-host.png" "$side"
done

cpack -G DEB -B "$scratch/package" --config "$build/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1 || {
  cat "$scratch/cpack.log" >&2
  fail "cpack made no package"
}
package=$(find "$scratch/package" -maxdepth 1 -name 'velm-host_*.deb' | head -n 1)
check "cpack made a Debian package" test -n "$package"
dpkg-deb --contents "$package" >"$scratch/contents"
for file in ./usr/bin/velm-host ./usr/share/applications/velm-host.desktop \
  "./usr/share/icons/hicolor/${sides[0]}x${sides[0]}/apps/velm-host.png"; do
  check "the package holds $file" contains "$scratch/contents" "$file"
done

# Each package the Debian package depends on, without versions; alternatives count too.
depends=$(dpkg-deb --field "$package" Depends)
mapfile -t depended < <(tr ',|' '\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//')
depends_on() {
  local name
  for name in "${depended[@]}"; do
    [[ "$name" == "$1" ]] && return 0
  done
  echo "Depends: $depends" >&2
  return 1
}

# The package that holds a library: dpkg knows some under /usr/lib and some under /lib.
owner_of() {
  local path=$1 resolved owner
  resolved=$(readlink -f "$path")
  for candidate in "$resolved" "$path" "${resolved#/usr}" "/usr$path"; do
    owner=$(dpkg -S "$candidate" 2>/dev/null | head -n 1) && [[ -n "$owner" ]] && {
      echo "${owner%%:*}"
      return 0
    }
  done
  return 1
}

check "it depends on avahi-daemon" depends_on avahi-daemon
mapfile -t needed < <(readelf --dynamic "$build/velm-host" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
check "the program links libraries" test "${#needed[@]}" -gt 0
ldd "$build/velm-host" >"$scratch/ldd"
for library in "${needed[@]}"; do
  # "NAME => PATH (ADDRESS)", or "PATH (ADDRESS)" for the loader itself.
  path=$(awk -v name="$library" '
    $1 == name && $2 == "=>" { print $3; exit }
    $1 ~ ("/" name "$") { print $1; exit }' "$scratch/ldd")
  [[ "$path" == /* ]] || fail "the loader finds no $library"
  owner=$(owner_of "$path") || fail "no package holds $library ($path)"
  check "it depends on $owner for $library" depends_on "$owner"
done
