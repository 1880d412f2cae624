#!/usr/bin/env python3
"""Writes the decompression bombs kept in the fuzz corpora (bomb_* files).

Each is a small file whose header names a far larger image than its data can
fill, or one over the loading limit, in every format the loaders read. They
are committed; this script documents how they were made and remakes them:

    tests/fuzz/make_bombs.py            (from the repository's top folder)

The JPEG bombs start from a tiny stream made by cjpeg (libjpeg-turbo-progs)
whose frame header is then given a huge size; everything else is written here.
tests/unit/fileio/bomb_test.cpp loads each and checks how it is refused.
"""
import os
import struct
import subprocess
import tempfile
import zlib

CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def save(target, name, data):
    path = os.path.join(CORPUS, target, name)
    with open(path, "wb") as f:
        f.write(data)
    print(f"{path}: {len(data)} bytes")


# ---- GIF ----------------------------------------------------------------------

def gif(screen_w, screen_h, frame_w, frame_h, pixels):
    """A GIF with a 2-colour table whose first frame holds LZW data for
    `pixels` pixels of colour 0: minimum code size 2, so 3-bit codes, each
    pixel sent as a clear code (4) and a code 0, then the end code (5)."""
    head = b"GIF89a" + struct.pack("<HHBBB", screen_w, screen_h, 0x80, 0, 0) + b"\0\0\0\xff\xff\xff"
    desc = b"\x2c" + struct.pack("<HHHHB", 0, 0, frame_w, frame_h, 0)
    codes = [4, 0] * pixels + [5]
    value = sum(code << (3 * i) for i, code in enumerate(codes))
    lzw = value.to_bytes((3 * len(codes) + 7) // 8, "little")
    blocks = b"".join(bytes([len(lzw[i:i + 255])]) + lzw[i:i + 255] for i in range(0, len(lzw), 255))
    return head + desc + b"\x02" + blocks + b"\0;"


# ---- JPEG ---------------------------------------------------------------------

def cjpeg(*options):
    """A blank 16 x 16 gray JPEG made by cjpeg with `options`."""
    with tempfile.TemporaryDirectory() as d:
        pgm = os.path.join(d, "blank.pgm")
        with open(pgm, "wb") as f:
            f.write(b"P5 16 16 255\n" + b"\xff" * 256)
        return subprocess.run(["cjpeg", *options, pgm], check=True, capture_output=True).stdout


def resized_jpeg(data, width, height):
    """The stream with its frame header (SOF0/1/2/9/10) naming width x height."""
    at = 2
    while at < len(data):
        marker, length = data[at + 1], struct.unpack(">H", data[at + 2:at + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2, 0xC9, 0xCA):
            return data[:at + 5] + struct.pack(">HH", height, width) + data[at + 9:]
        at += 2 + length
    raise ValueError("no frame header")


# ---- TIFF ---------------------------------------------------------------------

SHORT, LONG = 3, 4


def tiff(width, height, tags, strips, tiled=False):
    """A little-endian TIFF of one page: `tags` is {tag: (type, values)},
    `strips` the data of each strip or tile (offsets and counts are added)."""
    offsets, blob, at = [], b"", 8
    for s in strips:
        offsets.append(at + len(blob))
        blob += s
    tags = dict(tags)
    tags[256] = (LONG, [width])
    tags[257] = (LONG, [height])
    tags[324 if tiled else 273] = (LONG, offsets)
    tags.setdefault(325 if tiled else 279, (LONG, [len(s) for s in strips]))
    ifd_at = 8 + len(blob)
    extra_at = ifd_at + 2 + 12 * len(tags) + 4
    entries, extra = b"", b""
    for tag in sorted(tags):
        kind, values = tags[tag]
        packed = b"".join(struct.pack("<H" if kind == SHORT else "<I", v) for v in values)
        if len(packed) <= 4:
            field = packed.ljust(4, b"\0")
        else:
            field = struct.pack("<I", extra_at + len(extra))
            extra += packed
        entries += struct.pack("<HHI", tag, kind, len(values)) + field
    return b"II*\0" + struct.pack("<I", ifd_at) + blob + struct.pack("<H", len(tags)) + entries + b"\0\0\0\0" + extra


def gray_tags(compression, bits=8, samples=1, photometric=1, planar=1):
    return {258: (SHORT, [bits] * samples), 259: (SHORT, [compression]), 262: (SHORT, [photometric]),
            277: (SHORT, [samples]), 284: (SHORT, [planar])}


def g4_white_rows(rows):
    """Group 4 data of `rows` all-white rows: one vertical-mode code (bit 1)
    each, then the end of the block (two EOL codes)."""
    bits = "1" * rows + "000000000001" * 2
    bits += "0" * (-len(bits) % 8)
    return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))


