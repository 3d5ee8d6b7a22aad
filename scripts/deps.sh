# Sourced by the project's scripts: installs the Debian packages the build needs.
ORVALINQUIST_PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  android-liblog-dev android-libutils-dev
  android-libcutils-dev android-libbase-dev xz-utils  # the Android compile check
  bluez bluez-test-tools
  mksh toybox  # the stand-in device's shell and userland, as on Android
  man-db groff-base dpkg-dev file lintian  # the install check: man page, .deb, its Depends, lintian
)

ensure_packages() {
  local missing=()
  local pkg
  for pkg in "${ORVALINQUIST_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Run as root:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
