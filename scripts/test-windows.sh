#!/usr/bin/env bash
# Cross-builds KelUbc for Windows x86_64 with MinGW-w64 and runs its tests
# under Wine, on Debian 12. What it needs beyond Debian's packages is kept in
# a cache folder outside the repository.
#   QT_MINGW_TARBALL  Qt 5.15 built for MinGW-w64 (a tarball unpacking to qt5-mingw/)
#                     default: ../shared/qt5-mingw/qt5.15.8-mingw-w64-x86_64.tar.xz (or ../../shared)
#   KELUBC_WIN_CACHE  the cache (default ~/.cache/kelubc-windows): Qt, simdjson, the Wine prefix
#   BUILD_DIR         build folder (default build-windows)
#   JOBS              parallel jobs (default: the number of cores)
#   CTEST_ARGS        extra ctest arguments, e.g. "-R ruvubc"
#   KELUBC_LINUX_DEMO a Linux ubc-demo (default build/bin/ubc-demo, if built): the
#                     scenario's records under Wine are compared with its records
#   KELUBC_WIN_BENCH  set: build the benchmarks instead of the tests (in
#                     build-windows-bench) and run scripts/bench.sh under Wine
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
cache=${KELUBC_WIN_CACHE:-$HOME/.cache/kelubc-windows}
tarball=${QT_MINGW_TARBALL:-}
if [ -z "$tarball" ]; then
    for shared in "$root/../shared" "$root/../../shared"; do
        tarball=$shared/qt5-mingw/qt5.15.8-mingw-w64-x86_64.tar.xz
        [ -f "$tarball" ] && break
    done
fi
build=${BUILD_DIR:-build-windows${KELUBC_WIN_BENCH:+-bench}}
jobs=${JOBS:-$(nproc)}
mkdir -p "$cache"

# 1. Debian's packages: the cross-compiler, Wine, zlib for MinGW, the tools
#    to fetch a source package, and jq for the fleet test's checks (its
#    servers' scripts install clickhouse-server and nginx).
packages=(cmake g++-mingw-w64-x86-64-posix wine64 libz-mingw-w64-dev xz-utils ca-certificates jq)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}"
fi

# 2. Qt for MinGW, unpacked once.
qt=$cache/qt5-mingw
if [ ! -f "$qt/bin/Qt5Core.dll" ]; then
    [ -f "$tarball" ] || { echo "no Qt for MinGW at $tarball (set QT_MINGW_TARBALL)" >&2; exit 1; }
    echo "Unpacking $tarball"
    tar -C "$cache" -xJf "$tarball"
fi

# 3. simdjson for MinGW (and Google Benchmark for KELUBC_WIN_BENCH), from
#    Debian's own source packages (the releases libsimdjson-dev and
#    libbenchmark-dev ship), each built with its CMake into $cache/deps.
#    Source packages need a deb-src entry: a private apt configuration in the
#    cache holds one, so the machine's own sources stay as they are.
deps=$cache/deps
# from_debian_source PACKAGE CMAKE-OPTIONS...
from_debian_source() {
    local package=$1 apt=$cache/apt orig
    shift
    mkdir -p "$apt/sources" "$apt/lists/partial" "$apt/cache/archives/partial" "$cache/src"
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        > "$apt/sources/debian-src.sources"
    local aptopts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt/sources"
                   -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o APT::Sandbox::User=root)
    apt-get "${aptopts[@]}" update -qq
    (cd "$cache/src" && apt-get "${aptopts[@]}" source --download-only "$package")
    orig=$(ls "$cache"/src/"$package"_*.orig.tar.gz | tail -1)
    rm -rf "$cache/$package-src" "$cache/$package-build" && mkdir -p "$cache/$package-src"
    tar -C "$cache/$package-src" --strip-components=1 -xzf "$orig"
    cmake -S "$cache/$package-src" -B "$cache/$package-build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/MinGW-w64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DCMAKE_INSTALL_PREFIX="$deps" "$@" > /dev/null
    cmake --build "$cache/$package-build" -j"$jobs"
    cmake --install "$cache/$package-build" > /dev/null
}
[ -f "$deps/lib/libsimdjson.a" ] || from_debian_source simdjson -DSIMDJSON_DEVELOPER_MODE=OFF
if [ -n "${KELUBC_WIN_BENCH:-}" ] && [ ! -f "$deps/lib/libbenchmark.a" ]; then
    from_debian_source benchmark -DBENCHMARK_ENABLE_TESTING=OFF -DBENCHMARK_ENABLE_WERROR=OFF
