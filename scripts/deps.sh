# Debian packages the build, the tests and the run need; sourced by scripts/test and scripts/run.
PYRELINK_PACKAGES=(cmake g++ make libgtest-dev libcli11-dev nlohmann-json3-dev libssl-dev qt6-base-dev
                   fonts-urw-base35)
# Only the tests need these: the second compiler with libFuzzer, the Windows cross-build with
# Wine with a virtual X server, mouse and keyboard for the Windows window under it, what makes
# and checks the packages (dpkg-shlibdeps finds the .deb's dependencies), and the compiler cache
# that lets a second run on one machine rebuild only what changed.
PYRELINK_TEST_PACKAGES=(clang libfuzzer-14-dev googletest g++-mingw-w64-x86-64-posix wine64
                        xvfb xauth xdotool dpkg-dev man-db desktop-file-utils unzip ccache nsis)

# Installs the packages above that are missing, and those named as arguments.
install_deps() {
  local missing=()
  for package in "${PYRELINK_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
      || missing+=("$package")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}
