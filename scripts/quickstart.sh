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
    # The desktop's accessibility bus and its client library: the windows walked as a screen
    # reader walks them.
    packages+=(at-spi2-core python3-pyatspi)
    # The distribution's package checker and AppStream validator judge the built package.
    packages+=(lintian appstream)
    # The disks of other kinds the tests make and mount: memory cards and Windows disks through
    # FUSE, XFS and btrfs, and sshfs to an sshd of their own on the loopback.
    packages+=(exfat-fuse exfatprogs fusefat dosfstools ntfs-3g btrfs-progs xfsprogs sshfs openssh-server)
    # The power-cut harness's virtual machine: the emulator, the initramfs's shell, the module tools.
    packages+=(qemu-system-x86 busybox-static kmod)
fi

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The power-cut harness boots Debian's kernel: its package is fetched from the archive and unpacked
# into the build folder (some 400 MB), never installed. Without it that harness skips.
fetch_kernel() {
    local dir=build-test/power-cut package
    compgen -G "$dir/kernel/boot/vmlinuz-*" >/dev/null && return 0
    [ "$(dpkg --print-architecture)" = amd64 ] || return 0
    kernel_package() { apt-cache depends linux-image-amd64 2>/dev/null | awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'; }
    package=$(kernel_package)
    [ -n "$package" ] || { "${sudo[@]}" apt-get update -q && package=$(kernel_package); }
    mkdir -p "$dir" && rm -rf "$dir"/*.deb "$dir/kernel"
    if [ -n "$package" ] && (cd "$dir" && apt-get download -q "$package") &&
        dpkg-deb -x "$dir/${package}"_*.deb "$dir/kernel"; then
        rm -f "$dir"/*.deb
    else
        echo "Could not fetch Debian's kernel package; the power-cut harness will skip." >&2
    fi
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
    fetch_kernel
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
