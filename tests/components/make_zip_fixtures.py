#!/usr/bin/env python3
"""Builds the archives that unzip_test unpacks, and the trees they must unpack to.

    make_zip_fixtures.py OUTDIR

Archives come from real tools where the point is "what the world produces" (Info-ZIP zip,
Python's zipfile); a small writer of our own builds the ones no tool would make (unsafe names,
wrong sizes and CRCs, Zip64 fields on small entries, raw GBK names). OUTDIR/trees/<name>/ holds
the files each good archive must produce, byte for byte.
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import zipfile
import zlib

# A fixed, whole, even second in winter: DOS times keep 2-second steps and no summer time.
FIXED_MTIME = 1610712000  # 2021-01-15 12:00:00 UTC
MIB = 1024 * 1024


def write_file(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def set_times(root):
    for folder, _, files in os.walk(root):
        for name in files:
            os.utime(os.path.join(folder, name), (FIXED_MTIME, FIXED_MTIME))


def text_block(rng, size):
    words = [b"update", b"game", b"lobby", b"patch", b"room", b"level", b"file", b"data", b"0123"]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + (b"\r\n" if rng.random() < 0.1 else b" ")
    return bytes(out[:size])


def make_trees(out, rng):
    ascii_tree = os.path.join(out, "trees", "ascii")
    write_file(os.path.join(ascii_tree, "readme.txt"), b"Read me first.\r\n" * 40)
    write_file(os.path.join(ascii_tree, "data", "random.bin"), rng.randbytes(70000))
    write_file(os.path.join(ascii_tree, "data", "empty.txt"), b"")
    write_file(os.path.join(ascii_tree, "data", "nested", "deep", "notes.txt"), text_block(rng, 200000))
    os.makedirs(os.path.join(ascii_tree, "empty-folder"))
    set_times(ascii_tree)

    python_tree = os.path.join(out, "trees", "python")
    shutil.copytree(ascii_tree, python_tree)
    write_file(os.path.join(python_tree, "中文目录", "游戏说明.txt"), "更新说明\r\n".encode("gbk") * 30)
    write_file(os.path.join(python_tree, "中文目录", "空.txt"), b"")
    set_times(python_tree)

    # 乗 is 81 5C in GBK: its second byte is a backslash and must not split the name.
    gbk_tree = os.path.join(out, "trees", "gbk")
    write_file(os.path.join(gbk_tree, "中文目录", "乗客.txt"), b"raw GBK name\r\n")
    write_file(os.path.join(gbk_tree, "更新.dat"), rng.randbytes(3000))

    write_file(os.path.join(out, "trees", "stdin", "-"), b"".join(b"%d\n" % i for i in range(1, 5001)))

    zip64_tree = os.path.join(out, "trees", "zip64")
    write_file(os.path.join(zip64_tree, "first.bin"), rng.randbytes(5000))
    write_file(os.path.join(zip64_tree, "sub", "second.txt"), text_block(rng, 50000))

    extra_tree = os.path.join(out, "trees", "unicode_extra")
    write_file(os.path.join(extra_tree, "中文", "unicode-extra.txt"), b"named by the 0x7075 field\n")
    write_file(os.path.join(extra_tree, "plain.txt"), b"the stored name counts\n")

    # 100 MiB, compressible, yet every MiB differs so a misplaced block shows.
    big_tree = os.path.join(out, "trees", "big")
    os.makedirs(big_tree)
    base = text_block(rng, MIB)
    with open(os.path.join(big_tree, "big.bin"), "wb") as f:
        for i in range(100):
            f.write(b"block %06d|" % i + base[13:])

    write_file(os.path.join(out, "trees", "sweep", "a.txt"), text_block(rng, 200))
    write_file(os.path.join(out, "trees", "sweep", "d", "b.txt"), text_block(rng, 300))
    write_file(os.path.join(out, "trees", "sweep", "empty.txt"), b"")


def zip_tree_with_python(tree, archive, compression, stream=False):
    entries = []
    for folder, dirs, files in os.walk(tree):
        dirs.sort()
        for name in sorted(dirs) + sorted(files):
            entries.append(os.path.join(folder, name))

    class Unseekable:  # zipfile then writes data descriptors (flag bit 3)
        def __init__(self, f):
            self.f = f

        def write(self, b):
            return self.f.write(b)

        def flush(self):
            self.f.flush()

    with open(archive, "wb") as raw:
        target = Unseekable(raw) if stream else raw
        with zipfile.ZipFile(target, "w", compression) as z:
            for path in entries:
                z.write(path, os.path.relpath(path, tree).replace(os.sep, "/"))


def zip_tree_with_infozip(tree, archive, *options, stream=False):
    archive = os.path.abspath(archive)
    if stream:  # through a pipe zip cannot seek back: data descriptors
        with open(archive, "wb") as f:
            zip_proc = subprocess.Popen(["zip", "-q", "-r", *options, "-", "."], cwd=tree, stdout=subprocess.PIPE)
            shutil.copyfileobj(zip_proc.stdout, f)
            if zip_proc.wait() != 0:
                raise SystemExit("zip failed")
    else:
        subprocess.run(["zip", "-q", "-r", *options, archive, "."], cwd=tree, check=True)


# ---- our own writer, for archives no tool makes --------------------------------------------

def deflate(data):
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def entry(name, data=b"", method=8, flags=0, **overrides):
    e = {"name": name, "data": data, "method": method, "flags": flags}
    e.update(overrides)
    return e


def build_zip(entries, zip64=False, disk=0):
    """Local headers, data, central directory, end record. Per entry, `payload` replaces the
    compressed bytes, `crc`, `usize`, `csize` replace the true values, `extra` is added to the
    central record. With zip64, sizes and offsets sit in Zip64 fields behind all-ones markers."""
    body = bytearray()
    central = bytearray()
    for e in entries:
        data = e["data"]
        payload = e.get("payload", deflate(data) if e["method"] == 8 else data)
        crc = e.get("crc", zlib.crc32(data))
        usize = e.get("usize", len(data))
        csize = e.get("csize", len(payload))
        offset = len(body)
        name = e["name"]
        if zip64:
            local_extra = struct.pack("<HHQQ", 1, 16, usize, csize)
            central_extra = struct.pack("<HHQQQ", 1, 24, usize, csize, offset)
            s32 = (0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF)
        else:
            local_extra = b""
            central_extra = b""
            s32 = (csize, usize, offset)
        central_extra += e.get("extra", b"")
        version = 45 if zip64 else 20
        body += struct.pack("<IHHHHHIIIHH", 0x04034B50, version, e["flags"], e["method"], 0x6000, 0x5221,
                            crc, s32[0], s32[1], len(name), len(local_extra)) + name + local_extra + payload
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x031E, version, e["flags"], e["method"],
                               0x6000, 0x5221, crc, s32[0], s32[1], len(name), len(central_extra), 0, 0, 0,
                               0o100644 << 16, s32[2]) + name + central_extra
    cd_offset = len(body)
    out = body + central
    count = len(entries)
    if zip64:
        z64_offset = len(out)
        out += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, len(central), cd_offset)
        out += struct.pack("<IIQI", 0x07064B50, 0, z64_offset, 1)
        out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    else:
        out += struct.pack("<IHHHHIIH", 0x06054B50, disk, disk, count, count, len(central), cd_offset, 0)
    return bytes(out)


def unicode_path_extra(raw_name, utf8_name):
    field = b"\x01" + struct.pack("<I", zlib.crc32(raw_name)) + utf8_name
    return struct.pack("<HH", 0x7075, len(field)) + field


def split_zip(archive):
    """(local records, central records) of an archive without Zip64 or comment."""
    cd_offset = struct.unpack_from("<I", archive, len(archive) - 6)[0]
    return archive[:cd_offset], archive[cd_offset:len(archive) - 22]


def join_zip(body, central, count):
    return body + central + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(central), len(body), 0)


def shared_record_zip(count, data):
    """`count` differently named directory entries that all point at one local record."""
    body, central = split_zip(build_zip([entry(b"bomb0.bin", data)]))
    return join_zip(body, b"".join(central.replace(b"bomb0.bin", b"bomb%d.bin" % i) for i in range(count)), count)


def overrun_zip():
    """A stored entry whose data (CRC and all) swallows the next entry's whole local record."""
    b_body, b_central = split_zip(build_zip([entry(b"b.txt", b"second entry\n", method=0)]))
    a_data = b"first entry\n"
    a_body, a_central = split_zip(build_zip([entry(b"a.txt", a_data + b_body, method=0)]))
    b_central = bytearray(b_central)
    struct.pack_into("<I", b_central, 42, 30 + len(b"a.txt") + len(a_data))
    return join_zip(a_body, a_central + bytes(b_central), 2)


