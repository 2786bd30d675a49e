#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under build-fuzz and runs each for SECONDS (default 60),
# seeded from its checked-in corpus. Prints the executions per target; fails when a target found
# a crash or a broken invariant, whose input is kept in build-fuzz/artifacts/.
#   scripts/fuzz.sh [SECONDS] [TARGET...]      targets: values url wininet skin
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QINGYOU_FUZZ_BUILD:-build-fuzz}
seconds=${1:-60}
shift $(($# > 0 ? 1 : 0))

# name | project folder | its build folder | executable | seed corpus
table=(
  "values|tests/fuzz|$build|values_fuzz|tests/fuzz/corpus/values"
  "url|tests/fuzz|$build|url_fuzz|tests/fuzz/corpus/url"
  "wininet|tests/fuzz|$build|wininet_fuzz|tests/fuzz/corpus/wininet"
  "skin|tests/skin/fuzz|$build/skin|skin_fuzzer|tests/skin/fuzz/corpus"
)
wanted=("$@")

selected=()
for row in "${table[@]}"; do
  name=${row%%|*}
  if [ ${#wanted[@]} -eq 0 ] || printf '%s\n' "${wanted[@]}" | grep -qx "$name"; then selected+=("$row"); fi
done
[ ${#selected[@]} -gt 0 ] || { echo "no such fuzz target: ${wanted[*]}" >&2; exit 2; }

for row in "${selected[@]}"; do
  IFS='|' read -r name project folder executable seeds <<<"$row"
  cmake -S "$project" -B "$folder" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$folder" -j"$(nproc)" --target "$executable"
done

mkdir -p "$build/artifacts" "$build/logs"
failed=()
report=()
for row in "${selected[@]}"; do
  IFS='|' read -r name project folder executable seeds <<<"$row"
  # New inputs go to the first folder, so the checked-in seeds stay as they are.
  work=$build/corpus/$name
  mkdir -p "$work"
  dictionary=()
  [ -f "$project/$name.dict" ] && dictionary=(-dict="$project/$name.dict")
  log=$build/logs/$name.log
  echo "== fuzzing $name for ${seconds}s"
  status=0
  "$folder/$executable" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name-" "${dictionary[@]}" "$work" "$seeds" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  line=$(printf '%-8s %12s executions %8s/s' "$name" "${runs:-?}" "${rate:-?}")
  if [ "$status" -eq 0 ]; then
    report+=("$line  ok")
  else
    failed+=("$name")
    report+=("$line  FAILED (exit $status)")
    grep -E -A30 'invariant broken|ERROR: |runtime error' "$log" | head -60 || true
    grep -E 'Test unit written to' "$log" || true
  fi
done

echo "== fuzzing summary"
printf '%s\n' "${report[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (logs in $build/logs, inputs in $build/artifacts)"
  exit 1
fi
