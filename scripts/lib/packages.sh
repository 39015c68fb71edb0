# shellcheck shell=bash
# Debian packages the scripts need, and the helper that installs the missing
# ones. Sourced by scripts/test and scripts/demo.

# One list for every script: add new build or oracle dependencies here.
QDPARSE_PACKAGES=(
  cmake
  g++
  ninja-build
  pkg-config
  googletest          # GoogleTest sources, built for the -m32 leg
  libgtest-dev
  g++-multilib
  qemu-user           # runs the -m32 tests: the kernel here has no 32-bit support
  g++-mingw-w64-i686  # the 32-bit Windows DLL
  clang               # fuzz targets
  libclang-rt-14-dev  # libFuzzer and the sanitizer runtimes for clang
  llvm-14             # llvm-symbolizer, for readable fuzz crash reports
  libjpeg-turbo-progs # djpeg: proves image data survives a rewrite
  libtiff-tools       # tiffinfo: reads TIFF outputs back
  libjpeg-dev         # the test fixtures carry real image data
  libimage-exiftool-perl # exiftool: reads written Exif blocks back
  exiv2               # a second Exif reader for the same blocks
  libcli11-dev        # the command-line tool's arguments
  nlohmann-json3-dev  # the command-line tool's JSON output
  libbenchmark-dev    # benchmarks
  gcovr               # scripts/coverage
  doxygen             # the docs target: API documentation from the headers
  python3-venv        # the python leg: Debian's python3 and its packages, no other index
  python3-setuptools
  python3-pytest
  python3-dask
  python3-distributed
  python3-fsspec
  python3-pandas
)

# True when the package is fully installed (not merely known to dpkg, which
# is what a removed package with leftover configuration files looks like).
qd_package_installed() {
  [[ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" == installed ]]
}

# What scripts/demo needs: a Release build of the library and the tool, and
# the sample files (real image data through libjpeg).
QDPARSE_DEMO_PACKAGES=(cmake g++ ninja-build pkg-config libjpeg-dev libcli11-dev nlohmann-json3-dev)

# What scripts/bench needs besides the demo's: the peers it is measured
# against and callgrind for instruction counts. Not needed by the tests.
QDPARSE_BENCH_PACKAGES=(libexiv2-dev libexif-dev valgrind)

# qd_ensure_packages [package...]: installs whichever of the named packages
# (default: QDPARSE_PACKAGES) are missing. apt-get update runs only when
# something has to be installed.
qd_ensure_packages() {
  local wanted=("$@") missing=() p
  [[ $# -gt 0 ]] || wanted=("${QDPARSE_PACKAGES[@]}")
  for p in "${wanted[@]}"; do
    qd_package_installed "$p" || missing+=("$p")
  done
  if [[ ${#missing[@]} -eq 0 ]]; then
    echo "packages: all ${#wanted[@]} present"
    return 0
  fi
  echo "packages: installing ${missing[*]}"
  local sudo=()
  if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "packages: need root or sudo to install ${missing[*]}" >&2; return 1; }
    sudo=(sudo)
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q </dev/null || return 1
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null || return 1
}
