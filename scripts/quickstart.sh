#!/usr/bin/env bash
# Sets up a Debian 12 or Ubuntu machine for Corvalin, builds it, and then either starts the
# program (run) or runs every test headless (test).
#   scripts/quickstart.sh run | test
set -euo pipefail
mode=${1:-run}
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

packages=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev fonts-noto-cjk)
# The WebP and TIFF readers for the previews of those picture types.
packages+=(qt6-image-formats-plugins)
if [ "$mode" = test ]; then
    packages+=(clang-format xvfb xauth openbox xdotool x11-utils imagemagick desktop-file-utils util-linux clang libclang-rt-14-dev)
    # The desktop's own trash client, which reads back what the tests trashed (gvfs holds its
    # trash:// module); mkfs.ext4 makes the second file system some tests mount.
    packages+=(libglib2.0-bin gvfs gvfs-daemons dbus e2fsprogs)
    # The distribution's package checker and AppStream validator judge the built package.
    packages+=(lintian appstream)
fi

install_missing() {
    local missing=() sudo=()
    for p in "${packages[@]}"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

case "$mode" in
run)
    install_missing
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVALIN_BUILD_TESTS=OFF
    cmake --build build -j"$jobs"
    exec ./build/corvalin
    ;;
test)
    install_missing
    # Tests are built with AddressSanitizer and UndefinedBehaviorSanitizer.
    cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVALIN_SANITIZE=ON
    cmake --build build-test -j"$jobs"
    # The Debian package, built once as users get it, for the package checks among the tests.
    cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVALIN_BUILD_TESTS=OFF
    cmake --build build-deb -j"$jobs"
    rm -f build-deb/corvalin*.deb build-deb/corvalin*.ddeb
    (cd build-deb && cpack -G DEB >/dev/null)
    ctest --test-dir build-test --output-on-failure -j"$jobs"
    # The fuzz checks once more as libFuzzer targets, a bounded run each; they need clang.
    if command -v clang++ >/dev/null 2>&1; then
        cmake -S tests/fuzz/libfuzzer -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++
        cmake --build build-fuzz -j"$jobs"
        ctest --test-dir build-fuzz --output-on-failure -j"$jobs"
    fi
    ;;
*)
    echo "usage: $0 run | test" >&2
    exit 2
    ;;
esac
