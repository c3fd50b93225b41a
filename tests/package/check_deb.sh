#!/usr/bin/env bash
# Makes the .deb of a Linux build tree with cpack and checks it as a technician gets it: its
# control fields and the libraries it depends on, the note after installation, the files it
# holds; then, unpacked into a throw-away root, each program's --version and man page, the
# desktop entry and its icon, and a READ of the EEPROM by the unpacked pyrelink-cli from the
# unpacked pyrelink-sim, which must give the simulator's EEPROM.
# Usage: tests/package/check_deb.sh [BUILD]   (default: build; configured, built)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$source_dir/build}" && pwd)

work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=package_checks.sh
source "$source_dir/tests/package/package_checks.sh"
programs=(pyrelink-cli pyrelink-sim)
[[ $(cache PYRELINK_GUI) == ON ]] && programs+=(pyrelink)
echo "== .deb of $build (version $version; ${programs[*]})"

deb=$build/packages/pyrelink_${version}_$(dpkg --print-architecture).deb
rm -f "$deb"
(cd "$build" && cpack -G DEB -B "$build/packages") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; echo "FAILED: cpack -G DEB" >&2; exit 1; }
[[ -f $deb ]] || { ls "$build/packages" >&2; echo "FAILED: no $(basename "$deb")" >&2; exit 1; }
ok "cpack made $(basename "$deb")"

# Control fields; Depends from dpkg-shlibdeps names the C library and the C++ runtime.
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == pyrelink ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version)"
for name in Maintainer Section Description; do
  [[ -n $(field "$name") ]] || fail "no $name field"
done
depends=$(field Depends)
needed=(libc6 libstdc++6 libssl3)
[[ " ${programs[*]} " == *" pyrelink "* ]] && needed+=(libqt6widgets6 qt6-qpa-plugins)
depends_names=$(tr ',' '\n' <<<"$depends" | awk '{print $1}')
for package in "${needed[@]}"; do
  grep -qxF "$package" <<<"$depends_names" || fail "Depends lacks $package: $depends"
done
ok "control: $(field Package) $(field Version), section $(field Section); Depends: $depends"

# The note after installation names the group and changes nobody's groups.
mkdir "$work/control"
dpkg-deb -e "$deb" "$work/control"
postinst=$work/control/postinst
if [[ -x $postinst ]]; then
  mkdir "$work/stubs"
  for tool in adduser usermod gpasswd addgroup groupadd; do
    printf '#!/bin/sh\necho "%s $*" >>"%s/group-changes"\n' "$tool" "$work" >"$work/stubs/$tool"
    chmod +x "$work/stubs/$tool"
  done
  note=$(PATH="$work/stubs:$PATH" sh "$postinst" configure) || fail "postinst configure exits $?"
  grep -q dialout <<<"$note" || fail "the postinst note does not name the group dialout: $note"
  [[ ! -e $work/group-changes ]] || fail "postinst changes groups: $(cat "$work/group-changes")"
  ok "postinst says: $(head -n 1 <<<"$note")"
else
  fail "no executable postinst"
fi

# The files: programs, man pages, desktop entry and icon, README and the licence.
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$work/contents"
expected=(/usr/share/doc/pyrelink/README.md /usr/share/doc/pyrelink/LICENSE
          /usr/share/doc/pyrelink/copyright /usr/lib/udev/rules.d/60-pyrelink-ftdi-latency.rules)
for program in "${programs[@]}"; do
  expected+=("/usr/bin/$program" "/usr/share/man/man1/$program.1.gz")
done
if [[ " ${programs[*]} " == *" pyrelink "* ]]; then
  expected+=(/usr/share/applications/pyrelink.desktop
             /usr/share/icons/hicolor/scalable/apps/pyrelink.svg
             /usr/share/icons/hicolor/256x256/apps/pyrelink.png)
fi
for file in "${expected[@]}"; do
  grep -qxF "$file" "$work/contents" || fail "the package lacks $file"
done
# Nothing of the build or the tests comes along.
extra=$(grep -v '/$' "$work/contents" | grep -vxF -f <(printf '%s\n' "${expected[@]}") || true)
[[ -z $extra ]] || fail "the package holds more than it should: $extra"
ok "holds the ${#expected[@]} files: programs, man pages, desktop entry, icons, README, copyright, udev rule"

root=$work/root
dpkg -x "$deb" "$root"
cmp -s "$root/usr/share/doc/pyrelink/copyright" "$source_dir/LICENSE" ||
  fail "copyright is not the LICENSE"