def tree_bytes(tree, relative):
    with open(os.path.join(tree, relative), "rb") as f:
        return f.read()


def make_crafted(out, rng):
    trees = os.path.join(out, "trees")

    def save(name, data):
        write_file(os.path.join(out, name), data)

    gbk = os.path.join(trees, "gbk")
    save("gbk_raw.zip", build_zip([
        entry("中文目录/".encode("gbk"), method=0),
        entry("中文目录/乗客.txt".encode("gbk"), tree_bytes(gbk, "中文目录/乗客.txt")),
        entry("更新.dat".encode("gbk"), tree_bytes(gbk, "更新.dat"), method=0),
    ]))

    z64 = os.path.join(trees, "zip64")
    save("zip64_fields.zip", build_zip([
        entry(b"first.bin", tree_bytes(z64, "first.bin"), method=0),
        entry(b"sub/second.txt", tree_bytes(z64, "sub/second.txt")),
    ], zip64=True))

    raw = b"\xff\xfe-not-gbk.txt"
    save("unicode_extra.zip", build_zip([
        entry(raw, b"named by the 0x7075 field\n",
              extra=unicode_path_extra(raw, "中文/unicode-extra.txt".encode("utf-8"))),
        # The field belongs to another name (its CRC differs): the stored name counts.
        entry(b"plain.txt", b"the stored name counts\n",
              extra=unicode_path_extra(b"other.txt", b"ignored.txt")),
    ]))

    first = entry(b"first.txt", b"written before the bad entry?\n")
    last = entry(b"last.txt", b"after it\n", method=0)
    unsafe = {
        "dotdot_backslash": b"..\\x.txt",
        "dotdot_slash": b"../x.txt",
        "dotdot_nested": b"a/b/../../../x.txt",
        "abs_slash": b"/abs.txt",
        "abs_backslash": b"\\abs.txt",
        "drive_relative": b"C:foo.txt",
        "drive_absolute": b"C:\\x.txt",
        "unc": b"\\\\server\\share\\x.txt",
        "control_char": b"a\x01b.txt",
        "embedded_nul": b"a\x00b.txt",
        "device_name": b"sub/nul.txt",
        "dots_only": b"sub/.. ./x.txt",
        "invalid_gbk": b"\x81.txt",
    }
    for key, name in unsafe.items():
        save("unsafe_%s.zip" % key, build_zip([first, entry(name, b"escaped\n"), last]))
    save("unsafe_invalid_utf8.zip", build_zip([first, entry(b"\xc3(.txt", b"x", flags=0x800), last]))

    good = entry(b"good.txt", b"a good entry before the bad one\n")
    body = text_block(rng, 4000)
    # The long entry is declared 2 MiB but inflates to 6 MiB; tail.bin (8 MiB) is never reached.
    long_data = text_block(rng, 6 * MIB)
    save("corrupt_too_long.zip", build_zip([
        entry(b"long.bin", long_data, usize=2 * MIB), entry(b"tail.bin", bytes(8 * MIB))]))
    save("corrupt_too_short.zip", build_zip([good, entry(b"short.bin", body, usize=5000)]))
    save("corrupt_stored_longer.zip", build_zip([good, entry(b"stored.bin", body, method=0, usize=3000)]))
    save("corrupt_crc_stored.zip", build_zip([good, entry(b"bad.bin", body, method=0,
                                                          crc=zlib.crc32(body) ^ 1)]))
    save("corrupt_crc_deflate.zip", build_zip([good, entry(b"bad.bin", body, crc=zlib.crc32(body) ^ 0x80000000)]))
    save("corrupt_stream.zip", build_zip([good, entry(b"bad.bin", body, payload=b"\xff" * 64)]))
    # The compressed size stops short of the end of the deflate stream.
    save("corrupt_cut_stream.zip", build_zip([good, entry(b"bad.bin", body, csize=len(deflate(body)) - 10)]))
    save("corrupt_encrypted.zip", build_zip([good, entry(b"secret.bin", body, flags=1)]))
    save("corrupt_bzip2.zip", build_zip([good, entry(b"bz.bin", body, method=12, payload=b"BZh9")]))
    save("corrupt_split.zip", build_zip([good], disk=1))
    bad_dir = bytearray(build_zip([good, entry(b"x.bin", body)]))
    bad_dir[-6:-2] = struct.pack("<I", 5)  # directory offset into the middle of the data
    save("corrupt_directory.zip", bytes(bad_dir))
    save("overlap_shared.zip", shared_record_zip(10, bytes(MIB)))
    save("overlap_into_header.zip", overrun_zip())
    save("huge_declared.zip", build_zip([entry(b"huge.bin", body, usize=1 << 60)], zip64=True))
    save("empty_archive.zip", build_zip([]))
    save("not_a_zip.zip", b"This is a text file, not an archive.\r\n" * 20)
    save("empty_file.zip", b"")


