#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for the given seconds, from its
# seeds and its dictionary (dict/<target>.dict, when there is one), keeping
# what it finds in <build>/corpus/<target> and any crashing input in
# <build>/artifacts/<target>/. Ends with one line per target: executions,
# coverage (edges and features at the end) and crashes; fails if any target
# crashed. Usage: run.sh BUILD_DIR SECONDS
set -u
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
rows=""
crashed=0
for f in "$build"/fuzz/*_fuzz; do
  [ -x "$f" ] || continue
  n=$(basename "$f")
  corpus=$build/corpus/$n
  artifacts=$build/artifacts/$n
  log=$build/logs/$n.log
  rm -rf "$artifacts"
  mkdir -p "$corpus" "$artifacts" "$build/logs"
  dict=()
  [ -f "$here/dict/$n.dict" ] && dict=(-dict="$here/dict/$n.dict")
  echo "== $n ($seconds s)"
  "$f" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "${dict[@]}" "$corpus" "$here/corpus/$n" >"$log" 2>&1
  rc=$?
  # The last status line holds the final coverage: "#N ... cov: C ft: F ...".
  status=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  [ -n "$execs" ] || execs=$(echo "$status" | sed -n 's/^#\([0-9]*\).*/\1/p')
  cov=$(echo "$status" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
  ft=$(echo "$status" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
  crashes=$(find "$artifacts" -type f | wc -l)
  if [ "$rc" -ne 0 ] || [ "$crashes" -ne 0 ]; then
    crashed=1
    [ "$crashes" -ne 0 ] || crashes=1
    grep -E '^(==[0-9]+==ERROR|SUMMARY)' "$log" | head -n 2
    echo "   log: $log"
  fi
  rows+=$(printf '%-26s %12s %8s %8s %8s' "$n" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$crashes")$'\n'
done
echo
printf '%-26s %12s %8s %8s %8s\n' target execs cov ft crashes
printf '%s' "$rows"
exit $crashed
