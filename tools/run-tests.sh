#!/bin/sh
# Installs what is missing, builds into build/ (and build-asan/ with ASan/UBSan) and runs
# every test with CTest.
set -eu
cd "$(dirname "$0")/.."

packages="cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev libbenchmark-dev
  python3-dbfread python3-dbf libdbd-xbase-perl fonts-liberation2 dnsmasq-base bind9-dnsutils poppler-utils
  clang libclang-rt-14-dev samba samba-common-bin"
./tools/ensure-packages.sh $packages

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLNET_SANITIZE=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"

# Fuzz targets for the .dbf and .mdx readers, the expression parser and damage between store
# operations (clang, libFuzzer, ASan/UBSan), each for a bounded time; a crash fails the run.
tools/run-fuzz.sh 37
