# Sourced by the scripts: installs the Debian packages the build, the tests and
# the benchmarks need, when any of them is missing (a warm run does nothing).
TESSARA_PACKAGES="g++ clang cmake ninja-build pkg-config libjpeg-dev libpng-dev libtiff-dev zlib1g-dev \
libgtest-dev qt6-base-dev imagemagick netpbm libtiff-tools libjpeg-turbo-progs xvfb xauth libclang-rt-14-dev \
libopencv-core-dev libopencv-imgproc-dev libopencv-features2d-dev libopencv-calib3d-dev libopencv-flann-dev libexiv2-dev liblcms2-dev \
desktop-file-utils appstream man-db groff-base bsdextrautils dpkg-dev fakeroot"

tessara_install_deps() {
  local missing=()
  for p in $TESSARA_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq || true
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}
