# shellcheck shell=bash
# Build steps shared by scripts/test and scripts/demo. Sourced; expects
# QD_ROOT (the repository root) to be set.

QD_BUILD=${QD_BUILD:-$QD_ROOT/build}   # another folder for runs side by side
QD_JOBS=2
QD_STAGE=$QD_BUILD/stage   # staging prefix for cmake --install

# qd_configure <build dir> [cmake arguments...]
qd_configure() {
  local dir=$1
  shift
  # A directory configured by hand with another generator cannot be reused.
  if [[ -f $dir/CMakeCache.txt ]] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$dir/CMakeCache.txt"; then
    echo "$dir was configured with another generator; starting it afresh"
    rm -rf "$dir"
  fi
  cmake -S "$QD_ROOT" -B "$dir" -G Ninja "$@"
}

# qd_build <build dir>
qd_build() {
  cmake --build "$1" -j"$QD_JOBS"
}

# The default configuration: what a developer builds, with the tests.
qd_build_default() {
  qd_configure "$QD_BUILD/default" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQDPARSE_BUILD_TESTS=ON &&
    qd_build "$QD_BUILD/default"
}

# Installs the default build into a fresh staging prefix.
qd_install_stage() {
  rm -rf "$QD_STAGE"
  cmake --install "$QD_BUILD/default" --prefix "$QD_STAGE"
}

# The installed shared library (the lib directory depends on GNUInstallDirs).
qd_staged_library() {
  local so
  so=$(find "$QD_STAGE" -name 'libqdparse.so' -print -quit)
  [[ -n $so ]] || { echo "no libqdparse.so under $QD_STAGE" >&2; return 1; }
  echo "$so"
}

# Builds tests/install against the staging prefix through find_package, and
# prints the path of the consumer binary.
qd_build_consumer_cmake() {
  local dir=$QD_BUILD/consumer-cmake
  cmake -S "$QD_ROOT/tests/install" -B "$dir" -G Ninja \
    -DCMAKE_PREFIX_PATH="$QD_STAGE" >&2 &&
    cmake --build "$dir" -j"$QD_JOBS" >&2 &&
    echo "$dir/consumer"
}

# The same consumer built with one compiler line from pkg-config.
qd_build_consumer_pkgconfig() {
  local dir=$QD_BUILD/consumer-pkgconfig flags
  mkdir -p "$dir"
  flags=$(PKG_CONFIG_PATH=$(dirname "$(qd_staged_library)")/pkgconfig pkg-config --cflags --libs qdparse) || return 1
  echo "cc -std=c99 consumer.c $flags" >&2
  # shellcheck disable=SC2086  # pkg-config output is a word list
  cc -std=c99 -Wall -Wextra -pedantic -Werror "$QD_ROOT/tests/install/consumer.c" $flags \
    -o "$dir/consumer" >&2 &&
    echo "$dir/consumer"
}

# qd_run_consumer <binary>: runs it against the staged shared library.
qd_run_consumer() {
  LD_LIBRARY_PATH=$(dirname "$(qd_staged_library)")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} "$1"
}
