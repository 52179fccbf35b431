#!/usr/bin/env python3
"""The publisher's tools: manifests of zips made by Info-ZIP the ways publishers make them (every
entry's data must be found at the offsets the manifest gives and hash to what it says), and the
manifest= lines the signing script keeps current."""
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest
import zlib

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
TOOL = os.path.join(SCRIPTS, "make_manifest.py")
SIGN = os.path.join(SCRIPTS, "sign-update.sh")


def run(*args, cwd=None, stdin=None, stdout=subprocess.PIPE):
    return subprocess.run(args, cwd=cwd, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE)


class PublisherToolsTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.src = os.path.join(self.dir.name, "src")
        self.files = {
            "sub/deep/text.txt": b"level data " * 5000,
            "sub/random.bin": os.urandom(300000),
            "empty": b"",
        }
        for name, data in self.files.items():
            os.makedirs(os.path.dirname(os.path.join(self.src, name)), exist_ok=True)
            with open(os.path.join(self.src, name), "wb") as f:
                f.write(data)

    def tearDown(self):
        self.dir.cleanup()

    def check_manifest(self, zip_path, expected):
        result = run(sys.executable, TOOL, zip_path)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(zip_path + ".manifest", "rb") as f:
            text = f.read()
        self.assertEqual(result.stdout.decode().strip(), hashlib.sha256(text).hexdigest())
        with open(zip_path, "rb") as f:
            data = f.read()
        lines = text.split(b"\r\n")
        self.assertEqual(lines[:2], [b"zip-manifest 1", b"zip %d %s" % (len(data), hashlib.sha256(data).hexdigest().encode())])
        self.assertEqual(lines[-2:], [b"end %d" % (len(lines) - 4), b""])
        found = {}
        for line in lines[2:-2]:
            fields = line.split(b" ", 12)
            method, header, begin, length, size = (int(fields[i]) for i in (1, 6, 7, 8, 9))
            self.assertEqual(data[header:header + 4], b"PK\x03\x04")
            raw = data[begin:begin + length]
            content = zlib.decompressobj(-15).decompress(raw) if method == 8 else raw
            self.assertEqual(len(content), size)
            self.assertEqual(fields[10], b"%08x" % zlib.crc32(content))
            self.assertEqual(fields[11], hashlib.sha256(content).hexdigest().encode())
            found[fields[12].decode()] = content
        for name, content in expected.items():
            self.assertEqual(found.get(name), content, name)

    def test_offsets_of_info_zip_archives(self):
        # Plain, forced Zip64, data descriptors, and a stream from a pipe (a Zip64 field in the
        # local header only, so local and central extra fields differ in length).
        for label, options in (("plain", ["-r"]), ("zip64", ["-r", "-fz"]), ("descriptors", ["-r", "-fd"])):
            with self.subTest(label):
                path = os.path.join(self.dir.name, label + ".zip")
                self.assertEqual(run("zip", "-q", *options, path, ".", cwd=self.src).returncode, 0)
                self.check_manifest(path, self.files)
        path = os.path.join(self.dir.name, "piped.zip")
        with open(os.path.join(self.src, "sub/random.bin"), "rb") as stdin, open(path, "wb") as out:
            self.assertEqual(run("zip", "-q", "-", "-", stdin=stdin, stdout=out).returncode, 0)
        self.check_manifest(path, {"-": self.files["sub/random.bin"]})

    def test_encrypted_zip_gets_no_manifest_and_loses_a_stale_one(self):
        path = os.path.join(self.dir.name, "secret.zip")
        self.assertEqual(run("zip", "-q", "-r", "-P", "password", path, ".", cwd=self.src).returncode, 0)
        with open(path + ".manifest", "wb") as f:
            f.write(b"zip-manifest 1\r\n")
        result = run(sys.executable, TOOL, path)
        self.assertEqual(result.returncode, 3)
        self.assertIn(b"warning", result.stderr)
        self.assertFalse(os.path.exists(path + ".manifest"))

    def test_publisher_without_key_gets_manifest_lines_kept_current(self):
        served = os.path.join(self.dir.name, "served")
        os.makedirs(served)
        package = os.path.join(served, "game.zip")
        self.assertEqual(run("zip", "-q", "-r", package, ".", cwd=self.src).returncode, 0)
        listing = os.path.join(served, "list.ini")
        with open(listing, "wb") as f:
            f.write(b"[list0]\r\naction=3\r\nsrcfile=http://host/game.zip\r\n"
                    b"destfile=Game\\game.zip\r\ncmd=DEC\r\nmanifest=stale\r\n[list1]\r\naction=0\r\n")

        def manifest_lines():
            with open(listing, "rb") as f:
                return [line for line in f.read().split(b"\r\n") if line.startswith(b"manifest=")]
        for _ in range(2):  # a second run refreshes rather than adds
            result = run("bash", SIGN, served)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(package + ".manifest", "rb") as f:
                self.assertEqual(manifest_lines(), [b"manifest=" + hashlib.sha256(f.read()).hexdigest().encode()])
        self.assertFalse(os.path.exists(listing + ".sig"))

        # The package becomes one that cannot have a manifest: the list must not keep the old one.
        os.remove(package)
        self.assertEqual(run("zip", "-q", "-r", "-P", "password", package, ".", cwd=self.src).returncode, 0)
        result = run("bash", SIGN, served)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"warning", result.stderr)
        self.assertEqual(manifest_lines(), [])


if __name__ == "__main__":
    unittest.main()
