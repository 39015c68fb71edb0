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

# Builds examples/ against the staging prefix through find_package (read_file
# also on the static library) and prints the build folder.
qd_build_examples() {
  local dir=$QD_BUILD/examples
  cmake -S "$QD_ROOT/examples" -B "$dir" -G Ninja -DCMAKE_PREFIX_PATH="$QD_STAGE" >&2 &&
    cmake --build "$dir" -j"$QD_JOBS" >&2 &&
    echo "$dir"
}

# examples/read_file.c built with one compiler line from pkg-config, shared
# (qdparse-host qdparse) and static (qdparse-host qdparse-static); prints the
# two binaries.
qd_build_read_file_pkgconfig() {
  local dir=$QD_BUILD/examples-pkgconfig kind flags packages
  mkdir -p "$dir"
  for kind in shared static; do
    packages="qdparse-host qdparse"
    [[ $kind == static ]] && packages="qdparse-host qdparse-static"
    # shellcheck disable=SC2086  # a word list
    flags=$(PKG_CONFIG_PATH=$(dirname "$(qd_staged_library)")/pkgconfig pkg-config --cflags --libs $packages) ||
      return 1
    echo "cc -std=c99 read_file.c $flags" >&2
    # shellcheck disable=SC2086  # pkg-config output is a word list
    cc -std=c99 -Wall -Wextra -pedantic -Werror "$QD_ROOT/examples/read_file.c" $flags \
      -o "$dir/read_file-$kind" >&2 || return 1
  done
  echo "$dir/read_file-shared $dir/read_file-static"
}

# The sample files of every kind, made by the tool build's sample maker.
qd_make_samples() {
  local build=$1 dir=$2
  cmake --build "$build" -j"$QD_JOBS" --target qdparse_samples >&2 &&
    "$build/tools/qdparse/qdparse_samples" "$dir"
}

# qd_run_staged <program> [arguments...]: runs a program against the staged
# shared library (one linked statically needs nothing).
qd_run_staged() {
  LD_LIBRARY_PATH=$(dirname "$(qd_staged_library)")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} "$@"
}
