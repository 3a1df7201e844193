#!/bin/sh
# Writes the video tests' files into OUTDIR with ffmpeg: short clips of colour bars in AVI,
# MPEG program and elementary streams, VOB and WMV, beside each ffmpeg's decode of one frame
# (CLIP.bmp), and, in OUTDIR/seeds, each file's first 64 KiB for the fuzzer (whose inputs are
# at most that long).
# Usage: make-video-fixtures.sh OUTDIR (ffmpeg from PATH, or $FFMPEG)
set -e
out=${1:?usage: make-video-fixtures.sh OUTDIR}
mkdir -p "$out/seeds"
bars="smptebars=size=320x240:rate=25"

video() {
    name=$1
    shift
    "${FFMPEG:-ffmpeg}" -loglevel error -y -nostdin "$@" "$out/$name"
}

video mjpeg.avi -f lavfi -i "$bars" -t 2 -c:v mjpeg
video xvid.avi -f lavfi -i "$bars" -t 2 -c:v mpeg4 -vtag xvid
video fmp4.avi -f lavfi -i "$bars" -t 2 -c:v mpeg4
video raw.avi -f lavfi -i "smptebars=size=320x240:rate=5" -t 2 -c:v rawvideo -pix_fmt bgr24
video odd-size.avi -f lavfi -i "smptebars=size=320x180:rate=25" -t 2 -c:v mpeg4
video mpeg1-cbr.mpg -f lavfi -i "$bars" -t 2 -c:v mpeg1video -b:v 1000k -minrate 1000k \
    -maxrate 1000k -bufsize 1000k -f mpeg
# A fixed quantiser and no bit rate: the sequence header says variable (0x3FFFF).
video mpeg1-vbr.mpv -f lavfi -i "$bars" -t 2 -c:v mpeg1video -q:v 4 -f mpeg1video
# With a maximum rate the header states 2000 kbit/s; without one, ffmpeg writes the MPEG-2
# header's rate as 0x3FFFF with no extension, which the reader takes as variable.
video mpeg2.mpg -f lavfi -i "$bars" -t 2 -c:v mpeg2video -b:v 2000k -maxrate 2000k \
    -bufsize 2000k -f mpeg
video mpeg2.vob -f lavfi -i "$bars" -t 2 -c:v mpeg2video -b:v 2000k -f vob
video wmv2.wmv -f lavfi -i "$bars" -t 2 -c:v wmv2 -b:v 800k

for file in "$out"/*.avi "$out"/*.mpg "$out"/*.mpv "$out"/*.vob "$out"/*.wmv; do
    head -c 65536 "$file" >"$out/seeds/$(basename "$file")"
    # ffmpeg's own decode of the frame at a tenth of the clip, which the frame tests compare
    # with (the bars stand still, so any frame is that frame).
    "${FFMPEG:-ffmpeg}" -loglevel error -y -nostdin -ss 0.2 -i "$file" -frames:v 1 \
        -pix_fmt bgr24 "$file.bmp"
done
# And a VCD file: the MPEG-1 program stream's start in raw CD sectors, under RIFF CDXA.
python3 - "$out/mpeg1-cbr.mpg" "$out/seeds/vcd.dat" <<'PY'
import struct, sys
stream = open(sys.argv[1], 'rb').read()[:20 * 2324]
sync = b'\0' + b'\xff' * 10 + b'\0'
data = b''.join(sync + bytes(12) + stream[at:at + 2324].ljust(2324, b'\0') + bytes(4)
               for at in range(0, len(stream), 2324))
fmt = b'fmt ' + struct.pack('<I', 16) + bytes(16)
body = b'CDXA' + fmt + b'data' + struct.pack('<I', len(data)) + data
open(sys.argv[2], 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)
PY
