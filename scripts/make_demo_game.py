#!/usr/bin/env python3
"""Builds the demo game that update-server serves: the update URL file, the update list, a
zip package with sub-folders, and two small files.

    make_demo_game.py ROOT BASE_URL [PACKAGE_MIB] [RELEASE]

ROOT/demo/ receives url.ini, list.ini, DemoGame.zip, readme.txt and version.txt; BASE_URL is
where ROOT is served (http://127.0.0.1:PORT). RELEASE 2 (default 1) is the game's next
release: the same files but three changed and one added, so an updater that has release 1
needs only those. The list downloads and unpacks the zip in one
entry, so the publisher's tool (sign-update.sh) gives it a manifest and the updater installs
it while its bytes arrive. Prints the files the game installs, one per line,
relative to the updater's folder, so the demo can check them after the run."""
import os
import random
import sys
import zipfile

GAME = "DemoGame"


def crlf(lines):
    return ("\r\n".join(lines) + "\r\n").encode("gbk")


def main(root, base, package_mib, release):
    demo = os.path.join(root, "demo")
    os.makedirs(demo, exist_ok=True)
    url = base.rstrip("/") + "/demo/"
    rng = random.Random(42)

    # The package: a few MiB across sub-folders, one name in Chinese (stored as GBK text), the
    # random data stored as it is, the rest deflated. The same bytes for every run, so that the
    # next release differs only where it means to.
    members = {
        "bin/game.dat": rng.randbytes(256 * 1024),
        "data/level1.pak": rng.randbytes(package_mib * 1024 * 1024 // 2),
        "data/maps/map01.pak": (b"map tile " * 1024) * (package_mib * 64),
        "游戏说明.txt": "欢迎来到示例游戏。\r\n".encode("gbk"),
    }
    for i in range(6):
        members["data/textures/tex%d.dds" % i] = rng.randbytes(128 * 1024)
    if release == 2:
        members["bin/game.dat"] = random.Random(2).randbytes(256 * 1024)
        members["data/textures/tex3.dds"] = random.Random(3).randbytes(128 * 1024)
        members["游戏说明.txt"] = "欢迎来到示例游戏。第二版：新关卡。\r\n".encode("gbk")
        members["data/maps/map02.pak"] = b"new map tile " * 4096
    with zipfile.ZipFile(os.path.join(demo, GAME + ".zip"), "w", zipfile.ZIP_DEFLATED) as package:
        for name, data in members.items():
            stored = name == "data/level1.pak" or name.endswith(".dds")
            package.writestr(name, data, zipfile.ZIP_STORED if stored else None)

    with open(os.path.join(demo, "readme.txt"), "wb") as f:
        f.write(crlf(["示例游戏 - demo game", "Installed by the updater."]))
    with open(os.path.join(demo, "version.txt"), "wb") as f:
        f.write(b"%d.0.0\r\n" % release)
    with open(os.path.join(demo, "url.ini"), "wb") as f:
        f.write(crlf(["[config]", "demo=" + url + "list.ini", "other=" + url + "list.ini"]))

    entries = [
        {"action": 1, "cmd": "CRE", "destfile": GAME},
        {"action": 2, "srcfile": url + "readme.txt", "destfile": GAME + "\\readme.txt"},
        {"action": 3, "srcfile": url + GAME + ".zip", "destfile": GAME + "\\" + GAME + ".zip", "cmd": "DEC"},
        {"action": 1, "cmd": "COPY", "srcfile": GAME + "\\readme.txt", "destfile": GAME + "\\readme.bak"},
        {"action": 1, "cmd": "DEL", "destfile": GAME + "\\readme.bak"},
        {"action": 2, "srcfile": url + "version.txt", "destfile": GAME + "\\version.txt"},
        {"action": 0},
    ]
    lines = []
    for index, entry in enumerate(entries):
        lines.append("[list%d]" % index)
        for key in ("action", "srcfile", "destfile", "cmd"):
            if key in entry:
                lines.append("%s=%s" % (key, entry[key]))
    with open(os.path.join(demo, "list.ini"), "wb") as f:
        f.write(crlf(lines))

    installed = [GAME + "/readme.txt", GAME + "/version.txt"] + [GAME + "/" + name for name in members]
    for name in installed:
        print(name)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 4,
         int(sys.argv[4]) if len(sys.argv) > 4 else 1)
