#!/usr/bin/env bash
# Reads and writes a large DICOM file (320 MB of pixel data, 3000 header elements) with our codec and
# with DCMTK's dcmconv in the same run: wall time, throughput and peak memory of each.
# Usage: bench/dicomfile.sh [pixel MB] [header elements]     (needs dcmtk and GNU time)
set -euo pipefail
cd "$(dirname "$0")/.."
pixel_mb=${1:-320}
elements=${2:-3000}
[[ -x build/bin/dicomfile_bench ]] || cmake --build build --target dicomfile_bench
for p in dcmconv /usr/bin/time; do command -v "$p" >/dev/null || { echo "missing: $p" >&2; exit 1; }; done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file="$work/large.dcm"
build/bin/dicomfile_bench --make="$file" --pixel_mb="$pixel_mb" --elements="$elements"
size=$(stat -c %s "$file")
echo "test file: $((size / 1048576)) MB, $elements header elements"
cat "$file" >/dev/null  # both read it from the page cache

# Our codec: each benchmark in its own process, so its peak memory is its own.
for b in BM_ReadFile BM_WriteFile BM_ReadWriteFile; do
  /usr/bin/time -f "  $b: peak RSS %M KB" build/bin/dicomfile_bench --file="$file" \
    --benchmark_filter="^$b" --benchmark_format=console 2>&1 | grep -E "^$b|peak RSS"
done

# One read and write of the file per process, ours and DCMTK's dcmconv taking turns.
run() {  # label, command...
  local label=$1; shift
  local out
  out=$(/usr/bin/time -f "%e %M" "$@" 2>&1 | tail -1)
  echo "  $label: ${out%% *} s wall, peak RSS ${out##* } KB"
  echo "$label ${out%% *}" >>"$work/times"
}
for i in 1 2 3 4 5; do
  run "ours    run $i" build/bin/dicomfile_bench --convert="$file" --out="$work/ours.dcm"
  run "dcmconv run $i" dcmconv "$file" "$work/dcmtk.dcm"
done
awk -v s="$size" '{ t = $NF; k = $1; if (!(k in best) || t < best[k]) best[k] = t }
  END { for (k in best) printf "  best %-7s %5.0f ms  %6.0f MB/s\n", k, best[k] * 1000, s / 1048576 / best[k] }' "$work/times"
