#!/usr/bin/env python3
"""A small valid PNG that claims a large RGB picture and holds IDATS chunks, each of which is
the whole picture's worth of deflated zeros ended by a sync flush (pngcheck: OK; libpng
warns "Too much image data"): loads must read the rows and spend neither memory nor time on
the rest. Usage: make-flushed-zeros-png.py SIDE OUT [IDATS]"""
import struct, sys, zlib

side, out = int(sys.argv[1]), sys.argv[2]
idats = int(sys.argv[3]) if len(sys.argv) > 3 else 12
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
zeros, c = bytes((side * 3 + 1) * side), zlib.compressobj(9)
with open(out, "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 2, 0, 0, 0)))
    for i in range(idats):  # the last chunk also ends the stream, so that libpng reads it
        data = c.compress(zeros) + c.flush(zlib.Z_SYNC_FLUSH)
        f.write(chunk(b"IDAT", data + (c.flush() if i == idats - 1 else b"")))
    f.write(chunk(b"IEND", b""))
