#!/usr/bin/env bash
# Runs a test executable as an unprivileged user, since root ignores file permissions: as "nobody"
# through setpriv when started as root, directly otherwise. The executable (and the leak
# suppressions it is told to read) are copied to a folder that user may enter, because the build
# tree may lie below a home folder closed to others.
#   run_unprivileged.sh TEST [ARGS...]
set -euo pipefail
test=$1
shift
if [ "$(id -u)" -ne 0 ]; then
    exec "$test" "$@"
fi
# Not under $TMPDIR, which may be a folder closed to others.
stage=$(mktemp -d /tmp/corvalin-unprivileged-XXXXXX)
trap 'rm -rf "$stage"' EXIT
chmod 755 "$stage"
cp "$test" "$stage/"
mkdir "$stage/home"
chown 65534:65534 "$stage/home"
if [[ ${LSAN_OPTIONS:-} =~ suppressions=([^:]*) ]]; then
    cp "${BASH_REMATCH[1]}" "$stage/lsan.supp"
    export LSAN_OPTIONS=${LSAN_OPTIONS/"${BASH_REMATCH[1]}"/$stage/lsan.supp}
fi
cd "$stage"
HOME=$stage/home TMPDIR=$stage/home \
    setpriv --reuid=65534 --regid=65534 --clear-groups "$stage/$(basename "$test")" "$@"
