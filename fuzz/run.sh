#!/usr/bin/env bash
# Builds the libFuzzer target with clang, replays the seed corpus and the
# corpus kept from earlier runs, then fuzzes for a fixed time.
#
#   fuzz/run.sh [seconds]      (default 120)
#
# Environment: BUILD (default build-fuzz), JOBS (default 2).
# A crash, a hang or a sanitizer report ends the script with a failure; the
# input that caused it is left in $BUILD/fuzz-artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-120}
build=${BUILD:-build-fuzz}
jobs=${JOBS:-2}

CC=clang CXX=clang++ cmake -S . -B "$build" -DKESTRIVO_FUZZ=ON -DKESTRIVO_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_FLAGS:-} >/dev/null
cmake --build "$build" -j "$jobs" --target kestrivo_fuzz

fuzzer="$build/fuzz/kestrivo_fuzz"
artifacts="$build/fuzz-artifacts/"
mkdir -p fuzz/corpus-run "$artifacts"
options=(-dict=fuzz/kestrivo.dict -timeout=30 -rss_limit_mb=3072 -max_len=4096
         -artifact_prefix="$artifacts")

# Replay: every saved input once; any failure stops here.
echo "replaying the seed corpus"
"$fuzzer" "${options[@]}" -runs=0 fuzz/corpus
if [ -n "$(ls -A fuzz/corpus-run)" ]; then
  echo "replaying the kept corpus"
  "$fuzzer" "${options[@]}" -runs=0 fuzz/corpus-run
fi

# Fuzz: new inputs go to fuzz/corpus-run (not committed), seeded from both.
echo "fuzzing for ${seconds}s"
log="$build/fuzz-run.log"
"$fuzzer" "${options[@]}" -max_total_time="$seconds" -fork="$jobs" \
  fuzz/corpus-run fuzz/corpus 2>&1 | tee "$log"
# In fork mode each status line starts with the inputs run so far ("#N:").
inputs=$(grep -oE '^#[0-9]+' "$log" | tail -n 1 | tr -d '#' || true)
echo "fuzz: ${inputs:-0} inputs in ${seconds}s"
