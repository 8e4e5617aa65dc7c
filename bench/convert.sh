#!/usr/bin/env bash
# Transfer syntax conversion speed, side by side with DCMTK in the same run.
# Inputs: a multi-frame 16-bit CT (512 x 512, 12 bits stored, 20 frames) and an A4 colour page at
# 200 dpi (1654 x 2339 RGB). Ours: read, convert, write (file/...) and the conversion alone
# (memory/...). DCMTK: dcmcjpeg / dcmdjpeg / dcmconv file to file, mean of REPS runs.
# Usage: bench/convert.sh [build dir]   (needs dcmtk; builds convert_bench if missing)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
REPS=${REPS:-5}
[[ -x $BUILD/bin/convert_bench ]] || cmake --build "$BUILD" --target convert_bench
WORK=$(mktemp -d /tmp/convert_bench.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

python3 - "$WORK" <<'PY'
import struct, sys, random
w = sys.argv[1]
random.seed(7)
# CT: smooth anatomy-like rings plus noise, 12-bit values, 20 frames.
rows = []
for f in range(20):
    for y in range(512):
        r = bytearray()
        for x in range(512):
            d = ((x - 256) ** 2 + (y - 256) ** 2) ** 0.5
            v = 0 if d > 240 else int(1024 + 300 * (1 + ((d + f * 3) % 40) / 40.0)) + random.randint(-20, 20)
            r += struct.pack('<H', max(0, min(4095, v)))
        rows.append(bytes(r))
open(w + '/ct.raw', 'wb').write(b''.join(rows))
# A4 page: white paper, dark text-like strokes, a colour photo block.
W, H = 1654, 2339
out = bytearray(b'\xff' * (W * H * 3))
for line in range(60):
    y0 = 200 + line * 32
    for y in range(y0, y0 + 14):
        base = y * W * 3
        x = 150
        while x < W - 150:
            n = random.randint(20, 90)
            out[base + x * 3: base + (x + n) * 3] = bytes([30, 30, 40]) * n
            x += n + random.randint(8, 20)
for y in range(300, 900):
    base = y * W * 3
    row = bytes(v for x in range(900, 1500) for v in ((x * 3) & 255, (y * 2) & 255, ((x + y) // 3) & 255))
    out[base + 900 * 3: base + 1500 * 3] = row
open(w + '/page.raw', 'wb').write(bytes(out))
PY

cat > "$WORK/ct.dump" <<DUMP
(0002,0010) UI =LittleEndianExplicit
(0008,0016) UI =CTImageStorage
(0008,0018) UI [1.2.826.0.1.3680043.2.1.1]
(0008,0060) CS [CT]
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0008) IS [20]
(0028,0010) US 512
(0028,0011) US 512
(0028,0100) US 16
(0028,0101) US 12
(0028,0102) US 11
(0028,0103) US 0
(0028,1052) DS [-1024]
(0028,1053) DS [1]
(7fe0,0010) OW =$WORK/ct.raw
DUMP
cat > "$WORK/page.dump" <<DUMP
(0002,0010) UI =LittleEndianExplicit
(0008,0016) UI =SecondaryCaptureImageStorage
(0008,0018) UI [1.2.826.0.1.3680043.2.1.2]
(0008,0060) CS [OT]
(0028,0002) US 3
(0028,0004) CS [RGB]
(0028,0006) US 0
(0028,0010) US 2339
(0028,0011) US 1654
(0028,0100) US 8
(0028,0101) US 8
(0028,0102) US 7
(0028,0103) US 0
(7fe0,0010) OB =$WORK/page.raw
DUMP
dump2dcm -q +l 1000000 "$WORK/ct.dump" "$WORK/ct.dcm"
dump2dcm -q +l 1000000 "$WORK/page.dump" "$WORK/page.dcm"
dcmcjpeg -q +e1 "$WORK/ct.dcm" "$WORK/ct.lossless.dcm"
dcmcjpeg -q +eb "$WORK/page.dcm" "$WORK/page.baseline.dcm"
dcmcjpeg -q +e1 "$WORK/page.dcm" "$WORK/page.lossless.dcm"

IVR=1.2.840.10008.1.2 EVR=1.2.840.10008.1.2.1 BE=1.2.840.10008.1.2.2
B=1.2.840.10008.1.2.4.50 E=1.2.840.10008.1.2.4.51 L=1.2.840.10008.1.2.4.70
J=1.2.840.10008.1.2.4.90 JL=1.2.840.10008.1.2.4.91

echo "== Scrivara (convert_bench; file = read + convert + write, memory = conversion alone)"
"$BUILD/bin/convert_bench" --out="$WORK" --input="$WORK/ct.dcm" --targets=$IVR,$BE,$B,$E,$L,$J,$JL \
  --benchmark_min_time=1 2>/dev/null | grep -E '^(file|memory)|^Benchmark|^---'
"$BUILD/bin/convert_bench" --out="$WORK" --input="$WORK/page.dcm" --targets=$IVR,$BE,$B,$L,$J,$JL \
  --benchmark_min_time=1 2>/dev/null | grep -E '^(file|memory)'
"$BUILD/bin/convert_bench" --out="$WORK" --input="$WORK/ct.lossless.dcm" --input="$WORK/page.baseline.dcm" \
  --input="$WORK/page.lossless.dcm" --targets=$EVR --benchmark_min_time=1 2>/dev/null | grep -E '^(file|memory)'

mean_ms() {  # command... ; mean wall time of REPS runs in ms
  local t0 t1
  t0=$(date +%s%N)
  for ((i = 0; i < REPS; i++)); do "$@" >/dev/null 2>&1; done
  t1=$(date +%s%N)
  echo $(((t1 - t0) / REPS / 1000000))
}
echo "== DCMTK (file to file, mean of $REPS runs, ms)"
printf '%-32s %8s\n' conversion ms
for in in ct page; do
  f="$WORK/$in.dcm"
  printf '%-32s %8s\n' "$in -> implicit (dcmconv +ti)" "$(mean_ms dcmconv +ti "$f" "$WORK/d.dcm")"
  printf '%-32s %8s\n' "$in -> big-endian (dcmconv +tb)" "$(mean_ms dcmconv +tb "$f" "$WORK/d.dcm")"
  printf '%-32s %8s\n' "$in -> baseline (dcmcjpeg +eb)" "$(mean_ms dcmcjpeg +eb "$f" "$WORK/d.dcm")"
  [[ $in == ct ]] && printf '%-32s %8s\n' "$in -> extended12 (dcmcjpeg +ee)" "$(mean_ms dcmcjpeg +ee "$f" "$WORK/d.dcm")"
  printf '%-32s %8s\n' "$in -> lossless (dcmcjpeg +e1)" "$(mean_ms dcmcjpeg +e1 "$f" "$WORK/d.dcm")"
done
for f in ct.lossless page.baseline page.lossless; do
  printf '%-32s %8s\n' "$f -> explicit (dcmdjpeg)" "$(mean_ms dcmdjpeg "$WORK/$f.dcm" "$WORK/d.dcm")"
done
if command -v opj_compress >/dev/null; then
  echo "== OpenJPEG tool on the raw page (no DICOM; lossless / rate 10)"
  printf '%-32s %8s\n' "page.raw -> j2k lossless" \
    "$(mean_ms opj_compress -i "$WORK/page.raw" -F 1654,2339,3,8,u -o "$WORK/p.j2k")"
  printf '%-32s %8s\n' "page.raw -> j2k rate 10" \
    "$(mean_ms opj_compress -i "$WORK/page.raw" -F 1654,2339,3,8,u -r 10 -o "$WORK/p.j2k")"
fi

if [[ -x /usr/bin/time ]]; then
  echo "== Peak resident memory, file to file (MB): ours (one conversion per process) / DCMTK"
  rss() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
  ours() {  # input short-target uid
    rss "$BUILD/bin/convert_bench" --out="$WORK" --input="$WORK/$1" --targets="$3" \
      --benchmark_filter="^file/$1/$2/" --benchmark_min_time=0.01
  }
  row() { printf '%-32s %8s %8s\n' "$1" "$(($2 / 1024))" "$(($3 / 1024))"; }
  row "ct -> baseline" "$(ours ct.dcm baseline $B)" "$(rss dcmcjpeg +eb "$WORK/ct.dcm" "$WORK/d.dcm")"
  row "ct -> lossless" "$(ours ct.dcm lossless $L)" "$(rss dcmcjpeg +e1 "$WORK/ct.dcm" "$WORK/d.dcm")"
  printf "%-32s %8s %8s\n" "ct -> j2k" "$(($(ours ct.dcm j2k $JL) / 1024))" "-"
  row "page -> baseline" "$(ours page.dcm baseline $B)" "$(rss dcmcjpeg +eb "$WORK/page.dcm" "$WORK/d.dcm")"
  row "ct.lossless -> explicit" "$(ours ct.lossless.dcm explicit $EVR)" \
    "$(rss dcmdjpeg "$WORK/ct.lossless.dcm" "$WORK/d.dcm")"
  row "page.baseline -> explicit" "$(ours page.baseline.dcm explicit $EVR)" \
    "$(rss dcmdjpeg "$WORK/page.baseline.dcm" "$WORK/d.dcm")"
fi
