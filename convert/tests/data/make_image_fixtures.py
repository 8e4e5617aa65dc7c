#!/usr/bin/python3
# Makes the image import's test files in the folder given, with PIL and the libraries' own tools
# (tiffcp, jpegtran): every kind of page a clinic's tools write.
import io
import struct
import subprocess
import sys

from PIL import Image, ImageDraw

out = sys.argv[1]


def path(name):
    return out + "/" + name


# A signature on a transparent background: a black square, nothing else opaque.
sig = Image.new("RGBA", (64, 48), (0, 0, 0, 0))
ImageDraw.Draw(sig).rectangle([8, 8, 23, 23], fill=(0, 0, 0, 255))
sig.save(path("alpha.png"))

# 16-bit grey: a ramp across.
deep = Image.new("I;16", (64, 48))
deep.putdata([x * 1000 for y in range(48) for x in range(64)])
deep.save(path("deep16.png"))

# A palette: left half red, right half blue.
pal = Image.new("RGB", (64, 48), (255, 0, 0))
ImageDraw.Draw(pal).rectangle([32, 0, 63, 47], fill=(0, 0, 255))
pal.convert("P", palette=Image.ADAPTIVE, colors=4).save(path("palette.png"))

# Pages of a TIFF: RGB with LZW, a 1-bit fax page (G4, left half black), CMYK with Deflate; then
# a second file with a JPEG-compressed page and a 16-bit grey page with PackBits.
Image.new("RGB", (40, 30), (0, 200, 0)).save(path("p1.tif"), compression="tiff_lzw")
fax = Image.new("1", (64, 48), 1)
ImageDraw.Draw(fax).rectangle([0, 0, 31, 47], fill=0)
fax.save(path("p2.tif"), compression="group4")
Image.new("CMYK", (20, 10), (255, 0, 0, 0)).save(path("p3.tif"), compression="tiff_adobe_deflate")
subprocess.run(["tiffcp", path("p1.tif"), path("p2.tif"), path("p3.tif"), path("three.tif")], check=True)
Image.new("RGB", (32, 16), (200, 0, 0)).save(path("q1.tif"), compression="jpeg")
ramp = Image.new("I;16", (64, 8))
ramp.putdata([x * 1000 for y in range(8) for x in range(64)])
ramp.save(path("q2.tif"), compression="packbits")
subprocess.run(["tiffcp", path("q1.tif"), path("q2.tif"), path("more.tif")], check=True)

# JPEG: CMYK (red), a phone photo (4:2:0, EXIF orientation 6 and a GPS position), progressive, and
# arithmetic-coded (made from the progressive one by jpegtran).
Image.new("CMYK", (32, 16), (0, 255, 255, 0)).save(path("cmyk.jpg"), quality=95)
photo = Image.new("RGB", (64, 48), (255, 255, 255))
ImageDraw.Draw(photo).rectangle([0, 0, 15, 15], fill=(0, 0, 0))  # top left, before the turn
exif = Image.Exif()
exif[0x0112] = 6
exif[0x8825] = {1: "N", 2: (48.0, 51.0, 30.0), 3: "E", 4: (2.0, 17.0, 40.0)}
photo.save(path("phone.jpg"), quality=90, subsampling=2, exif=exif.tobytes())
Image.new("RGB", (40, 24), (0, 0, 200)).save(path("progressive.jpg"), progressive=True, quality=95)
with open(path("arith.jpg"), "wb") as f:
    subprocess.run(["jpegtran", "-arithmetic", path("progressive.jpg")], stdout=f, check=True)

# BMP: 1 bit, 8 bits (palette), 32 bits; and 4 bits written here (PIL does not write them).
fax.save(path("one.bmp"))
pal.convert("P", palette=Image.ADAPTIVE, colors=4).save(path("eight.bmp"))
Image.new("RGBA", (16, 8), (10, 20, 250, 255)).save(path("rgba.bmp"))
w, h = 8, 2
rows = b"".join(bytes([0x00, 0x00, 0x11, 0x11]) for _ in range(h))  # four black, four white: four bytes a row
palette = bytes([0, 0, 0, 0, 255, 255, 255, 0]) + bytes(14 * 4)
header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4, 0, len(rows), 2835, 2835, 16, 0)
offset = 14 + 40 + len(palette)
with open(path("four.bmp"), "wb") as f:
    f.write(b"BM" + struct.pack("<IHHI", offset + len(rows), 0, 0, offset) + header + palette + rows)

# An A4 page at 600 dpi, and a page larger than A3 at 600 dpi.
a4 = Image.new("1", (4960, 7016), 1)
ImageDraw.Draw(a4).rectangle([100, 100, 4859, 199], fill=0)
a4.save(path("a4.png"), optimize=False)
Image.new("1", (10000, 10000), 1).save(path("huge.png"))
