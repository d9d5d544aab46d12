#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR). CMake's configure
# output is shown, ending with the summary of what this build is.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
# A new build folder gets Ninja: Make starts no object of a target before
# every target it links is whole, so a from-scratch build kept two cores
# busy only about two thirds of the time (6 min); Ninja waits only where an
# object needs a generated header or a link needs its libraries. A folder
# made before keeps its generator (CMake ignores this for it), as does one
# that asks for another with CMAKE_GENERATOR.
export CMAKE_GENERATOR="${CMAKE_GENERATOR:-Ninja}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@"
cmake --build "$build" -j"$(nproc)"
