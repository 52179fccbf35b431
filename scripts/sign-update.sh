#!/usr/bin/env bash
# The publisher's tool: signs a release's update files so that updaters with the publisher's
# key installed accept them.
#
#   scripts/sign-update.sh FOLDER KEY.pem
#
# FOLDER is what the update server serves at its root. Update files are the files under it
# with a "[config]" section (update URL files) or "[listN]" sections (update lists). First,
# every download entry (action with the value 2) of every list gets "sha256=" of the file
# its srcfile URL names: the URL's path, read below FOLDER. Then every update file gets
# FILE.sig beside it: `openssl dgst -sha256 -sign KEY.pem` over its exact bytes. Run it again
# after any change to a list or a package; it refreshes what it wrote before.
set -euo pipefail

if [ $# -ne 2 ] || [ ! -d "$1" ] || [ ! -f "$2" ]; then
  echo "usage: $0 FOLDER KEY.pem   (FOLDER: the folder the update server serves; KEY.pem: the ECDSA P-256 private key)" >&2
  exit 2
fi
folder=$(cd "$1" && pwd)
key=$2

if ! openssl ec -in "$key" -noout -text 2>/dev/null | grep -q 'prime256v1\|P-256'; then
  echo "sign-update: $key is not an ECDSA P-256 private key" >&2
  exit 1
fi

# Small files only: packages are never update files.
update_files=()
while IFS= read -r -d '' file; do
  if grep -a -q -i -E '^[[:space:]]*\[(config|list[0-9]+)\]' "$file"; then update_files+=("$file"); fi
done < <(find "$folder" -type f ! -name '*.sig' -size -1024k -print0 | sort -z)
if [ ${#update_files[@]} -eq 0 ]; then
  echo "sign-update: no update files under $folder" >&2
  exit 1
fi

python3 - "$folder" "${update_files[@]}" <<'EOF'
import hashlib, os, re, sys, urllib.parse

folder = os.fsencode(sys.argv[1])
SECTION = re.compile(rb"^\s*\[([^\]]*)\]")
KEY = re.compile(rb"^\s*([^=;\s][^=]*?)\s*=(.*?)\s*$")

def action_value(text):
    match = re.match(rb"\s*[-+]?\d+", text)
    return int(match.group()) if match else 0

def served_file(url, where):
    path = urllib.parse.unquote_to_bytes(urllib.parse.urlsplit(url.decode("latin-1")).path)
    local = os.path.join(folder, path.lstrip(b"/"))
    if not path.strip(b"/") or not os.path.isfile(local):
        sys.exit("sign-update: %s: %s names no file under the folder" % (where, url.decode("latin-1")))
    with open(local, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()

for name in sys.argv[2:]:
    with open(name, "rb") as f:
        lines = f.read().splitlines(keepends=True)
    newline = b"\r\n" if lines and lines[0].endswith(b"\r\n") else b"\n"
    # Sections as [start, end) line ranges.
    starts = [i for i, line in enumerate(lines) if SECTION.match(line)] + [len(lines)]
    out, changed = lines[:starts[0]], False
    for start, end in zip(starts, starts[1:]):
        section = SECTION.match(lines[start]).group(1).strip()
        body = lines[start + 1:end]
        values = {}
        for line in body:
            match = KEY.match(line)
            if match: values.setdefault(match.group(1).lower(), match.group(2))
        if re.fullmatch(rb"list\d+", section, re.I) and action_value(values.get(b"action", b"")) & 2 and values.get(b"srcfile"):
            where = "%s [%s]" % (os.path.relpath(name, sys.argv[1]), section.decode("latin-1"))
            digest = served_file(values[b"srcfile"], where).encode()
            kept = [line for line in body if not (KEY.match(line) and KEY.match(line).group(1).lower() == b"sha256")]
            last = max([i + 1 for i, line in enumerate(kept) if line.strip()] or [0])
            if last > 0 and not kept[last - 1].endswith(b"\n"): kept[last - 1] += newline
            kept.insert(last, b"sha256=" + digest + newline)
            changed |= kept != body
            body = kept
            print("sign-update: %s sha256=%s" % (where, digest.decode()))
        out += [lines[start]] + body
    if changed:
        with open(name, "wb") as f:
            f.write(b"".join(out))
EOF

public=$(mktemp)
trap 'rm -f "$public"' EXIT
openssl ec -in "$key" -pubout -out "$public" 2>/dev/null
for file in "${update_files[@]}"; do
  openssl dgst -sha256 -sign "$key" -out "$file.sig" "$file"
  openssl dgst -sha256 -verify "$public" -signature "$file.sig" "$file" >/dev/null
  echo "sign-update: signed ${file#"$folder"/} -> ${file#"$folder"/}.sig"
done
