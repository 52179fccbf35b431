#!/usr/bin/env python3
"""Turns Wine's debug-string log (WINEDEBUG=+debugstr) into the program's own trace lines,
decoded from GBK, one per line, each prefixed with a tag. Other lines pass through unchanged
when --all is given and are dropped otherwise."""
import ast
import re
import sys

LINE = re.compile(r'OutputDebugStringA "(.*)"\s*$')


def decode(escaped):
    # Wine writes the string as a C literal: quotes and bytes above 127 already escaped.
    raw = ast.literal_eval('b"' + escaped + '"')
    return raw.decode("gbk", errors="replace")


def main():
    prefix = sys.argv[1] if len(sys.argv) > 1 else "trace: "
    keep_all = "--all" in sys.argv[2:]
    for line in sys.stdin.buffer:
        text = line.decode("latin-1").rstrip("\n")
        match = LINE.search(text)
        if match:
            try:
                text = decode(match.group(1))
            except (ValueError, SyntaxError):
                text = match.group(1)
        elif not keep_all:
            continue
        sys.stdout.write(prefix + text + "\n")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
