#!/bin/sh
# Installs what is missing, builds into build/ (and build-asan/ with ASan/UBSan) and runs
# every test with CTest; builds the installed program in Release (build-release/) and checks
# its Debian package; runs the fuzz targets for a bounded time. Warnings are errors here.
set -eu
cd "$(dirname "$0")/.."

packages="cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev libbenchmark-dev
  python3-dbfread python3-dbf libdbd-xbase-perl fonts-liberation2 dnsmasq-base bind9-dnsutils nmap poppler-utils
  clang libclang-rt-14-dev lld samba samba-common-bin
  desktop-file-utils appstream lintian dpkg-dev file"
./tools/ensure-packages.sh $packages

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLNET_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLNET_SANITIZE=ON -DQUILLNET_WERROR=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"

# What a packager builds: Release, only the installed targets; then the Debian package.
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DQUILLNET_BENCH=OFF -DQUILLNET_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr
cmake --build build-release -j "$jobs"
tools/check-package.sh build-release

# Fuzz targets for the .dbf and .mdx readers, the expression parser and damage between store
# operations (clang, libFuzzer, ASan/UBSan), each for a bounded time; a crash fails the run.
tools/run-fuzz.sh 37
