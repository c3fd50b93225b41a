# What the package checks share (sourced): counting failures instead of stopping at the first,
# and the build tree's settings. Needs build (a configured build tree).
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
# Says what a group of checks found, when none of them failed.
reported=0
ok() {
  ((failures == reported)) && echo "ok: $*"
  reported=$failures
}

cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache CMAKE_PROJECT_VERSION)
[[ -n $version ]] || { echo "FAILED: $build is not a configured build tree" >&2; exit 1; }