# The udev rule sets the latency timer of FTDI adapters only, when they are added.
rule=$root/usr/lib/udev/rules.d/60-pyrelink-ftdi-latency.rules
rules=$(grep -v '^#' "$rule" | grep -v '^$')
[[ $rules == 'ACTION=="add", SUBSYSTEM=="usb-serial", DRIVER=="ftdi_sio", ATTR{latency_timer}="1"' ]] ||
  fail "the udev rule is not the FTDI latency timer's alone: $rules"
ok "the udev rule sets an FTDI adapter's latency timer to 1 ms when it is plugged in"

# A READ of the EEPROM by the unpacked programs (about 10 s of the protocol's fixed pauses):
# started first, checked last.
head -c 2048 /dev/urandom >"$work/eeprom.bin"
"$root/usr/bin/pyrelink-sim" --no-announce --ignore-stdin --eeprom "$work/eeprom.bin" \
  >"$work/sim.out" 2>&1 &
sim_pid=$!
port=""
for _ in $(seq 100); do
  port=$(head -n 1 "$work/sim.out" 2>/dev/null || true)
  [[ $port == /dev/* ]] && break
  sleep 0.05
done
read_status=1
if [[ $port == /dev/* ]]; then
  (cd "$work" && "$root/usr/bin/pyrelink-cli" --port "$port" read --eeprom E.bin --yes \
    >read.out 2>&1) &
  read_pid=$!
else
  fail "the unpacked pyrelink-sim did not start: $(cat "$work/sim.out")"
fi

for program in "${programs[@]}"; do
  said=$("$root/usr/bin/$program" --version 2>&1) || fail "$program --version exits $?"
  [[ $said == "$program $version" ]] || fail "$program --version says '$said'"
  missing_libraries=$(ldd "$root/usr/bin/$program" | grep 'not found' || true)
  [[ -z $missing_libraries ]] || fail "$program: $missing_libraries"
  page=$root/usr/share/man/man1/$program.1.gz
  MANPAGER=cat MANWIDTH=80 man --warnings -l -Tutf8 "$page" >"$work/$program.man" \
    2>"$work/$program.man-warnings" || fail "man -l $program.1 exits $?"
  [[ ! -s $work/$program.man-warnings ]] ||
    fail "man -l $program.1 warns: $(cat "$work/$program.man-warnings")"
  sed 's/.\x08//g' "$work/$program.man" >"$work/$program.txt"
  grep -qE "^ +$program +- " "$work/$program.txt" || fail "$program.1 has no NAME line for $program"
  grep -qF "Pyrelink $version" "$work/$program.txt" || fail "$program.1 does not carry $version"
  grep -qE '@[A-Z_]+@' "$work/$program.txt" && fail "$program.1 holds an unconfigured @VARIABLE@"
done
ok "${programs[*]}: --version says $version, every library found, man -l renders without warnings"

if [[ " ${programs[*]} " == *" pyrelink "* ]]; then
  entry=$root/usr/share/applications/pyrelink.desktop
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "desktop-file-validate pyrelink.desktop"
  fi
  exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
  icon_name=$(sed -n 's/^Icon=//p' "$entry")
  [[ -n $exec_name && -x $root/usr/bin/$exec_name ]] || fail "Exec=$exec_name is not in usr/bin"
  png=$root/usr/share/icons/hicolor/256x256/apps/$icon_name.png
  svg=$root/usr/share/icons/hicolor/scalable/apps/$icon_name.svg
  [[ $(head -c 8 "$png" 2>/dev/null | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] ||
    fail "Icon=$icon_name: $png is not a PNG"
  grep -q '<svg' "$svg" 2>/dev/null || fail "Icon=$icon_name: $svg is not an SVG"
  ok "desktop entry runs $exec_name with the icon $icon_name (PNG and SVG)"
fi

if [[ $port == /dev/* ]]; then
  wait "$read_pid" && read_status=0 || read_status=$?
  if ((read_status != 0)); then
    fail "the unpacked pyrelink-cli read exits $read_status: $(cat "$work/read.out")"
  elif ! cmp -s "$work/E.bin" "$work/eeprom.bin"; then
    fail "the EEPROM read ($(stat -c %s "$work/E.bin" 2>/dev/null || echo no) bytes) is not the simulator's"
  else
    ok "the unpacked pyrelink-cli read the unpacked pyrelink-sim's 2048-byte EEPROM exactly"
  fi
fi

((failures == 0)) || echo "FAILED: the .deb: $failures check(s)" >&2
((failures == 0))
