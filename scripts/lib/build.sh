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

# qd_install_stage [build dir]: installs a build (default: the default
# build) into a fresh staging prefix.
qd_install_stage() {
  rm -rf "$QD_STAGE"
  cmake --install "${1:-$QD_BUILD/default}" --prefix "$QD_STAGE"
}

# The installed shared library (the lib directory depends on GNUInstallDirs).
qd_staged_library() {
  local so
  so=$(find "$QD_STAGE" -name 'libqdparse.so' -print -quit)
  [[ -n $so ]] || { echo "no libqdparse.so under $QD_STAGE" >&2; return 1; }
  echo "$so"
}

# Builds tests/install against the staging prefix through find_package, on
# the shared and on the static library, and prints the two binaries' paths.
qd_build_consumer_cmake() {
  local dir=$QD_BUILD/consumer-cmake
  cmake -S "$QD_ROOT/tests/install" -B "$dir" -G Ninja \
    -DCMAKE_PREFIX_PATH="$QD_STAGE" >&2 &&
    cmake --build "$dir" -j"$QD_JOBS" >&2 &&
    echo "$dir/consumer-shared $dir/consumer-static"
}

# The same consumer built with one compiler line from pkg-config, shared
# (qdparse-host qdparse) and static (qdparse-host qdparse-static).
qd_build_consumer_pkgconfig() {
  local dir=$QD_BUILD/consumer-pkgconfig kind flags
  mkdir -p "$dir"
  for kind in shared static; do
    local packages="qdparse-host qdparse"
    [[ $kind == static ]] && packages="qdparse-host qdparse-static"
    # shellcheck disable=SC2086  # a word list
    flags=$(PKG_CONFIG_PATH=$(dirname "$(qd_staged_library)")/pkgconfig pkg-config --cflags --libs $packages) ||
      return 1
    echo "cc -std=c99 consumer.c $flags" >&2
    # shellcheck disable=SC2086  # pkg-config output is a word list
    cc -std=c99 -Wall -Wextra -pedantic -Werror "$QD_ROOT/tests/install/consumer.c" $flags \
      -o "$dir/consumer-$kind" >&2 || return 1
  done
  echo "$dir/consumer-shared $dir/consumer-static"
}

# The sample files of every kind, made by the tool build's sample maker.
qd_make_samples() {
  local build=$1 dir=$2
  cmake --build "$build" -j"$QD_JOBS" --target qdparse_samples >&2 &&
    "$build/tools/qdparse/qdparse_samples" "$dir"
}

# qd_run_consumer <binary> <camera file> <its model>: runs it against the
# staged shared library (the static one needs nothing).
qd_run_consumer() {
  LD_LIBRARY_PATH=$(dirname "$(qd_staged_library)")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} "$@"
}
