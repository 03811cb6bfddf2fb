#!/usr/bin/env bash
# ./dev.sh run   installs what is missing, builds and starts the player
# ./dev.sh test  installs what is missing, builds and runs every test
# ./dev.sh build installs what is missing and builds
# ./dev.sh package installs what is missing and builds the Debian package
# ./dev.sh fuzz [seconds]  builds the fuzz targets with clang in build-fuzz and runs each
#                          for the given time (60 s by default); not part of CI
# ./dev.sh sanitize [ctest args]  builds a Debug copy with ASan and UBSan in build-sanitize
#                                 and runs every test; any sanitizer report fails the run
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
build=${VX_BUILD_DIR:-$top/build}
mode=${1:-run}

# Installs whichever of the named Debian packages are missing.
install_packages() {
    local missing=()
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

install_deps() {
    local pkgs=()
    while read -r pkg; do
        [ -n "$pkg" ] && pkgs+=("$pkg")
    done < "$top/scripts/deps.txt"
    install_packages "${pkgs[@]}"
}

do_build() {
    local gen=() launcher=()
    command -v ninja >/dev/null && gen=(-G Ninja)
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    [ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" "${gen[@]}" "${launcher[@]}" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo
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
    # Ports a test asks the kernel for (port 0, and every connection's own end) never take the
    # program's fixed ones, which tests holding the fixed_ports lock bind meanwhile.
    "${ns[@]}" bash -c "ip link set lo up && echo 37400-37402 > /proc/sys/net/ipv4/ip_local_reserved_ports && cd '$build' && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 $*"
}

# Leak reports are off: Qt and its plugins keep process-lifetime allocations that
# would drown ours. Every other report aborts the test that made it, except the few
# of Qt's own headers listed in scripts/ubsan.supp.
do_sanitize() {
    local flags="-fsanitize=address,undefined -fno-omit-frame-pointer" gen=() launcher=()
    build=${VX_SANITIZE_DIR:-$top/build-sanitize}
    command -v ninja >/dev/null && gen=(-G Ninja)
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    [ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" "${gen[@]}" "${launcher[@]}" \
        -DCMAKE_BUILD_TYPE=Debug -DVX_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS="$flags" \
        -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags"
    cmake --build "$build" -j "$(nproc)"
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:suppressions="$top/scripts/ubsan.supp" \
        run_tests "$@"
}

# Each target starts from the seeds in fuzz/corpus/<target> and keeps what it finds in
# build-fuzz/corpus/<target>; a crash leaves its input in build-fuzz.
run_fuzz() {
    local seconds=${1:-60} out="$top/build-fuzz" gen=()
    # Only for fuzzing: clang, its libFuzzer and sanitizer runtimes, the symbolizer.
    install_packages clang libclang-rt-14-dev llvm-14
    command -v ninja >/dev/null && gen=(-G Ninja)
    [ -f "$out/CMakeCache.txt" ] || CXX=clang++ cmake -S "$top/fuzz" -B "$out" "${gen[@]}"
    cmake --build "$out" -j "$(nproc)"
    local failed=0
    for name in command_reader request_path library_file clock_packet tag_cache group_link \
        mpd_line_reader mpd_filter; do
        local dict=() work="$out/corpus/$name"
        [ -f "$top/fuzz/$name.dict" ] && dict=(-dict="$top/fuzz/$name.dict")
        mkdir -p "$work"
        echo "== fuzz_$name for $seconds s"
        (cd "$out" && ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=64 "./fuzz_$name" -max_total_time="$seconds" \
            -max_len=4096 -print_final_stats=1 "${dict[@]}" "$work" "$top/fuzz/corpus/$name") ||
            failed=1
    done
    return $failed
}

install_deps
case "$mode" in
    build) do_build ;;
    run) do_build; exec "$build/vxPlayer" ;;
    test) shift || true; do_build; run_tests "$@" ;;
    package) do_package ;;
    fuzz) shift || true; run_fuzz "$@" ;;
    sanitize) shift || true; do_sanitize "$@" ;;
    *) echo "usage: $0 run|test [ctest args]|build|package|fuzz [seconds]|sanitize [ctest args]" >&2; exit 2 ;;
esac