# ---- PNG, BMP, DCX, PDF ----------------------------------------------------------

def png(width, height, idat):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)) +
            chunk(b"IDAT", idat) + chunk(b"IEND", b""))


def bmp_rle8(width, height, stream):
    table = b"".join(bytes([i, i, i, 0]) for i in range(256))
    offset = 14 + 40 + len(table)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 1, len(stream), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", offset + len(stream), 0, 0, offset) + info + table + stream


def dcx_gray(width, height, body):
    pcx = bytearray(128)
    pcx[0:4] = bytes([0x0A, 5, 1, 8])
    pcx[8:12] = struct.pack("<HH", width - 1, height - 1)
    pcx[65] = 1
    pcx[66:68] = struct.pack("<H", width)
    header = struct.pack("<II", 0x3ADE68B1, 4 + 4 * 1024) + b"\0" * (4 * 1023)
    return header + bytes(pcx) + body


def pdf(width, height, colour_space, filters, stream, parms=b""):
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /Im0 4 0 R >> >>"
        b" /Contents 5 0 R >>",
        b"<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /%s /BitsPerComponent %d"
        b" /Filter [%s] %s /Length %d >>\nstream\n" % (width, height, colour_space, 1 if b"CCITT" in filters else 8,
                                                      filters, parms, len(stream)) + stream + b"\nendstream",
        b"<< /Length 30 >>\nstream\nq 612 0 0 792 0 0 cm /Im0 Do Q\nendstream",
    ]
    out, offsets = b"%PDF-1.4\n", []
    for i, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    return out + b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)


def deflate_zeros(count, level=9):
    """zlib data of `count` zero bytes, made a chunk at a time."""
    z, out, chunk = zlib.compressobj(level), [], b"\0" * (64 << 20)
    while count > 0:
        out.append(z.compress(chunk[:min(count, len(chunk))]))
        count -= len(chunk)
    return b"".join(out) + z.flush()


