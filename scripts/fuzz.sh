#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang into build-fuzz/ (or $VELD_FUZZ_BUILD),
# writes their seed corpora, and runs one harness.
#
#   scripts/fuzz.sh                       build, make the seeds, list the harnesses
#   scripts/fuzz.sh HARNESS [SECONDS] [libFuzzer options...]
#
# A run keeps its growing corpus in build-fuzz/fuzz/corpus/HARNESS and writes
# any crashing or hanging input to build-fuzz/fuzz/findings/HARNESS/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${VELD_FUZZ_BUILD:-"$root/build-fuzz"}
"$root/scripts/setup.sh" --fuzz

cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DVELD_FUZZ=ON -DVELD_BUILD_GUI=OFF -DVELD_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" --target veld_fuzz -j "$(nproc)"

if [ $# -eq 0 ]; then
  echo "harnesses:" $(cd "$dir/fuzz" && ls fuzz_* | sed 's/^fuzz_//')
  exit 0
fi

harness=$1
seconds=${2:-600}
shift $(( $# >= 2 ? 2 : 1 ))
if [ ! -x "$dir/fuzz/fuzz_$harness" ]; then
  echo "fuzz.sh: no harness named $harness" >&2
  exit 2
fi

# Fresh seeds for every run (several harnesses may run at once).
seeds=$(mktemp -d)
trap 'rm -rf "$seeds"' EXIT
ASAN_OPTIONS=detect_leaks=0 "$dir/fuzz/make_fuzz_seeds" "$seeds" >/dev/null

corpus="$dir/fuzz/corpus/$harness"
findings="$dir/fuzz/findings/$harness"
mkdir -p "$corpus" "$findings"
"$dir/fuzz/fuzz_$harness" "$corpus" "$seeds/$harness" -max_total_time="$seconds" -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" "$@"
