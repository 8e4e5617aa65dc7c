#!/usr/bin/env bash
# Frame codec speed, side by side with DCMTK and OpenJPEG's tools in the same run, on the same frames:
# an A4 300 dpi colour page (2480 x 3508 RGB, baseline JPEG quality 75, 4:4:4), a 512 x 512 16-bit
# frame (lossless JPEG, selection value 1) and JPEG 2000 on the 16-bit frame.
# Ours: codec_bench (Google Benchmark, frame in memory). Theirs: the command-line tools file to file,
# mean wall time of REPS runs (this includes start-up and file I/O: compare with that in mind).
# Usage: bench/codec.sh [build dir]   (needs dcmtk and libopenjp2-tools)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
REPS=${REPS:-5}
[[ -x $BUILD/bin/codec_bench ]] || cmake --build "$BUILD" --target codec_bench
WORK=$(mktemp -d /tmp/codec_bench.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
"$BUILD/bin/codec_bench" --write-fixtures "$WORK" >/dev/null

mean_ms() {  # mean_ms <command...>: mean wall time in ms over REPS runs
  local start end
  start=$(date +%s%N)
  for ((i = 0; i < REPS; i++)); do "$@" >/dev/null 2>&1; done
  end=$(date +%s%N)
  echo $(((end - start) / REPS / 1000000))
}

echo "== DCMTK $(dcmcjpeg --version 2>/dev/null | head -1 | awk '{print $2, $3}') and OpenJPEG tools, mean of $REPS runs (ms)"
printf '%-46s %8s\n' "dcmcjpeg +eb +s4 +q 75 (A4 page encode)" "$(mean_ms dcmcjpeg +eb +s4 +q 75 "$WORK/page.dcm" "$WORK/o1.dcm")"
printf '%-46s %8s\n' "dcmdjpeg (A4 page decode, our stream)" "$(mean_ms dcmdjpeg "$WORK/page_ours.dcm" "$WORK/o2.dcm")"
printf '%-46s %8s\n' "dcmcjpeg +e1 (512x512 16-bit lossless encode)" "$(mean_ms dcmcjpeg +e1 "$WORK/ct.dcm" "$WORK/o3.dcm")"
printf '%-46s %8s\n' "dcmdjpeg (512x512 lossless decode, our stream)" "$(mean_ms dcmdjpeg "$WORK/ct_ours.dcm" "$WORK/o4.dcm")"
printf '%-46s %8s\n' "opj_compress (512x512 J2K lossless encode)" "$(mean_ms opj_compress -i "$WORK/ct.pgm" -o "$WORK/o5.j2k")"
printf '%-46s %8s\n' "opj_compress -r 10 (512x512 J2K rate 10)" "$(mean_ms opj_compress -r 10 -i "$WORK/ct.pgm" -o "$WORK/o6.j2k")"
printf '%-46s %8s\n' "opj_decompress (512x512 J2K lossless decode)" "$(mean_ms opj_decompress -i "$WORK/ct.j2k" -o "$WORK/o7.pgm")"
printf '%-46s %8s\n' "dcmcjpeg/dcmdjpeg start-up + I/O (dcmdjpeg on raw)" "$(mean_ms dcmdjpeg "$WORK/page.dcm" "$WORK/o8.dcm")"
echo
echo "== Scrivara frame codecs (in memory)"
"$BUILD/bin/codec_bench" --benchmark_min_time="${MIN_TIME:-1}" "${@:2}"
