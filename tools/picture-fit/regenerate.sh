#!/bin/sh
# Rebuilds the picture tables in one step.
#
#   tools/picture-fit/regenerate.sh            redraw src/picture/source.png, fit it,
#                                              refresh the pictures in docs/images
#   tools/picture-fit/regenerate.sh IMAGE.png  fit your own image instead
#
# Either way src/picture/triangles.bin and shades.bin are rewritten; rebuild
# the program afterwards (cmake --build build) to embed them. Set TOLMAR_BUILD
# to use a build folder other than build/, SEED for another seed.
set -eu

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${TOLMAR_BUILD:-$root/build}
seed=${SEED:-1}

bash "$root/tools/setup-debian.sh" tools
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLMAR_TESTS=OFF
fi
cmake --build "$build" --target picture-fit picture-source

tools="$build/tools/picture-fit"
preview="$build/picture-preview"
mkdir -p "$preview"

if [ $# -eq 0 ]; then
    "$tools/picture-source" "$root/src/picture/source.png"
    "$tools/picture-fit" "$root/src/picture/source.png" --seed "$seed" \
        --out "$root/src/picture" --preview "$preview"
    mkdir -p "$root/docs/images"
    for name in source whole window-00599 window-08999 window-17999; do
        cp "$preview/picture-$name.png" "$root/docs/images/picture-$name.png"
    done
else
    "$tools/picture-fit" "$1" --seed "$seed" --out "$root/src/picture" --preview "$preview"
fi
echo "previews in $preview"
