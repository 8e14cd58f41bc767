#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into corpus/<target>/ beside this script.

The seeds are made here, not taken from elsewhere: small archives written with Python's
zipfile (and one with traditional encryption, built byte by byte) for the reader, and short
programs in the input language of the other targets (see the comments at the top of their
headers). Run it again after changing an input language; the output is the same every time.
"""
import io
import os
import struct
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
FIXED_TIME = (2024, 5, 17, 12, 30, 20)


def put(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


class Program:
    """Writes choices the way FuzzInput reads them."""

    def __init__(self):
        self.out = bytearray()

    def byte(self, value):
        self.out.append(value & 0xFF)
        return self

    def flag(self, value):
        return self.byte(1 if value else 0)

    def number(self, value, limit):
        width = 1 if limit < 0x100 else 2 if limit < 0x10000 else 4
        self.out += value.to_bytes(width, "little")
        return self

    def bytes(self, data, max_length):
        self.number(len(data), max_length)
        self.out += data
        return self

    # MakeData's four shapes.
    def raw(self, data):
        return self.byte(0).bytes(data, 4096)

    def run(self, value, length):
        return self.byte(1).byte(value).number(length, 70000)

    def pattern(self, chunk, length):
        return self.byte(2).bytes(chunk, 32).number(length, 70000)

    def zero_tail(self, data, zeros):
        return self.byte(3).bytes(data, 1024).number(zeros, 255)


TEXT = (b"SiiNunit\n{\naccessory_engine_data : seed.engine\n{\n"
        b"\tname: \"Seed engine\"\n\ttorque: 2100\n}\n}\n")


# ---- zip_reader: archives -------------------------------------------------------------------

def zip_info(name, method):
    info = zipfile.ZipInfo(name, FIXED_TIME)
    info.compress_type = method
    if name.endswith("/"):
        info.external_attr = 0x10
    return info


def python_archive(entries, comment=b"", seekable=True):
    class Unseekable(io.RawIOBase):
        def __init__(self):
            self.data = bytearray()

        def writable(self):
            return True

        def write(self, b):
            self.data += b
            return len(b)

    target = io.BytesIO() if seekable else Unseekable()
    with zipfile.ZipFile(target, "w") as archive:
        archive.comment = comment
        for name, method, data in entries:
            archive.writestr(zip_info(name, method), data)
    return target.getvalue() if seekable else bytes(target.data)


class ZipCrypto:
    """The traditional PKWARE cipher, to make an encrypted seed."""

    def __init__(self, password):
        self.keys = [0x12345678, 0x23456789, 0x34567890]
        for c in password:
            self.update(c)

    @staticmethod
    def crc_step(crc, byte):
        return zlib.crc32(bytes([byte]), crc ^ 0xFFFFFFFF) ^ 0xFFFFFFFF

    def update(self, plain):
        k0, k1, k2 = self.keys
        k0 = self.crc_step(k0, plain)
        k1 = ((k1 + (k0 & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        k2 = self.crc_step(k2, k1 >> 24)
        self.keys = [k0, k1, k2]

    def encrypt(self, data):
        out = bytearray()
        for plain in data:
            t = (self.keys[2] | 2) & 0xFFFF
            out.append(plain ^ (((t * (t ^ 1)) >> 8) & 0xFF))
            self.update(plain)
        return bytes(out)


def encrypted_archive(entries, password):
    """Entries (name, method 0 or 8, data) encrypted with the password, without descriptors."""
    out = bytearray()
    directory = bytearray()
    dos_time = (FIXED_TIME[3] << 11) | (FIXED_TIME[4] << 5) | (FIXED_TIME[5] // 2)
    dos_date = ((FIXED_TIME[0] - 1980) << 9) | (FIXED_TIME[1] << 5) | FIXED_TIME[2]
    for index, (name, method, data) in enumerate(entries):
        crc = zlib.crc32(data)
        if method == 8:
            packer = zlib.compressobj(6, zlib.DEFLATED, -15)
            packed = packer.compress(data) + packer.flush()
        else:
            packed = data
        header = bytes(range(index + 1, index + 12)) + bytes([crc >> 24])
        stored = ZipCrypto(password).encrypt(header + packed)
        fields = struct.pack("<HHHHHIIIHH", 20, 1, method, dos_time, dos_date, crc, len(stored), len(data),
                             len(name), 0)
        offset = len(out)
        out += b"PK\x03\x04" + fields + name + stored
        directory += (b"PK\x01\x02" + struct.pack("<H", 20) + fields + struct.pack("<HHHII", 0, 0, 0, 0, offset)
                      + name)
    end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, len(entries), len(entries), len(directory), len(out), 0)
    return bytes(out + directory + end)


def reader_seeds():
    put("zip_reader", "deflate-folder-comment.zip", python_archive([
        ("def/", zipfile.ZIP_STORED, b""),
        ("def/vehicle/truck/seed/engine/a.sii", zipfile.ZIP_DEFLATED, TEXT),
        ("def/vehicle/truck/seed/engine/b.sii", zipfile.ZIP_DEFLATED, TEXT * 3),
    ], comment=b"seed archive"))
    put("zip_reader", "bzip2-lzma-stored.zip", python_archive([
        ("b.sii", zipfile.ZIP_BZIP2, TEXT * 2),
        ("l.sii", zipfile.ZIP_LZMA, TEXT * 2),
        ("s.txt", zipfile.ZIP_STORED, b"stored bytes\x00\x01\x02"),
        ("empty", zipfile.ZIP_DEFLATED, b""),
    ]))
    put("zip_reader", "data-descriptors.zip", python_archive([
        ("d/x.sii", zipfile.ZIP_DEFLATED, TEXT),
        ("d/y.bin", zipfile.ZIP_STORED, bytes(range(64))),
    ], seekable=False))
    archive = encrypted_archive([
        (b"secret/stored.txt", 0, b"kept under a password"),
        (b"secret/deflated.sii", 8, TEXT),
    ], b"password")
    # Python's zipfile must read the seed, or it seeds nothing useful.
    with zipfile.ZipFile(io.BytesIO(archive)) as check:
        assert check.read("secret/deflated.sii", pwd=b"password") == TEXT
    put("zip_reader", "encrypted.zip", archive)


# ---- codecs and the encryption stream --------------------------------------------------------

def codec_seeds():
    # Each: settings, write size - 1, direct, decoder capacity - 1, read size - 1, then data.
    def common(p, write, direct, capacity, read):
        return p.number(write - 1, 65535).flag(direct).number(capacity - 1, 65535).number(read - 1, 65535)

    settings = {
        "store_codec": [lambda p: p.number(32767, 65535), lambda p: p.number(6, 65535)],
        "deflate_codec": [lambda p: p.number(32767, 65535).byte(6 + 2), lambda p: p.number(99, 65535).byte(0)],
        "bzip2_codec": [lambda p: p.number(32767, 65535).byte(1 + 1).number(30 + 20, 300),
                        lambda p: p.number(999, 65535).byte(9 + 1).number(0, 300)],
        "lzma_codec": [lambda p: p.flag(True).byte(1), lambda p: p.flag(False).byte(0)],
    }
    for target, (first, second) in settings.items():
        put(target, "text", common(first(Program()), 32768, False, 32768, 32768).raw(TEXT * 4).out)
        put(target, "run-in-small-blocks", common(second(Program()), 1000, True, 777, 1).run(0x41, 70000).out)
        put(target, "pattern", common(first(Program()), 4096, True, 32768, 4096)
            .pattern(b"engine transmission ", 40000).out)
        put(target, "empty", common(second(Program()), 1, False, 1, 1).raw(b"").out)
        put(target, "zero-tail", common(first(Program()), 65536, False, 32768, 100)
            .zero_tail(bytes(range(256)) * 2, 1).out)

    def crypto(password, check, write, read, by_byte):
        return Program().bytes(password, 40).byte(check).number(write - 1, 65535).number(read - 1, 65535) \
            .flag(by_byte)

    put("crypto_stream", "text", crypto(b"password", 0x5A, 32768, 32768, False).raw(TEXT).out)
    put("crypto_stream", "empty", crypto(b"pw", 0, 1, 1, True).raw(b"").out)
    put("crypto_stream", "pattern-small-writes", crypto(b"\x00\xff", 255, 3, 5, False)
        .pattern(b"\x00\x01\x02", 5000).out)
    put("crypto_stream", "no-password", crypto(b"", 7, 100, 100, True).zero_tail(b"abc", 200).out)


# ---- archive_roundtrip: programs -------------------------------------------------------------

ALPHABET = b"ab/\\."


def name(p, text):
    p.number(len(text), 12)
    for c in text:
        if c in ALPHABET:
            p.byte(ALPHABET.index(c))
        else:
            p.byte(200).byte(c)
    return p


def method(p, kind):
    if kind == "store":
        return p.byte(0)
    if kind == "deflate":
        return p.byte(1).byte(6).number(32767, 65535)
    if kind == "bzip2":
        return p.byte(2).byte(0).number(4095, 65535)
    return p.byte(3).byte(1).flag(True)


def give(p, kind, on_write, password, shape):
    method(p, kind).flag(on_write)
    if password is None:
        p.flag(False)
    else:
        p.flag(True).bytes(password, 16)
    return shape(p)


def add_file(p, text, kind, on_write=False, password=None, shape=lambda p: p.raw(TEXT)):
    return give(name(p.byte(0), text).byte(1), kind, on_write, password, shape)


def add_folder(p, text, slash=True):
    return name(p.byte(3), text).flag(slash)


def archive_seeds():
    p = Program()
    add_file(p, b"def/e.sii", "deflate")
    add_folder(p, b"def")
    add_file(p, b"def/r.bin", "lzma", on_write=True, shape=lambda p: p.run(0x41, 5000))
    add_file(p, b"def/s.txt", "store", shape=lambda p: p.raw(b"stored"))
    p.byte(4).number(0, 255)                # remove def/e.sii
    p.byte(5)                               # write, check, start over
    p.byte(7).number(1, 255).flag(True)     # fill a new entry from def/r.bin's stream
    name(p, b"copy.bin")
    method(p, "bzip2").flag(True)
    put("archive_roundtrip", "add-remove-rewrite-fill", p.out)

    p = Program()
    add_file(p, b"a.bin", "store", password=b"secret")
    add_file(p, b"b.sii", "deflate", on_write=True, password=b"pw", shape=lambda p: p.pattern(b"ab", 3000))
    add_file(p, b"c.sii", "bzip2", password=b"x")
    p.byte(5)
    p.byte(6).number(0, 255)                # new data for a.bin
    give(p, "bzip2", False, None, lambda p: p.raw(TEXT))
    p.byte(7).number(2, 255).flag(False).number(2, 255)   # c.sii recompressed from its own stream
    method(p, "deflate").flag(True)
    put("archive_roundtrip", "passwords-replace-recompress", p.out)

    p = Program()
    add_file(p, b"\\a//b", "store", shape=lambda p: p.raw(b""))
    name(p.byte(0), b"a/b")                 # taken byte for byte: refused, so no data follow
    add_file(p, b"a\\b", "store")           # the same normalised name again, accepted
    add_folder(p, b"a\\", slash=False)
    add_folder(p, b"/", slash=True)         # separators only: refused
    name(p.byte(1), b"x.").byte(0)          # a file without any data
    add_file(p, b"\xff\x00n", "lzma", shape=lambda p: p.zero_tail(b"tail", 0))
    put("archive_roundtrip", "names", p.out)


if __name__ == "__main__":
    reader_seeds()
    codec_seeds()
    archive_seeds()
