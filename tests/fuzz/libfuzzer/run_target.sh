#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded number of inputs over its corpus, with a fixed seed so
# that a run can be repeated: run_target.sh FUZZER FOUND_DIR CORPUS_DIR
# CORVALIN_FUZZ_RUNS and CORVALIN_FUZZ_SEED change the count (20000) and the seed (1).
set -euo pipefail
fuzzer=$1 found=$2 corpus=$3
exec "$fuzzer" -runs="${CORVALIN_FUZZ_RUNS:-20000}" -seed="${CORVALIN_FUZZ_SEED:-1}" -max_len=4096 \
    -print_final_stats=1 "$found" "$corpus"