fi

# 4. Wine: a prefix of its own, quiet, headless. Wine hands a program only
#    the QT_* settings spelt WINEQT_* (the others are for the host's own Qt):
#    the offscreen platform, Qt's plugins, and fonts for it to draw with.
#    Programs find the Qt and MinGW runtime DLLs on WINEPATH; the build
#    itself runs ubc-dict.exe.
export WINEPREFIX=$cache/wine WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
export WINEQT_QPA_PLATFORM=offscreen WINEQT_PLUGIN_PATH=$qt/plugins
if [ -d /usr/share/fonts/truetype/dejavu ]; then export WINEQT_QPA_FONTDIR=/usr/share/fonts/truetype/dejavu; fi
gccdir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
winepath="$qt/bin;$gccdir;/usr/x86_64-w64-mingw32/lib"
export WINEPATH="$root/$build/bin;$winepath"
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
trap '"$wineserver" -k 2>/dev/null || true' EXIT
[ -d "$WINEPREFIX" ] || { echo "Creating the Wine prefix"; "$wine" wineboot --init > /dev/null 2>&1 || true; }

# 5. Cross-build and test.
# ccache: a fresh clone elsewhere (CI) hits what an earlier one compiled.
launcher=()
if command -v ccache > /dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1
fi
bench=()
[ -n "${KELUBC_WIN_BENCH:-}" ] && bench=(-DKELUBC_BUILD_TESTS=OFF -DKELUBC_BUILD_BENCH=ON)
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/MinGW-w64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQT_MINGW_PREFIX="$qt" -DKELUBC_MINGW_DEPS="$deps" -DCMAKE_PREFIX_PATH="$qt;$deps" \
    -DKELUBC_WINEPATH="$winepath" "${launcher[@]}" "${bench[@]}"
if [ -n "${KELUBC_WIN_BENCH:-}" ]; then
    # Wall time: Wine's CPU times come in coarse steps. The targets are
    # Linux's; under Wine only the ratios say something.
    BENCH_PREBUILT=1 BENCH_RUNNER="$wine" BENCH_EXE=.exe BENCH_TIME=real_time BUILD_DIR="$build" scripts/bench.sh || true
    exit
fi
cmake --build "$build" -j"$jobs"

# 6. The same records as on Linux, when a Linux demo is at hand.
linux_demo=${KELUBC_LINUX_DEMO:-build/bin/ubc-demo}
if [ -x "$linux_demo" ]; then
    tests/ubc-demo/same_on_windows.sh "$linux_demo" "$build/bin/ubc-demo.exe" "$build/same-on-windows"
else
    echo "no Linux ubc-demo at $linux_demo: records not compared (set KELUBC_LINUX_DEMO)"
fi

# 7. The tests. The Linux-only ones (label clickhouse) are left out;
#    fleet_windows runs the Windows programs under Wine against the Linux
#    clickhouse-server and gateway, which it starts and stops. Wine passes no
#    output through ctest's pipe: each QtTest log is in $build/Testing/qtest/
#    (the scripted tests' output shows on failure).
# shellcheck disable=SC2086
ctest --test-dir "$build" -j"$jobs" -LE clickhouse --output-on-failure ${CTEST_ARGS:-} ||
    { grep -hE "^(FAIL|SKIP)|Totals" "$build"/Testing/qtest/*.txt; exit 1; }
grep -hE "^SKIP" "$build"/Testing/qtest/*.txt || true
