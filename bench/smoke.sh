#!/usr/bin/env bash
# The benchmark at a tiny size, run with the tests so that it keeps building and running: every
# variant must finish its job and the ratios must be printed. No timing is judged.
#   smoke.sh CORVALIN_BENCH
set -euo pipefail
output=$("$1" --folders 10 --pictures 50 --others 5 --distinct 5 --megapixels 0.05)
echo "$output"
if grep -q ' failed$' <<<"$output" || ! grep -q 'a/d = ' <<<"$output" || ! grep -q 'b/e = [0-9]' <<<"$output" ||
    ! grep -q 's/e = [0-9]' <<<"$output"; then
    echo "a variant failed, or no ratios were printed" >&2
    exit 1
fi

# A few variants by name: only those run, and the ratios of the others show as "-".
output=$("$1" --folders 4 --pictures 20 --others 2 --distinct 5 --megapixels 0.05 --only a0,e)
echo "$output"
if grep -q ' failed$' <<<"$output" || ! grep -q 'a0/e = [0-9]' <<<"$output" || grep -q '(b) core' <<<"$output"; then
    echo "--only ran other variants, or a chosen one failed" >&2
    exit 1
fi

# The slow-disk model: the journal's flushes are counted (one a folder at least), and the flush
# budget of (a) against (a0) is printed with the time it allows.
output=$("$1" --folders 4 --pictures 20 --others 2 --distinct 5 --megapixels 0.05 --only a,a0,j --flush-delay 1)
echo "$output"
if grep -q ' failed$' <<<"$output" || ! grep -Eq '\(j\) .* [1-9][0-9]* flushes$' <<<"$output" ||
    ! grep -q 'time of (a) at 1 ms a flush' <<<"$output"; then
    echo "the slow-disk model counted no flush, or the flush budget was not printed" >&2
    exit 1
fi

# Across file systems, where /dev/shm is another one; the page cache is left alone for the tests.
destinations=$(mktemp -d /dev/shm/corvalin-bench-XXXXXX)
trap 'rm -rf "$destinations"' EXIT
if [[ $(stat -c %d "$destinations") != $(stat -c %d /var/tmp) ]]; then
    output=$("$1" --folders 4 --pictures 20 --others 4 --distinct 20 --megapixels 0.05 \
        --dest-dir "$destinations" --cached)
    echo "$output"
    if grep -q ' failed$' <<<"$output" || ! grep -q 'a/f = ' <<<"$output"; then
        echo "a variant across file systems failed, or no ratios were printed" >&2
        exit 1
    fi
fi
