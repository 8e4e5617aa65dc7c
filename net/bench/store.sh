#!/usr/bin/env bash
# C-STORE throughput over one association to storescp (DCMTK), with our StoreSCU and with DCMTK's
# storescu in the same run, next to the loopback limit of a plain TCP copy.
#   net/bench/store.sh [BUILD_DIR] [COUNT]      (default build, 500 objects of about 2 MB)
set -euo pipefail
build=${1:-build}
count=${2:-500}
bench="$build/bin/store_bench"
[[ -x "$bench" ]] || { echo "build the store_bench target first" >&2; exit 1; }
work=$(mktemp -d /tmp/storebench.XXXXXX)
trap 'kill $scp 2>/dev/null || true; [[ -n "${KEEP:-}" ]] || rm -rf "$work"' EXIT

# One 1024 x 1024 16-bit image (2 MiB of pixels), copied with fresh UIDs.
head -c $((1024 * 1024 * 2)) /dev/urandom > "$work/pixels.raw"
cat > "$work/image.dump" <<DUMP
(0002,0010) UI =LittleEndianExplicit
(0008,0016) UI =SecondaryCaptureImageStorage
(0008,0060) CS [OT]
(0010,0010) PN [Bench^Mark]
(0010,0020) LO [BENCH]
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0010) US 1024
(0028,0011) US 1024
(0028,0100) US 16
(0028,0101) US 16
(0028,0102) US 15
(0028,0103) US 0
(7fe0,0010) OW =$work/pixels.raw
DUMP
mkdir -p "$work/files"
for i in $(seq 1 "$count"); do
  dump2dcm -q +Ug "$work/image.dump" "$work/files/$i.dcm"
done
files=("$work/files/"*.dcm)
total=$(du -cb "${files[@]}" | tail -1 | cut -f1)
echo "objects: $count, bytes: $total"
cat "${files[@]}" > /dev/null   # warm the page cache for both senders

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
storescp --ignore -aet STORESCP "$port" & scp=$!
for _ in $(seq 50); do (echo > /dev/tcp/127.0.0.1/$port) 2>/dev/null && break; sleep 0.1; done

"$bench" send 127.0.0.1 "$port" STORESCP "${files[@]}"
start=$(date +%s.%N)
storescu -aec STORESCP +sd 127.0.0.1 "$port" "$work/files"
end=$(date +%s.%N)
python3 -c "t=$end-$start; print('storescu %d bytes %.3f s %.1f MB/s' % ($total, t, $total/t/1e6))"
"$bench" tcpcopy $((total / 1048576))
