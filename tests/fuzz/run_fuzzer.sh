#!/bin/sh
# run_fuzzer.sh FUZZER SEEDS WORKDIR RUNS
# Runs a fuzz target for RUNS inputs from a fixed seed, starting from its seed corpus. What the
# run learns goes to WORKDIR, made empty first, so the repository's corpus is only ever read and
# every run starts from the same place.
set -eu
fuzzer=$1
seeds=$2
work=$3
runs=$4
rm -rf "$work"
mkdir -p "$work"
exec "$fuzzer" -runs="$runs" -seed=1 -max_len=4096 -timeout=25 -artifact_prefix="$work/" \
    "$work" "$seeds"
