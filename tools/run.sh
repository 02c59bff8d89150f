#!/bin/sh
# Installs what is missing, builds into build/, prepares the working folder build/run/ (the
# Master tables and the listing script) and starts Quillnet there.
set -eu
cd "$(dirname "$0")/.."

packages="cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-liberation2 qt6-qpa-plugins nmap"
./tools/ensure-packages.sh $packages

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Quillnet needs a graphical desktop: neither DISPLAY nor WAYLAND_DISPLAY is set." >&2
    exit 1
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs" --target quillnet master_tables

work=build/run
mkdir -p "$work"
[ -d "$work/Master" ] || cp -R build/Master "$work/Master"
for f in discovery/*.sh; do
    [ -e "$f" ] || continue
    [ -e "$work/$(basename "$f")" ] || cp "$f" "$work/"
done
cd "$work"
exec ../program/quillnet "$@"
