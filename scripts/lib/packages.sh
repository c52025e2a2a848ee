# Sourced by the scripts that need Debian packages: ensure_packages WHO PACKAGE...
#
# Installs the packages that are missing, as root, and fails with one line when that is not
# possible. A failing `apt-get update` is only a warning: one broken index (a mirror half-way
# through a sync) must not stop an install whose packages the other indexes still offer, so the
# install itself decides.
ensure_packages() {
  local who=$1
  shift
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "$who: missing Debian packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
    return 1
  fi
  echo "$who: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null 2>&1 ||
    echo "$who: apt-get update failed for some package index; trying the install anyway" >&2
  local log
  log=$(mktemp)
  if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" >"$log" 2>&1; then
    echo "$who: could not install ${missing[*]}: $(grep -E '^E:' "$log" | head -n 1)" >&2
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}

# True when apt can install PACKAGE now (it has a candidate and its dependencies resolve).
package_installable() {
  apt-get install -s -qq --no-install-recommends "$1" >/dev/null 2>&1
}
