#!/usr/bin/env bash
# Runs every libFuzzer target for a share of the time, each starting from its corpus in the
# repository (fuzz/corpus/<name>/, the target being <name>_fuzz). The corpus is copied to a
# work folder first, so a run adds to the copy and the repository stays as it was.
# usage: scripts/fuzz.sh FUZZ_BUILD_DIR BUILD_DIR SECONDS
set -euo pipefail
fuzz_build=$1
seconds=${3:-60}
work=fuzz/corpus-work
targets=("$fuzz_build"/fuzz/*_fuzz)
[ -x "${targets[0]}" ] || { echo "fuzz: no targets in $fuzz_build/fuzz" >&2; exit 1; }
per=$(( seconds / ${#targets[@]} ))
[ "$per" -ge 1 ] || per=1
rm -rf "$work"
mkdir -p "$work"
for t in "${targets[@]}"; do
  name=$(basename "$t")
  corpus=fuzz/corpus/${name%_fuzz}
  [ -d "$corpus" ] || { echo "fuzz: $name has no corpus in $corpus" >&2; exit 1; }
  cp -r "$corpus" "$work/$name"
  echo "fuzzing $name for ${per}s from $(ls "$corpus" | wc -l) inputs"
  "$t" -max_total_time="$per" -max_len=65536 -timeout=10 -print_final_stats=0 \
       -artifact_prefix="$work/$name-" "$work/$name" 2>"$work/$name.log" || {
    tail -n 40 "$work/$name.log" >&2
    echo "fuzz: $name found a failure; the input is in $work/" >&2
    exit 1
  }
  grep -E '^#[0-9]+.*DONE' "$work/$name.log" | tail -n 1 || true
done
echo "fuzz: no failures"