def main():
    tiny = zlib.compress(b"\0" * 4096, 9)  # far too little for any page below
    save("fuzz_load_gif", "bomb_gif_screen_32768.gif", gif(32768, 32768, 16, 16, 256))
    save("fuzz_load_gif", "bomb_gif_frame_16000.gif", gif(16000, 16000, 16000, 16000, 1000))
    save("fuzz_load_gif", "bomb_gif_frame_32768.gif", gif(32768, 32768, 32768, 32768, 1000))

    arithmetic = cjpeg("-arithmetic")
    save("fuzz_load_jpeg", "bomb_jpeg_arithmetic_16000.jpg", resized_jpeg(arithmetic, 16000, 16000))
    save("fuzz_load_jpeg", "bomb_jpeg_arithmetic_32768.jpg", resized_jpeg(arithmetic, 32768, 32768))
    save("fuzz_load_jpeg", "bomb_jpeg_huffman_16000.jpg", resized_jpeg(cjpeg(), 16000, 16000))
    save("fuzz_load_jpeg", "bomb_jpeg_progressive_16000.jpg", resized_jpeg(cjpeg("-progressive"), 16000, 16000))

    save("fuzz_load_tiff", "bomb_tiff_g4_80000.tif",
         tiff(80000, 80000, gray_tags(4, bits=1, photometric=0), [g4_white_rows(80000)]))
    save("fuzz_load_tiff", "bomb_tiff_g4_16000.tif",
         tiff(16000, 16000, gray_tags(4, bits=1, photometric=0), [g4_white_rows(1000)]))
    save("fuzz_load_tiff", "bomb_tiff_deflate_32768.tif", tiff(32768, 32768, gray_tags(8), [tiny]))
    save("fuzz_load_tiff", "bomb_tiff_deflate_16000.tif", tiff(16000, 16000, gray_tags(8), [tiny]))
    save("fuzz_load_tiff", "bomb_tiff_lzw_16000.tif", tiff(16000, 16000, gray_tags(5), [b"\x80" * 4096]))
    save("fuzz_load_tiff", "bomb_tiff_packbits_16000.tif",
         tiff(16000, 16000, gray_tags(32773), [b"\x81\0" * 2048]))
    save("fuzz_load_tiff", "bomb_tiff_planar_16000.tif",
         tiff(16000, 16000, gray_tags(8, samples=3, photometric=2, planar=2), [tiny] * 3))
    tiles = {**gray_tags(8), 322: (LONG, [1024]), 323: (LONG, [1024])}
    save("fuzz_load_tiff", "bomb_tiff_tiled_16000.tif", tiff(16000, 16000, tiles, [tiny] * 256, tiled=True))
    big_tile = {**gray_tags(8), 322: (LONG, [16384]), 323: (LONG, [16384])}
    save("fuzz_load_tiff", "bomb_tiff_huge_tile.tif", tiff(64, 64, big_tile, [tiny], tiled=True))
    lying = {**gray_tags(1), 279: (LONG, [16000 * 16000])}
    save("fuzz_load_tiff", "bomb_tiff_uncompressed_lie.tif", tiff(16000, 16000, lying, [b"\0" * 4096]))

    save("fuzz_load_png", "bomb_png_deflate_32768.png", png(32768, 32768, tiny))
    save("fuzz_load_png", "bomb_png_deflate_16000.png", png(16000, 16000, tiny))

    save("fuzz_load_dispatch", "bomb_bmp_rle_20000.bmp", bmp_rle8(20000, 20000, b"\0\1"))
    save("fuzz_load_dispatch", "bomb_bmp_rle_16000.bmp", bmp_rle8(16000, 16000, b"\0\0" * 64 + b"\0\1"))
    save("fuzz_load_dcx", "bomb_dcx_20000.dcx", dcx_gray(20000, 20000, b"\xff\0" * 4096))

    # Two Flate layers over 8 GiB of zeros: 8 MB after the first, about 10 KB
    # after the second; the image itself needs 8.7 MB of it.
    layers = zlib.compress(deflate_zeros(8 << 30), 9)
    save("fuzz_load_pdf", "bomb_pdf_flate_layers.pdf",
         pdf(2480, 3508, b"DeviceGray", b"/FlateDecode /FlateDecode", layers))
    save("fuzz_load_pdf", "bomb_pdf_flate_16000.pdf", pdf(16000, 16000, b"DeviceGray", b"/FlateDecode", tiny))
    save("fuzz_load_pdf", "bomb_pdf_flate_32768.pdf", pdf(32768, 32768, b"DeviceGray", b"/FlateDecode", tiny))
    save("fuzz_load_pdf", "bomb_pdf_ccitt_16000.pdf",
         pdf(16000, 16000, b"DeviceGray", b"/CCITTFaxDecode", g4_white_rows(1000),
             b"/DecodeParms [<< /K -1 /Columns 16000 /Rows 16000 >>]"))
    save("fuzz_load_pdf", "bomb_pdf_dct_arithmetic_16000.pdf",
         pdf(16000, 16000, b"DeviceGray", b"/DCTDecode", resized_jpeg(arithmetic, 16000, 16000)))


if __name__ == "__main__":
    main()
