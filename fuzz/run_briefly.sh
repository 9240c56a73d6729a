#!/bin/sh
# Runs a fuzz target for a few seconds over its corpus, as a test. New inputs
# go to a scratch folder of the build, so the corpus in the repository stays
# as committed; a crash file lands there too.
# Usage: run_briefly.sh TARGET CORPUS SCRATCH
set -eu
target=$1 corpus=$2 scratch=$3
rm -rf "$scratch"
mkdir -p "$scratch/new"
exec "$target" -max_total_time=3 -timeout=5 -artifact_prefix="$scratch/" "$scratch/new" "$corpus"
