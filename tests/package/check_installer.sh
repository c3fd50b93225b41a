#!/usr/bin/env bash
# Makes the Windows installer of a cross-build tree with cpack (NSIS) and checks it as a
# technician's scripted roll-out uses it, under Wine in a throw-away prefix: a silent install into
# Program Files\Pyrelink; the installed pyrelink-cli.exe's --version and an EEPROM READ from the
# simulated deco through it; the Start-menu entry and the entry in the installed programs with
# the version; then a silent uninstall that leaves none of its files, its shortcut or its entry,
# and keeps the technician's dump.
# Usage: tests/package/check_installer.sh [BUILD_WINDOWS]   (default: build-windows; built;
# its cache names the Wine and the native build with pyrelink-sim)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$source_dir/build-windows}" && pwd)

work=$(mktemp -d)
# shellcheck source=package_checks.sh
source "$source_dir/tests/package/package_checks.sh"
wine=$(cache PYRELINK_WINE)
native=$(cache PYRELINK_NATIVE_BUILD)
[[ -x $wine && -n $native ]] || { echo "FAILED: $build has no Wine or no native build" >&2; exit 1; }
wineserver=$(dirname "$wine")/wineserver
sim=$native/sim/pyrelink-sim
# A prefix of its own: the Wine tests may use theirs meanwhile.
export WINEPREFIX=$work/prefix WINEDEBUG=-all
# shellcheck source=../wine/sim_on_com1.sh
source "$source_dir/tests/wine/sim_on_com1.sh"
trap 'stop_sim; "$wineserver" -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
echo "== installer of $build (version $version)"

installer=$build/packages/pyrelink-$version-win64.exe
rm -f "$installer"
(cd "$build" && cpack -G NSIS -B "$build/packages") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; echo "FAILED: cpack -G NSIS" >&2; exit 1; }
[[ -f $installer ]] || { ls "$build/packages" >&2; echo "FAILED: no $(basename "$installer")" >&2; exit 1; }
file "$installer" | grep -q 'PE32+ executable' || fail "the installer is no 64-bit program"
ok "cpack made $(basename "$installer"), a 64-bit program"

drive=$WINEPREFIX/drive_c
folder="$drive/Program Files/Pyrelink"
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Pyrelink $version"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pyrelink'
"$wine" "$installer" /S >"$work/install.log" 2>&1 || fail "the silent install exits $?"
for file in pyrelink-cli.exe pyrelink.exe README.md LICENSE Uninstall.exe; do
  [[ -f $folder/$file ]] || fail "Program Files\\Pyrelink lacks $file"
done
cmp -s "$folder/README.md" "$source_dir/README.md" || fail "the installed README.md differs"
[[ -f $menu/Pyrelink.lnk ]] || fail "no Start-menu entry for the window: $(ls "$menu" 2>&1)"
entry=$("$wine" reg query "$key" 2>/dev/null | tr -d '\r')
grep -q "DisplayName *REG_SZ *Pyrelink $version" <<<"$entry" || fail "no installed-programs entry: $entry"
grep -q "DisplayVersion *REG_SZ *$version" <<<"$entry" || fail "the entry lacks the version: $entry"
ok "a silent install put the programs, README and LICENSE in Program Files\\Pyrelink, the Start-menu entry and the installed-programs entry with version $version"

cli="C:\\Program Files\\Pyrelink\\pyrelink-cli.exe"
[[ $("$wine" "$cli" --version | tr -d '\r') == "pyrelink-cli $version" ]] ||
  fail "the installed pyrelink-cli.exe --version: $("$wine" "$cli" --version 2>&1)"
head -c 2048 /dev/urandom >"$work/eeprom.bin"
start_sim --in-service --eeprom "$work/eeprom.bin"
mkdir -p "$work/technician"
(cd "$work/technician" && "$wine" "$cli" --port COM1 --service read --eeprom E.bin --yes \
  >out.txt 2>err.txt) || fail "the installed pyrelink-cli.exe's READ: $(tr -d '\r' <"$work/technician/err.txt")"
stop_sim
cmp -s "$work/technician/E.bin" "$work/eeprom.bin" || fail "the READ's E.bin is not the deco's EEPROM"
ok "the installed pyrelink-cli.exe says its version and read the simulated deco's EEPROM exactly"

# The uninstaller copies itself away and returns at once: its work is waited for.
"$wine" "$folder/Uninstall.exe" /S >"$work/uninstall.log" 2>&1 || fail "the silent uninstall exits $?"
gone() { [[ ! -e $folder && ! -e $menu ]]; }
for _ in $(seq 300); do gone && break; sleep 0.1; done
"$wineserver" -w >/dev/null 2>&1 || true
[[ ! -e $folder ]] || fail "the uninstall left: $(find "$folder")"
[[ ! -e $menu ]] || fail "the uninstall left the Start-menu entry: $(find "$menu")"
"$wine" reg query "$key" >/dev/null 2>&1 && fail "the uninstall left the installed-programs entry"
[[ -f $work/technician/E.bin ]] || fail "the uninstall took the technician's dump"
ok "a silent uninstall removed its files, its Start-menu entry and its entry; the technician's dump stays"

((failures == 0)) || exit 1
