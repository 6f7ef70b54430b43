#!/bin/sh
# Writes the image seed corpus into $1 (default corpus/image): small images in
# every accepted format and pixel layout (made with ffmpeg), and the hostile
# headers the library must refuse.
set -eu
out=${1:-corpus/image}
mkdir -p "$out"
seed() { # seed <file> <size> [ffmpeg output options...]
    file=$1; size=$2; shift 2
    ffmpeg -v error -y -f lavfi -i "testsrc=size=${size}:rate=1" -frames:v 1 "$@" "$out/$file"
}
seed rgb.png 17x9
seed rgba.png 8x8 -pix_fmt rgba
seed grey.png 9x7 -pix_fmt gray
seed grey16.png 5x5 -pix_fmt gray16be
seed rgb48.png 4x6 -pix_fmt rgb48be
seed pal.png 10x4 -pix_fmt pal8
seed mono.png 16x3 -pix_fmt monob
seed yuv420.jpg 19x11 -pix_fmt yuvj420p
seed yuv444.jpg 8x8 -pix_fmt yuvj444p
seed grey.jpg 16x9 -pix_fmt gray
seed rgb24.bmp 7x5 -pix_fmt bgr24
seed bgra.bmp 6x3 -pix_fmt bgra
seed pal8.bmp 5x4 -pix_fmt pal8
seed rgb555.bmp 3x3 -pix_fmt rgb555le
seed mono.bmp 9x2 -pix_fmt monob
seed anim.gif 12x8
seed rgb.tif 7x7 -pix_fmt rgb24
seed deflate.tif 6x4 -pix_fmt rgb24 -compression_algo deflate
seed lzw.tif 6x4 -pix_fmt rgba -compression_algo lzw
seed packbits.tif 6x4 -pix_fmt gray -compression_algo packbits
python3 - "$out" <<'PY'
import struct, sys, zlib
out = sys.argv[1]
def w(name, b):
    open(out + "/" + name, "wb").write(b)
# JPEG whose DHT code counts add up past 256 (a write past stb_image's tables).
b = bytes([0]) + bytes([255] * 16) + bytes(4080)
w("dht.jpg", b"\xff\xd8\xff\xc4" + struct.pack(">H", 2 + len(b)) + b + b"\xff\xd9")
# 118-byte BMP claiming 16384 x 16384.
w("huge.bmp", b"BM" + struct.pack("<IHHI", 118, 0, 0, 54) + struct.pack("<IiiHHIIiiII", 40, 16384, 16384, 1, 24,
  0, 0, 0, 0, 0, 0) + bytes(64))
# PNG header alone claiming 16384 x 16384.
ihdr = struct.pack(">IIBBBBB", 16384, 16384, 8, 2, 0, 0, 0)
chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
w("huge.png", b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(b"")) + chunk(b"IEND", b""))
# An Adam7-interlaced PNG (ffmpeg writes none): 9 x 7 RGB, each pass's rows unfiltered.
passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
W, H = 9, 7
raw = b""
for x0, y0, dx, dy in passes:
    xs, ys = range(x0, W, dx), range(y0, H, dy)
    if len(xs) and len(ys):
        for y in ys:
            raw += b"\0" + b"".join(bytes([x * 28, y * 36, (x ^ y) * 16]) for x in xs)
w("adam7.png", b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 2, 0, 0, 1)) +
  chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
# Formats refused before any decoder runs.
w("x.xpm", b'/* XPM */ static char *x[] = { "2 1 1 2", "aa c #ff0000", "a" };')
w("x.xbm", b"#define x_width 16\n#define x_height 16\nstatic char x_bits[] = {0x00,0xff};\n")
w("x.exr", b"\x76\x2f\x31\x01\x02\x00\x00\x00" + bytes(64))
PY
