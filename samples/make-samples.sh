#!/bin/sh
# Regenerates the sample photographs in this folder.
#
# The images are encoded by ImageMagick; their EXIF data and comments are
# written by exiftool, both independent of this project.  The audio sample's
# APP2 segments are laid out by a few lines of Python (a RIFF/WAVE stream of
# 0.1 s of a 440 Hz tone, cut into APP2 segments after four header segments).
#
# Needs: imagemagick, libimage-exiftool-perl, python3.
set -eu
cd "$(dirname "$0")"
CONVERT=/usr/bin/convert
EXIFTOOL=exiftool

# Small, real baseline JPEG images.
$CONVERT -size 96x64 gradient:steelblue-orange -quality 80 plain.jpg
$CONVERT -size 96x64 plasma:fractal -seed 7 -quality 75 bigendian.jpg
$CONVERT -size 64x64 xc:darkgreen -quality 80 comments.jpg
$CONVERT -size 64x48 gradient:white-black -quality 70 nodate.jpg
$CONVERT -size 64x48 xc:gray50 -quality 70 audio.jpg

# EXIF in both byte orders, with and without a capture time.
$EXIFTOOL -q -overwrite_original -ExifByteOrder#=II \
  -Make=Orvane -Model=Sample -DateTimeOriginal='2004:01:05 10:00:00' \
  -DateTime='2004:01:05 10:00:00' -Comment='a plain sample photograph' plain.jpg
$EXIFTOOL -q -overwrite_original -ExifByteOrder#=MM \
  -Make=Orvane -Model=Sample -DateTimeOriginal='2011:07:14 18:30:05' \
  -GPSLatitude=48.1 -GPSLatitudeRef=N bigendian.jpg
$EXIFTOOL -q -overwrite_original -Make=Orvane -Model=Sample nodate.jpg
$EXIFTOOL -q -overwrite_original -DateTimeOriginal='2019:03:31 02:30:00' \
  -Comment='first comment' comments.jpg
$EXIFTOOL -q -overwrite_original -DateTimeOriginal='2020:02:29 23:59:59' audio.jpg

python3 - <<'PY'
import math, struct

# A second comment for comments.jpg, after the first one.
data = open("comments.jpg", "rb").read()
at = data.index(b"\xff\xfe")
length = struct.unpack(">H", data[at + 2:at + 4])[0]
end = at + 2 + length
second = b"second comment,\nover two lines"
data = data[:end] + b"\xff\xfe" + struct.pack(">H", len(second) + 2) + second + data[end:]
open("comments.jpg", "wb").write(data)

# audio.jpg: four APP2 header segments, then the RIFF stream: 13 header bytes
# in every audio segment, 28 more before the stream in the first one.
rate = 8000
samples = bytes(128 + int(100 * math.sin(2 * math.pi * 440 * i / rate)) for i in range(rate // 10))
fmt = struct.pack("<4sIHHIIHH", b"fmt ", 16, 1, 1, rate, rate, 1, 8)
riff = b"RIFF" + struct.pack("<I", 4 + len(fmt) + 8 + len(samples)) + b"WAVE" + fmt
riff += b"data" + struct.pack("<I", len(samples)) + samples
def app2(payload):
    return b"\xff\xe2" + struct.pack(">H", len(payload) + 2) + payload
segments = b"".join(app2(b"FPXR\0" + bytes([0, i]) + b"header%d" % i) for i in range(4))
chunk, first = 300, True
while riff:
    head = b"FPXR\0" + bytes(8)
    if first:
        head += bytes(28)
    segments += app2(head + riff[:chunk])
    riff, first = riff[chunk:], False
data = open("audio.jpg", "rb").read()
sos = data.index(b"\xff\xda")
open("audio.jpg", "wb").write(data[:sos] + segments + data[sos:])
PY

# Two files that are not photographs as the tools expect them.
printf 'these are notes, not a photograph\n' > notes.txt
head -c 120 plain.jpg > truncated.jpg
ls -l
