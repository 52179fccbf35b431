#!/usr/bin/env python3
"""Writes the manifest of a zip package: where each entry lies in the zip and what it must hash
to, so that the updater can install the entries while the zip's bytes arrive.

    make_manifest.py ZIP [OUT]

OUT defaults to ZIP + ".manifest". Prints the manifest's SHA-256 (what the list entry's
manifest= carries). A zip the updater could not install entry by entry (an encrypted entry,
a method other than stored or deflate, a name with CR, LF or NUL, entries sharing bytes or a
path) gets no manifest: a warning on stderr and exit status 3; a stale OUT is removed then.

Format (text, CR LF line ends, one space between fields):
    zip-manifest 1
    zip <zip size> <zip sha256>
    entry <method> <flags> <dos date> <dos time> <unix time or -> <local header offset>
          <data offset> <data length> <uncompressed size> <crc32> <sha256> <name>   (one line)
    end <number of entry lines>
Entry lines are sorted by local header offset; <name> is the rest of the line, the name bytes
as the central directory stores them."""
import hashlib
import os
import struct
import sys
import zipfile
import zlib

NOT_INSTALLABLE = 3
LOCAL_HEADER = struct.Struct("<4sHHHHHIIIHH")
CHUNK = 1 << 20


class Refused(Exception):
    """The zip is sound but cannot be installed entry by entry."""


def extra_fields(extra):
    """(id, data) pairs of an extra field; a malformed tail is ignored, as the updater does."""
    at = 0
    while at + 4 <= len(extra):
        field_id, size = struct.unpack_from("<HH", extra, at)
        if at + 4 + size > len(extra):
            break
        yield field_id, extra[at + 4:at + 4 + size]
        at += 4 + size


def unix_time(extra):
    """The 0x5455 modification time of a central extra field, or None."""
    for field_id, data in extra_fields(extra):
        if field_id == 0x5455 and len(data) >= 5 and data[0] & 1:
            return struct.unpack_from("<i", data, 1)[0]
    return None


def stored_names(zip_file, archive):
    """The name bytes of every central directory entry, in directory order (zipfile's decoded
    names drop everything from a NUL on)."""
    zip_file.seek(archive.start_dir)
    names = []
    for _ in archive.infolist():
        header = zip_file.read(46)
        if len(header) < 46 or header[:4] != b"PK\x01\x02":
            raise zipfile.BadZipFile("the central directory ends early")
        name_size, extra_size, comment_size = struct.unpack_from("<HHH", header, 28)
        names.append(zip_file.read(name_size))
        zip_file.seek(extra_size + comment_size, os.SEEK_CUR)
    return names


def installed_name(info, name):
    """The name the updater writes the entry under, with '/' separators, lower case."""
    if info.flag_bits & 0x800:
        text = name.decode("utf-8")
    else:
        try:
            text = name.decode("gbk")
        except UnicodeDecodeError:
            return None  # refused by the updater whichever way it installs
        for field_id, data in extra_fields(info.extra):
            # Info-ZIP's UTF-8 path field, which unpacking prefers while its CRC matches the
            # stored name: the stream installer only knows the stored name, so they must agree.
            if field_id == 0x7075 and len(data) >= 5 and data[0] == 1 \
                    and struct.unpack_from("<I", data, 1)[0] == zlib.crc32(name):
                try:
                    unicode_path = data[5:].decode("utf-8")
                except UnicodeDecodeError:
                    return None
                if unicode_path != text:
                    raise Refused("%r carries a Unicode path field that names it %r"
                                  % (text, unicode_path))
    parts = [part for part in text.replace("\\", "/").split("/") if part not in ("", ".")]
    return "/".join(parts).lower()


