#!/usr/bin/env bash
# Installs the build into a scratch folder, builds the out-of-tree consumer
# (tests/package/consumer) against it through the CMake package and through
# pkg-config, runs both, then moves the installed tree and does it again: the
# package files must follow the tree. The consumers run inside netns-run.
#
#   package-consumer.sh BUILD_DIR NETNS_RUN C_COMPILER GENERATOR VERSION
set -euo pipefail

build=$1 netns_run=$2 cc=$3 generator=$4 version=$5
source_dir=$(cd "$(dirname "$0")/consumer" && pwd)
work=$build/package-test/consumer
rm -rf "$work"
mkdir -p "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/installed" >"$work/install.log"

# build_and_run TREE NAME: both consumers against TREE, each run once.
build_and_run() {
    local tree=$1 name=$2
    echo "== $name: CMake package =="
    cmake -S "$source_dir" -B "$work/$name-cmake" -G "$generator" -DCMAKE_C_COMPILER="$cc" \
        -DCMAKE_PREFIX_PATH="$tree" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null
    cmake --build "$work/$name-cmake" >/dev/null
    "$netns_run" -- "$work/$name-cmake/consumer" | tee "$work/out"
    grep -qF "GEVTLKRV $version from $(realpath "$tree")/lib/GEVTLKRV/GEVTLKRV.cti" "$work/out" ||
        fail "the CMake package names another producer than $tree's"

    echo "== $name: pkg-config =="
    export PKG_CONFIG_PATH=$tree/lib/pkgconfig
    local cflags cti
    cflags=$(pkg-config --cflags gevtlkrv)
    cti=$(pkg-config --variable=cti gevtlkrv)
    [ "$(pkg-config --modversion gevtlkrv)" = "$version" ] || fail "pkg-config version"
    # shellcheck disable=SC2086 # the flags are words
    "$cc" $cflags -DGEVTLKRV_CTI="\"$cti\"" "$source_dir/consumer.c" -o "$work/$name-pc" -ldl
    "$netns_run" -- "$work/$name-pc" | tee "$work/out"
    grep -qF "GEVTLKRV $version from $(realpath "$tree")/lib/GEVTLKRV/GEVTLKRV.cti" "$work/out" ||
        fail "the pkg-config file names another producer than $tree's"
}

build_and_run "$work/installed" installed
mv "$work/installed" "$work/moved"
build_and_run "$work/moved" moved
echo "package consumers: PASS"
