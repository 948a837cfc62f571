#!/usr/bin/env bash
# Configures and builds into ${TAVORIA_BUILD:-build}. Arguments go to cmake --build
# (e.g. --target tst_ini tst_remote to build only those).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${TAVORIA_BUILD:-$ROOT/build}"
# TAVORIA_WERROR=1 (as CI sets it) turns the warnings into errors.
cmake -S "$ROOT" -B "$BUILD" -DTAVORIA_WERROR="${TAVORIA_WERROR:-0}" ${TAVORIA_CMAKE_ARGS:-} >/dev/null
cmake --build "$BUILD" -j"$(nproc)" "$@"
