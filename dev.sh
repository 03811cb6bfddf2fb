#!/usr/bin/env bash
# ./dev.sh run   installs what is missing, builds and starts the player
# ./dev.sh test  installs what is missing, builds and runs every test
# ./dev.sh build installs what is missing and builds
# ./dev.sh package installs what is missing and builds the Debian package
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
build=${VX_BUILD_DIR:-$top/build}
mode=${1:-run}

install_deps() {
    local missing=()
    while read -r pkg; do
        [ -n "$pkg" ] || continue
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || missing+=("$pkg")
    done < "$top/scripts/deps.txt"
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

do_build() {
    local gen=()
    command -v ninja >/dev/null && gen=(-G Ninja)
    [ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$build" -j "$(nproc)"
}

# The package is built in a folder of its own, without tests and benchmarks.
do_package() {
    local pkgbuild=${VX_PACKAGE_DIR:-$top/build-package} gen=()
    command -v ninja >/dev/null && gen=(-G Ninja)
    cmake -S "$top" -B "$pkgbuild" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVX_BUILD_TESTS=OFF -DVX_BUILD_BENCH=OFF
    cmake --build "$pkgbuild" -j "$(nproc)"
    (cd "$pkgbuild" && cpack -G DEB)
    ls "$pkgbuild"/vellox-player_*.deb
}

# Tests run in a private network namespace with only loopback up, so nothing
# they send can leave this machine.
run_tests() {
    local ns=(unshare -n)
    [ "$(id -u)" -eq 0 ] || ns=(unshare -rn)
    "${ns[@]}" bash -c "ip link set lo up && cd '$build' && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 $*"
}

install_deps
case "$mode" in
    build) do_build ;;
    run) do_build; exec "$build/vxPlayer" ;;
    test) shift || true; do_build; run_tests "$@" ;;
    package) do_package ;;
    *) echo "usage: $0 run|test [ctest args]|build|package" >&2; exit 2 ;;
esac
