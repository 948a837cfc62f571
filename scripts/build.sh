#!/usr/bin/env bash
# Configures and builds into ${TAVORIA_BUILD:-build}. Arguments go to cmake --build
# (e.g. --target tst_ini tst_remote to build only those).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${TAVORIA_BUILD:-$ROOT/build}"
cmake -S "$ROOT" -B "$BUILD" ${TAVORIA_CMAKE_ARGS:-} >/dev/null
cmake --build "$BUILD" -j"$(nproc)" "$@"
