#!/usr/bin/env bash
# Judges the built Debian package as the distribution would: lintian (no error, no warning) or
# appstreamcli on the AppStream metadata inside it. Skipped (status 77) where the tool or the
# package is missing.
#   check-package.sh lintian|appstream PACKAGE_DIR
set -euo pipefail
check=$1
dir=$2
shopt -s nullglob
packages=("$dir"/corvalin_*.deb)
if [ ${#packages[@]} -ne 1 ]; then
    echo "skipped: expected one corvalin_*.deb in $dir, found ${#packages[@]}; build it as the README's" \
        "Installing section says (scripts/quickstart.sh test does)"
    exit 77
fi
package=${packages[0]}
echo "judging $package ($(date -r "$package" '+%F %T'))"

case "$check" in
lintian)
    if ! command -v lintian >/dev/null; then
        echo "skipped: lintian is not installed (apt-get install lintian)"
        exit 77
    fi
    # No overrides are shipped, so every tag lintian finds counts.
    status=0
    report=$(lintian --fail-on error,warning --display-info "$package" 2>&1) || status=$?
    grep -v 'running with root privileges' <<<"$report" || true
    exit $status
    ;;
appstream)
    if ! command -v appstreamcli >/dev/null; then
        echo "skipped: appstreamcli is not installed (apt-get install appstream)"
        exit 77
    fi
    unpacked=$(mktemp -d)
    trap 'rm -rf "$unpacked"' EXIT
    dpkg-deb -x "$package" "$unpacked"
    metainfo=("$unpacked"/usr/share/metainfo/*.metainfo.xml)
    if [ ${#metainfo[@]} -ne 1 ]; then
        echo "the package holds ${#metainfo[@]} AppStream metainfo files, not one"
        exit 1
    fi
    report=$(appstreamcli validate --no-net "${metainfo[0]}" 2>&1) || { echo "$report"; exit 1; }
    echo "$report"
    # Warnings fail too; only pedantic notes may stay.
    if grep -qE '^(E|W|I):' <<<"$report"; then
        exit 1
    fi
    ;;
*)
    echo "usage: $0 lintian|appstream PACKAGE_DIR" >&2
    exit 2
    ;;
esac