def main():
    out = sys.argv[1]
    if os.path.isdir(out):
        shutil.rmtree(out)
    os.makedirs(out)
    rng = random.Random(20240607)
    make_trees(out, rng)
    trees = os.path.join(out, "trees")
    ascii_tree = os.path.join(trees, "ascii")

    zip_tree_with_infozip(ascii_tree, os.path.join(out, "infozip_deflate.zip"))
    zip_tree_with_infozip(ascii_tree, os.path.join(out, "infozip_stored.zip"), "-0")
    zip_tree_with_infozip(ascii_tree, os.path.join(out, "infozip_stream.zip"), stream=True)
    zip_tree_with_infozip(ascii_tree, os.path.join(out, "infozip_zip64.zip"), "-fz")
    # Zip reading standard input through a pipe: Zip64 local fields and a Zip64 data descriptor.
    with open(os.path.join(trees, "stdin", "-"), "rb") as source, \
            open(os.path.join(out, "infozip_stdin.zip"), "wb") as target:
        proc = subprocess.Popen(["zip", "-q", "-", "-"], stdin=source, stdout=subprocess.PIPE)
        shutil.copyfileobj(proc.stdout, target)
        if proc.wait() != 0:
            raise SystemExit("zip failed")

    python_tree = os.path.join(trees, "python")
    zip_tree_with_python(python_tree, os.path.join(out, "python_deflate.zip"), zipfile.ZIP_DEFLATED)
    zip_tree_with_python(python_tree, os.path.join(out, "python_stored.zip"), zipfile.ZIP_STORED)
    zip_tree_with_python(python_tree, os.path.join(out, "python_stream.zip"), zipfile.ZIP_DEFLATED, stream=True)
    zip_tree_with_python(os.path.join(trees, "sweep"), os.path.join(out, "sweep.zip"), zipfile.ZIP_DEFLATED)
    with zipfile.ZipFile(os.path.join(out, "big.zip"), "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        z.write(os.path.join(trees, "big", "big.bin"), "big.bin")

    make_crafted(out, rng)

    # Over 4 GiB of zeros in one deflated entry, a few MiB of archive: Zip64 for real. Fully
    # flushed deflate blocks can be repeated, so the 4 GiB are compressed only once per 16 MiB.
    zeros = bytes(16 * MIB)
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    block = compressor.compress(zeros) + compressor.flush(zlib.Z_FULL_FLUSH)
    crc = 0
    for _ in range(257):
        crc = zlib.crc32(zeros, crc)
    huge = entry(b"huge.bin", payload=block * 257 + b"\x03\x00", crc=crc, usize=257 * 16 * MIB)
    write_file(os.path.join(out, "huge_zip64.zip"), build_zip([huge], zip64=True))

    write_file(os.path.join(out, "fixtures.stamp"), b"done\n")


if __name__ == "__main__":
    main()
