#!/usr/bin/env bash
# Runs every libFuzzer target for a while, seeded from a corpus our encoder makes.
# usage: scripts/fuzz.sh FUZZ_BUILD_DIR BUILD_DIR SECONDS
set -euo pipefail
fuzz_build=$1
seconds=${3:-60}
work=fuzz/corpus-work
mkdir -p "$work/seeds"
"$fuzz_build/fuzz/make_corpus" "$work/seeds"
targets=("$fuzz_build"/fuzz/*_fuzz)
per=$(( seconds / ${#targets[@]} ))
[ "$per" -ge 1 ] || per=1
for t in "${targets[@]}"; do
  name=$(basename "$t")
  mkdir -p "$work/$name"
  echo "fuzzing $name for ${per}s"
  "$t" -max_total_time="$per" -max_len=65536 -print_final_stats=0 \
       -artifact_prefix="$work/$name-" "$work/$name" "$work/seeds" 2>"$work/$name.log" || {
    tail -n 40 "$work/$name.log" >&2
    echo "fuzz: $name found a failure; the input is in $work/" >&2
    exit 1
  }
  grep -E '^#[0-9]+.*DONE' "$work/$name.log" | tail -n 1 || true
done
echo "fuzz: no failures"
