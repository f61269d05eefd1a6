#!/bin/bash
# Developer and CI entry point.  On a fresh Debian 12 machine, as root:
#   scripts/orx.sh run    install what is missing, build, start the Orx shell
#   scripts/orx.sh test   check the layers, install what is missing, build,
#                         run every test
# Further: build, asan, fuzz [seconds], bench, windows, windows-test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
here=$(pwd)
cd "$top"
jobs=$(nproc)

deps() {
    local pkgs=(build-essential cmake ninja-build clang lld libclang-rt-14-dev
                tcl8.6 tcl8.6-dev zlib1g-dev libgtest-dev libbenchmark-dev expect dpkg-dev
                libedit-dev)
    local missing=()
    for p in "${pkgs[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "installing: ${missing[*]}" >&2
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# Progress goes to standard error: "run" keeps standard output for the shell.
build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    ninja -C build -j"$jobs" >&2
}

purify_tcl() {
    scripts/build-purify-tcl.sh "$top/build/tcl-purify"
}

build_asan() {
    purify_tcl
    CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DORX_SANITIZE=ON -DORX_BENCH=OFF -DORX_TCL_ROOT="$top/build/tcl-purify" >/dev/null
    ninja -C build-asan -j"$jobs"
}

build_fuzz() {
    purify_tcl
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DORX_FUZZ=ON -DORX_TESTS=OFF -DORX_BENCH=OFF -DORX_TCL_ROOT="$top/build/tcl-purify" >/dev/null
    ninja -C build-fuzz -j"$jobs"
}

san_env() {
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/tests/support/lsan.supp}
}

fuzz() {
    local secs=${1:-60}
    build_fuzz
    san_env
    local status=0
    for t in build-fuzz/fuzz/*_fuzz; do
        local name
        name=$(basename "$t")
        local corpus=fuzz/corpus/${name%_fuzz}
        local work=build-fuzz/corpus/${name%_fuzz}
        mkdir -p "$corpus" "$work"
        echo "== $name for ${secs}s"
        "$t" -max_total_time="$secs" -print_final_stats=0 "$work" "$corpus" \
            >"build-fuzz/$name.log" 2>&1 || { status=1; tail -40 "build-fuzz/$name.log"; }
        grep -E '^(Done|#[0-9]+ *DONE)' "build-fuzz/$name.log" | tail -1 || true
    done
    return $status
}

# ---- Windows: cross-built with mingw-w64, tested under wine64 ---------------
# Tcl and GoogleTest for Windows are built once from Debian's source packages
# into build-win/tcl-win and build-win/gtest-win (scripts/build-win-deps.sh);
# the wine prefix is build-win/wine.
win_deps() {
    local pkgs=(cmake ninja-build tcl8.6 dpkg-dev mingw-w64 g++-mingw-w64-x86-64-posix wine64)
    local missing=()
    for p in "${pkgs[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "installing: ${missing[*]}" >&2
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

wine_env() {
    export WINEPREFIX="$top/build-win/wine" WINEDEBUG=-all
    wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
    wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
}

build_win() {
    win_deps
    scripts/build-win-deps.sh tcl build-win/tcl-win
    local gtest=ON
    if ! scripts/build-win-deps.sh gtest build-win/gtest-win; then
        echo "no GoogleTest for Windows: the tcltest suites only" >&2
        gtest=OFF
    fi
    wine_env
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$wine64" wineboot -i >/dev/null 2>&1 || true
    fi
    cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
        -DORX_TCL_ROOT="$top/build-win/tcl-win" -DCMAKE_PREFIX_PATH="$top/build-win/gtest-win" \
        -DORX_BENCH=OFF -DORX_GTEST=$gtest >/dev/null
    ninja -C build-win -j"$jobs" >&2
}

passed=0 failed=0 skipped=0
run_tests() {
    local dir=$1 status=0
    (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 600) | tee "$dir/ctest.log" || status=1
    local line
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$dir/ctest.log" | tail -1)
    if [ -n "$line" ]; then
        local total nfail
        total=$(echo "$line" | sed -E 's/.* out of ([0-9]+).*/\1/')
        nfail=$(echo "$line" | sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/')
        local nskip
        nskip=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*\*\*\*Skipped' "$dir/ctest.log" || true)
        passed=$((passed + total - nfail - nskip))
        failed=$((failed + nfail))
        skipped=$((skipped + nskip))
    else
        status=1
    fi
    return $status
}

usage() {
    cat <<'EOT'
usage: scripts/orx.sh command ?arguments?
  run ?orxsh arguments?  install what is missing, build, start the Orx shell
  test                   check the layers (scripts/check-layers.sh), install
                         what is missing, build, run every test (normal,
                         sanitizer, and a short fuzzing pass)
  build                  the normal build in build/
  asan                   the sanitizer build in build-asan/ and its tests
  fuzz ?seconds?         every fuzz target for the given time (default 60)
  bench                  the benchmarks: our time, stock Tcl's, the ratio
  windows                the Windows build in build-win/ (mingw-w64; Tcl for
                         Windows built once from Debian's source)
  windows-test           the Windows build's tests under wine64
  deps                   install the Debian packages the build needs
EOT
}

case ${1:-} in
    ""|-h|--help|help) usage; exit 0 ;;
    deps) deps ;;
    build) deps; build ;;
    run)
        deps; build
        if [ -x build/install/bin/orxsh ]; then
            cd "$here" # scripts named on the command line are the caller's
            exec env PATH="$top/build/install/bin:$PATH" "$top/build/install/bin/orxsh" "${@:2}"
        elif [ -x build/host/orxsh ]; then
            exec build/host/orxsh "${@:2}"
        else
            exec build/tests/orx_testhost scripts/demo.tcl
        fi
        ;;
    test)
        echo "== layers"
        scripts/check-layers.sh
        deps; build
        echo "== tests"
        run_tests build
        echo "== sanitizer build (ASan+UBSan, PURIFY Tcl)"
        build_asan
        san_env
        run_tests build-asan
        echo "== fuzz smoke"
        fuzz "${ORX_FUZZ_SECONDS:-20}"
        echo "== normal and sanitizer test runs together"
        echo "tests: $passed passed, $failed failed, $skipped skipped"
        ;;
    asan) deps; build_asan; san_env; run_tests build-asan ;;
    fuzz) deps; fuzz "${2:-60}" ;;
    bench) deps; build; ninja -C build bench ;;
    windows) build_win ;;
    windows-test)
        build_win
        # One wine server for the whole run, ended with it.
        "$wineserver" -p
        trap '"$wineserver" -k 2>/dev/null || true' EXIT
        status=0
        run_tests build-win || status=1
        echo "windows: $skipped test(s) skipped"
        echo "$passed passed, $failed failed"
        exit $status
        ;;
    *) usage >&2; exit 2 ;;
esac