def data_offset(zip_file, info):
    zip_file.seek(info.header_offset)
    header = zip_file.read(LOCAL_HEADER.size)
    if len(header) < LOCAL_HEADER.size or header[:4] != b"PK\x03\x04":
        raise zipfile.BadZipFile("no local header at offset %d" % info.header_offset)
    fields = LOCAL_HEADER.unpack(header)
    return info.header_offset + LOCAL_HEADER.size + fields[9] + fields[10]


def content_digest(archive, info):
    digest = hashlib.sha256()
    with archive.open(info) as entry:  # checks the CRC-32 at the end
        for block in iter(lambda: entry.read(CHUNK), b""):
            digest.update(block)
    return digest.hexdigest()


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(CHUNK), b""):
            digest.update(block)
    return digest.hexdigest()


def entry_lines(path, zip_size):
    lines, spans, paths = [], [], {}
    with open(path, "rb") as zip_file, zipfile.ZipFile(zip_file) as archive:
        entries = sorted(zip(archive.infolist(), stored_names(zip_file, archive)),
                         key=lambda pair: pair[0].header_offset)
        for info, name in entries:
            shown = name.decode("utf-8" if info.flag_bits & 0x800 else "gbk", "replace")
            if info.flag_bits & 0x41:
                raise Refused("%s is encrypted" % shown)
            if info.compress_type not in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
                raise Refused("%s uses compression method %d" % (shown, info.compress_type))
            if any(c in name for c in b"\r\n\0"):
                raise Refused("the name %r holds CR, LF or NUL" % name)
            is_directory = name.endswith(b"/")
            if is_directory and (info.file_size or info.compress_size):
                raise Refused("the directory entry %s has content" % shown)
            if info.compress_type == zipfile.ZIP_STORED and info.compress_size != info.file_size:
                raise Refused("the stored entry %s has two different sizes" % shown)
            key = installed_name(info, name)
            if key is not None:
                if key in paths:
                    raise Refused("%s and %s name the same file" % (paths[key], shown))
                paths[key] = shown
            begin = data_offset(zip_file, info)
            spans.append((info.header_offset, begin + info.compress_size, shown))
            dos_date = (info.date_time[0] - 1980) << 9 | info.date_time[1] << 5 | info.date_time[2]
            dos_time = info.date_time[3] << 11 | info.date_time[4] << 5 | info.date_time[5] // 2
            mtime = unix_time(info.extra)
            lines.append(b"entry %d %d %d %d %s %d %d %d %d %08x %s " % (
                info.compress_type, info.flag_bits, dos_date, dos_time,
                b"-" if mtime is None else b"%d" % mtime, info.header_offset, begin,
                info.compress_size, info.file_size, info.CRC,
                content_digest(archive, info).encode()) + name)
    for (_, end, shown), (next_begin, _, next_shown) in zip(spans, spans[1:] + [(zip_size, 0, "")]):
        if end > next_begin:
            raise Refused("%s reaches into %s" % (shown, next_shown or "the end of the zip"))
    return lines


def main(argv):
    if len(argv) not in (2, 3):
        print("usage: make_manifest.py ZIP [OUT]", file=sys.stderr)
        return 2
    path = argv[1]
    out = argv[2] if len(argv) == 3 else path + ".manifest"
    zip_size = os.path.getsize(path)
    try:
        lines = entry_lines(path, zip_size)
    except (Refused, zipfile.BadZipFile, zipfile.LargeZipFile, UnicodeDecodeError,
            NotImplementedError) as error:
        print("make_manifest: warning: %s gets no manifest: %s" % (path, error), file=sys.stderr)
        if os.path.exists(out):
            os.remove(out)
        return NOT_INSTALLABLE
    text = b"".join(line + b"\r\n" for line in
                    [b"zip-manifest 1", b"zip %d %s" % (zip_size, file_digest(path).encode())]
                    + lines + [b"end %d" % len(lines)])
    with open(out + ".tmp", "wb") as f:
        f.write(text)
    os.replace(out + ".tmp", out)
    print(hashlib.sha256(text).hexdigest())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
