#!/usr/bin/env bash
# Makes the zip of a Windows cross-build tree with cpack and checks it as a technician gets it:
# the programs (pyrelink.exe when the build has the window), README and LICENSE side by side and
# nothing else; each program's version resource names the project's version and its file; under
# Wine (when the build found one) each program's --version.
# Usage: tests/package/check_zip.sh [BUILD_WINDOWS]   (default: build-windows; built)
# Uses WINEPREFIX when set, otherwise a throw-away prefix.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$source_dir/build-windows}" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck source=package_checks.sh
source "$source_dir/tests/package/package_checks.sh"
programs=(pyrelink-cli.exe)
# The window, where this build makes one.
if [[ -n $(find "$build" -name pyrelink.exe -not -path "$build/packages/*" -print -quit) ]]; then
  programs+=(pyrelink.exe)
fi
echo "== zip of $build (version $version; ${programs[*]})"

top=pyrelink-$version-win64
zip=$build/packages/$top.zip
rm -f "$zip"
(cd "$build" && cpack -G ZIP -B "$build/packages") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; echo "FAILED: cpack -G ZIP" >&2; exit 1; }
[[ -f $zip ]] || { ls "$build/packages" >&2; echo "FAILED: no $(basename "$zip")" >&2; exit 1; }
ok "cpack made $(basename "$zip")"

unzip -Z1 "$zip" | grep -v '/$' | sort >"$work/contents"
printf "$top/%s\n" "${programs[@]}" README.md LICENSE | sort >"$work/expected"
diff "$work/expected" "$work/contents" >"$work/contents.diff" ||
  fail "the zip holds other files than expected (< missing, > extra): $(cat "$work/contents.diff")"
unzip -q "$zip" -d "$work/unpacked"
cmp -s "$work/unpacked/$top/README.md" "$source_dir/README.md" || fail "README.md differs"
cmp -s "$work/unpacked/$top/LICENSE" "$source_dir/LICENSE" || fail "LICENSE differs"
ok "holds $(echo $(sed "s|^$top/||" "$work/expected")) in $top/"

# The resource's strings are UTF-16: each name is followed by its value.
resource_value() {  # exe, name
  { strings -el "$1" | grep -A1 -xF "$2" || true; } | sed -n 2p
}
for program in "${programs[@]}"; do
  exe=$work/unpacked/$top/$program
  for name in FileVersion ProductVersion; do
    value=$(resource_value "$exe" "$name")
    [[ $value == "$version" ]] || fail "$program: $name is '$value', expected '$version'"
  done
  value=$(resource_value "$exe" OriginalFilename)
  [[ $value == "$program" ]] || fail "$program: OriginalFilename is '$value'"
done
ok "the version resource of ${programs[*]} says $version"

wine=$(cache PYRELINK_WINE)
if [[ -n $wine && -x $wine ]]; then
  if [[ -z ${WINEPREFIX:-} ]]; then
    export WINEPREFIX=$work/wine
    trap '"$(dirname "$wine")/wineserver" -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
  fi
  for program in "${programs[@]}"; do
    [[ $program == pyrelink.exe ]] && continue  # a window: it has no console to answer on
    said=$(WINEDEBUG=-all "$wine" "$work/unpacked/$top/$program" --version 2>/dev/null |
      tr -d '\r') || fail "$program --version under Wine exits $?"
    [[ $said == "${program%.exe} $version" ]] || fail "$program --version under Wine says '$said'"
  done
  ok "under Wine, pyrelink-cli.exe --version says $version"
fi

((failures == 0)) || echo "FAILED: the zip: $failures check(s)" >&2
((failures == 0))
