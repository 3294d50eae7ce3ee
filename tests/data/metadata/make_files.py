#!/usr/bin/env python3
"""Writes the pictures in this folder: small JPEG, PNG and TIFF files carrying
orientation tags, colour profiles and camera data, sound and damaged, each made
from the 61 x 47 test picture. Fuzz runs start from them, and the test suite
loads every one. Run from this folder: python3 make_files.py"""
import struct, zlib, subprocess, os

def s15(v):
    return struct.pack('>i', int(round(v * 65536)))

def tag_xyz(x, y, z):
    return b'XYZ ' + b'\0' * 4 + s15(x) + s15(y) + s15(z)

def tag_curv(gamma):
    return b'curv' + b'\0' * 4 + struct.pack('>I', 1) + struct.pack('>H', int(gamma * 256)) + b'\0\0'

def tag_desc(text):
    t = text.encode() + b'\0'
    return b'desc' + b'\0' * 4 + struct.pack('>I', len(t)) + t + b'\0' * 4 + b'\0' * 4 + b'\0' * 3 + b'\0' * 67

def icc_profile(name, red, green, blue, gamma):
    """A display profile (version 2) built on colorants and tone curves."""
    tags = [(b'desc', tag_desc(name)), (b'wtpt', tag_xyz(0.9642, 1.0, 0.8249)),
            (b'rXYZ', tag_xyz(*red)), (b'gXYZ', tag_xyz(*green)), (b'bXYZ', tag_xyz(*blue)),
            (b'rTRC', tag_curv(gamma)), (b'gTRC', tag_curv(gamma)), (b'bTRC', tag_curv(gamma)),
            (b'cprt', b'text' + b'\0' * 4 + b'No copyright, use freely\0')]
    table = struct.pack('>I', len(tags))
    data = b''
    offset = 128 + 4 + 12 * len(tags)
    for sig, body in tags:
        while len(body) % 4:
            body += b'\0'
        table += sig + struct.pack('>II', offset + len(data), len(body))
        data += body
    size = offset + len(data)
    header = struct.pack('>I', size) + b'none' + bytes([2, 0x10, 0, 0]) + b'mntr' + b'RGB ' + b'XYZ '
    header += b'\0' * 12 + b'acsp' + b'APPL' + b'\0' * 4 + b'\0' * 4 + b'\0' * 4 + b'\0' * 8 + b'\0' * 4
    header += s15(0.9642) + s15(1.0) + s15(0.8249) + b'none'
    header += b'\0' * (128 - len(header))
    return header + table + data

WIDE = icc_profile('Wide test RGB', (0.6097, 0.3111, 0.0195), (0.2053, 0.6257, 0.0609), (0.1492, 0.0632, 0.7446), 2.2)

def exif_blob(orientation, make=b'Testcam\0', big=False, thumb_offset=None):
    e = '>' if big else '<'
    entries = [(0x010F, 2, len(make), make), (0x0112, 3, 1, struct.pack(e + 'H', orientation) + b'\0\0')]
    head = (b'MM' if big else b'II') + struct.pack(e + 'HI', 42, 8)
    count = len(entries)
    ifd_end = 8 + 2 + 12 * count + 4
    extra = b''
    body = struct.pack(e + 'H', count)
    for tag, typ, n, value in entries:
        if len(value) > 4:
            body += struct.pack(e + 'HHII', tag, typ, n, ifd_end + len(extra))
            extra += value
        else:
            body += struct.pack(e + 'HHI', tag, typ, n) + value.ljust(4, b'\0')
    next_ifd = 0
    if thumb_offset is not None:
        next_ifd = ifd_end + len(extra)
        extra += struct.pack(e + 'H', 2) + struct.pack(e + 'HHII', 0x0201, 4, 1, thumb_offset)
        extra += struct.pack(e + 'HHII', 0x0202, 4, 1, 5000) + struct.pack(e + 'I', 0)
    body += struct.pack(e + 'I', next_ifd)
    return head + body + extra

def jpeg_segment(marker, payload):
    return bytes([0xFF, marker]) + struct.pack('>H', len(payload) + 2) + payload

def jpeg_with(jpeg, *segments):
    return jpeg[:2] + b''.join(segments) + jpeg[2:]

def icc_segments(icc):
    per = 65519
    parts = [icc[i:i + per] for i in range(0, len(icc), per)] or [b'']
    return [jpeg_segment(0xE2, b'ICC_PROFILE\0' + bytes([i + 1, len(parts)]) + p) for i, p in enumerate(parts)]

XMP = (b'<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?><x:xmpmeta xmlns:x="adobe:ns:meta/">'
       b'<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"><rdf:Description rdf:about="" '
       b'xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:creator><rdf:Seq><rdf:li>Tester</rdf:li></rdf:Seq>'
       b'</dc:creator></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end="w"?>')
XMP_ID = b'http://ns.adobe.com/xap/1.0/\0'

def png_chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF)

def png_with(png, *chunks):
    return png[:33] + b''.join(chunks) + png[33:]

def write(name, data):
    with open(name, 'wb') as f:
        f.write(data)

jpeg = open('../formats/jpg_rgb_444.jpg', 'rb').read()
garbage = bytes((i * 29 + 3) & 0xFF for i in range(60 * 1024 + 77))
write('jpg_camera_orientation6.jpg', jpeg_with(jpeg, jpeg_segment(0xE1, b'Exif\0\0' + exif_blob(6)),
                                               jpeg_segment(0xE1, XMP_ID + XMP), *icc_segments(WIDE)))
write('jpg_big_endian_orientation8.jpg', jpeg_with(jpeg, jpeg_segment(0xE1, b'Exif\0\0' + exif_blob(8, big=True))))
write('jpg_orientation9.jpg', jpeg_with(jpeg, jpeg_segment(0xE1, b'Exif\0\0' + exif_blob(9))))
write('jpg_thumbnail_past_end.jpg', jpeg_with(jpeg, jpeg_segment(0xE1, b'Exif\0\0' + exif_blob(3, thumb_offset=0x7FFFFF00))))
write('jpg_scrambled_exif.jpg', jpeg_with(jpeg, jpeg_segment(0xE1, b'Exif\0\0II*\0\x08\0\0\0\xff\xff' + garbage[:300])))
write('jpg_garbage_profile_60k.jpg', jpeg_with(jpeg, *icc_segments(garbage)))
write('jpg_truncated_xmp.jpg', jpeg_with(jpeg, jpeg_segment(0xE1, XMP_ID + XMP[:90])))

png = open('../formats/png_24bit.png', 'rb').read()
write('png_exif_orientation6_profile.png', png_with(png, png_chunk(b'iCCP', b'wide\0\0' + zlib.compress(WIDE)),
                                                  png_chunk(b'eXIf', exif_blob(6, big=True))))
write('png_garbage_profile.png', png_with(png, png_chunk(b'iCCP', b'x\0\0' + zlib.compress(garbage[:3000]))))
write('png_garbage_exif.png', png_with(png, png_chunk(b'eXIf', b'MM\0*\xff\xff\xff\0' + garbage[:200])))

open('wide.icc', 'wb').write(WIDE)
subprocess.run(['convert', '../formats/tif_24bit_lzw.tif', '-profile', 'wide.icc', '-orient', 'RightTop',
                '-compress', 'lzw', 'tif_orientation6_profile.tif'], check=True)
os.remove('wide.icc')
