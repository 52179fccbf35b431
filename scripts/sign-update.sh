#!/usr/bin/env bash
# The publisher's tool: writes the manifests of a release's packages, and signs its update
# files so that updaters with the publisher's key installed accept them.
#
#   scripts/sign-update.sh FOLDER KEY.pem --base-url URL [--serial N] [--valid-days D]
#   scripts/sign-update.sh FOLDER            (no key: manifests and sha256= only)
#
# FOLDER is what the update server serves at its root, at URL. Update files are the files
# under it with a "[config]" section (update URL files) or "[listN]" sections (update lists).
# First, every list entry that downloads a zip and unpacks it ("DEC") in the same entry gets
# the zip's manifest written beside it (FILE.zip.manifest, see make_manifest.py) and
# "manifest=" with the manifest's SHA-256; a zip that cannot have one loses a stale one, with a
# warning. Then, with a key, every update file gets a "[release]" section: url= the URL it is
# served from (URL joined with its path under FOLDER), serial= N (default: the current UTC time
# as YYYYMMDDHHMMSS, so each release's is higher) and expires= D days from now (default 90), as
# YYYY-MM-DDTHH:MM:SSZ in UTC. Every download entry (action with the value 2) of every list
# gets "sha256=" of the file its srcfile URL names: the URL's path, read below FOLDER.
# Last, with a key, every update file gets FILE.sig beside it: `openssl dgst -sha256 -sign
# KEY.pem` over its exact bytes. Run it again after any change to a list or a package, and
# before the release expires; it refreshes what it wrote before.
set -euo pipefail

usage() {
  echo "usage: $0 FOLDER KEY.pem --base-url URL [--serial N] [--valid-days D]" >&2
  echo "       $0 FOLDER   (no key: writes manifests, manifest= and sha256= only)" >&2
  echo "  FOLDER: the folder the update server serves; KEY.pem: the ECDSA P-256 private key;" >&2
  echo "  URL: where FOLDER is served; N: the release's serial, 1 to 9223372036854775807" >&2
  echo "  (default: the UTC time as YYYYMMDDHHMMSS); D: days the release stays valid (default 90)" >&2
  exit 2
}
positional=() base_url="" serial="" valid_days=90
while [ $# -gt 0 ]; do
  case $1 in
    --base-url) [ $# -ge 2 ] || usage; base_url=$2; shift 2 ;;
    --serial) [ $# -ge 2 ] || usage; serial=$2; shift 2 ;;
    --valid-days) [ $# -ge 2 ] || usage; valid_days=$2; shift 2 ;;
    -*) usage ;;
    *) positional+=("$1"); shift ;;
  esac
done
if [ ${#positional[@]} -lt 1 ] || [ ${#positional[@]} -gt 2 ] || [ ! -d "${positional[0]}" ]; then usage; fi
if [ ${#positional[@]} -eq 2 ] && [ ! -f "${positional[1]}" ]; then usage; fi
key=${positional[1]:-}
if [ -n "$key" ] && ! [[ $base_url =~ ^https?://[^/]+ ]]; then
  echo "sign-update: --base-url must be the http:// or https:// URL FOLDER is served at" >&2
  exit 2
fi
if ! [[ $valid_days =~ ^[1-9][0-9]{0,4}$ ]]; then
  echo "sign-update: --valid-days must be a whole number of days from 1 to 99999" >&2
  exit 2
fi
# Digits without a leading zero, and at 19 digits not above 2^63-1 (compared as text).
if [ -n "$serial" ] && ! [[ $serial =~ ^[1-9][0-9]{0,18}$ && ( ${#serial} -lt 19 || ! $serial > 9223372036854775807 ) ]]; then
  echo "sign-update: --serial must be a whole number from 1 to 9223372036854775807" >&2
  exit 2
fi
folder=$(cd "${positional[0]}" && pwd)

if [ -n "$key" ] && ! openssl ec -in "$key" -noout -text 2>/dev/null | grep -q 'prime256v1\|P-256'; then
  echo "sign-update: $key is not an ECDSA P-256 private key" >&2
  exit 1
fi

# Small files only: packages are never update files.
update_files=()
while IFS= read -r -d '' file; do
  if grep -a -q -i -E '^[[:space:]]*\[(config|list[0-9]+)\]' "$file"; then update_files+=("$file"); fi
done < <(find "$folder" -type f ! -name '*.sig' ! -name '*.manifest' -size -1024k -print0 | sort -z)
if [ ${#update_files[@]} -eq 0 ]; then
  echo "sign-update: no update files under $folder" >&2
  exit 1
fi

python3 - "$folder" "$base_url" "$serial" "$valid_days" "$(dirname "${BASH_SOURCE[0]}")/make_manifest.py" \
  "${key:+sign}" "${update_files[@]}" <<'EOF'
import datetime, hashlib, os, re, subprocess, sys, urllib.parse

folder = os.fsencode(sys.argv[1])
base_url = sys.argv[2].rstrip("/").encode()
now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
serial = int(sys.argv[3]) if sys.argv[3] else int(now.strftime("%Y%m%d%H%M%S"))
expires = (now + datetime.timedelta(days=int(sys.argv[4]))).strftime("%Y-%m-%dT%H:%M:%SZ").encode()
make_manifest = sys.argv[5]
signing = sys.argv[6] == "sign"
names = [os.fsencode(name) for name in sys.argv[7:]]
SECTION = re.compile(rb"^\s*\[([^\]]*)\]")
KEY = re.compile(rb"^\s*([^=;\s][^=]*?)\s*=(.*?)\s*$")
RELEASE_KEYS = (b"url", b"serial", b"expires")

def key_of(line):
    match = KEY.match(line)
    return match.group(1).lower() if match else None

def action_value(text):
    match = re.match(rb"\s*[-+]?\d+", text)
    return int(match.group()) if match else 0

def shown(name):
    return os.path.relpath(name, folder).decode("utf-8", "replace")

def served_path(url, where):
    path = urllib.parse.unquote_to_bytes(urllib.parse.urlsplit(url.decode("latin-1")).path)
    local = os.path.join(folder, path.lstrip(b"/"))
    if not path.strip(b"/") or not os.path.isfile(local):
        sys.exit("sign-update: %s: %s names no file under the folder" % (where, url.decode("latin-1")))
    return local

def served_file(url, where):
    digest = hashlib.sha256()
    with open(served_path(url, where), "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()

# The updater fetches a package's manifest from its URL plus ".manifest": the file beside it.
# Made once per zip however many entries name it; None when the zip cannot have one.
manifests = {}
def package_manifest(url, where):
    local = served_path(url, where)
    if local not in manifests:
        result = subprocess.run([sys.executable, make_manifest, local], stdout=subprocess.PIPE)
        if result.returncode not in (0, 3):
            sys.exit("sign-update: %s: could not make the manifest of %s" % (where, shown(local)))
        manifests[local] = result.stdout.strip() if result.returncode == 0 else None
    return manifests[local]

# Replaces the `key`= lines of a section's body by one `key`=value line after its last line
# that is not blank, or only removes them when value is None.
def set_value(body, key, value, newline):
    kept = [line for line in body if key_of(line) != key]
    if value is None:
        return kept
    last = max([i + 1 for i, line in enumerate(kept) if line.strip()] or [0])
    if last > 0 and not kept[last - 1].endswith(b"\n"): kept[last - 1] += newline
    kept.insert(last, key + b"=" + value + newline)
    return kept

def unpacks_download(values):
    url = values.get(b"srcfile", b"").strip()
    return (action_value(values.get(b"action", b"")) & 3) == 3 and values.get(b"cmd", b"").strip() == b"DEC" \
        and url.lower().endswith(b".zip") and urllib.parse.urlsplit(url.decode("latin-1")).path.lower().endswith(".zip")

# The URL the updater fetches the file from: the base URL joined with its path under FOLDER.
def release_url(name):
    return base_url + b"/" + os.path.relpath(name, folder).replace(os.sep.encode(), b"/")

def end_line(lines, newline):
    if lines and not lines[-1].endswith(b"\n"): lines[-1] += newline

results, config_values = [], []
for name in names:
    with open(name, "rb") as f:
        original = f.read()
    lines = original.splitlines(keepends=True)
    newline = b"\r\n" if lines and lines[0].endswith(b"\r\n") else b"\n"
    release = [b"url=" + release_url(name) + newline, b"serial=%d" % serial + newline,
               b"expires=" + expires + newline]
    # Sections as [start, end) line ranges.
    starts = [i for i, line in enumerate(lines) if SECTION.match(line)] + [len(lines)]
    out, previous = lines[:starts[0]], None
    for start, end in zip(starts, starts[1:]):
        section = SECTION.match(lines[start]).group(1).strip()
        body = lines[start + 1:end]
        values = {}
        for line in body:
            match = KEY.match(line)
            if match: values.setdefault(match.group(1).lower(), match.group(2))
        if signing and section.lower() == b"release":
            # The first one is what the updater reads; a later one would only mislead.
            if previous is None:
                previous = values.get(b"serial", b"")
                end_line(out, newline)
                out += [lines[start]] + release + [line for line in body if key_of(line) not in RELEASE_KEYS]
            continue
        if section.lower() == b"config":
            config_values += [(name, value) for value in values.values()]
        where = "%s [%s]" % (shown(name), section.decode("latin-1"))
        if re.fullmatch(rb"list\d+", section, re.I) and unpacks_download(values):
            manifest = package_manifest(values[b"srcfile"].strip(), where)
            body = set_value(body, b"manifest", manifest, newline)
            if manifest is None:
                print("sign-update: warning: %s unpacks a zip that has no manifest; it is downloaded whole"
                      " and unpacked" % where, file=sys.stderr)
            else:
                print("sign-update: %s manifest=%s" % (where, manifest.decode()))
        if re.fullmatch(rb"list\d+", section, re.I) and action_value(values.get(b"action", b"")) & 2 and values.get(b"srcfile"):
            digest = served_file(values[b"srcfile"], where).encode()
            body = set_value(body, b"sha256", digest, newline)
            print("sign-update: %s sha256=%s" % (where, digest.decode()))
        out += [lines[start]] + body
    if signing and previous is None:
        end_line(out, newline)
        out += [b"[release]" + newline] + release
    text = b"".join(out)
    # Updaters that took the earlier release refuse a lower serial, or the same serial on other
    # bytes: say so now rather than ship a release nobody accepts.
    if previous and previous.isdigit() and (serial < int(previous) or (serial == int(previous) and text != original)):
        sys.exit("sign-update: %s carries serial %s already; the new release needs a higher one"
                 " (leave out --serial to take the time)" % (shown(name), previous.decode()))
    results.append((name, text, original))
    if signing: print("sign-update: %s [release] url=%s serial=%d expires=%s"
          % (shown(name), release_url(name).decode("latin-1"), serial, expires.decode()))

# An update URL file that names a list under the base URL by another spelling gets it refused.
urls = {release_url(name) for name in names}
for name, value in config_values if signing else []:
    if value.startswith(base_url + b"/") and value not in urls:
        print("sign-update: warning: %s names %s, which is no update file's url here; updaters will refuse it"
              % (shown(name), value.decode("latin-1")), file=sys.stderr)
for name, text, original in results:
    if text != original:
        with open(name, "wb") as f:
            f.write(text)
        if not signing and os.path.exists(name + b".sig"):
            print("sign-update: warning: %s changed and its .sig no longer matches; sign it again"
                  % shown(name), file=sys.stderr)
EOF
[ -n "$key" ] || exit 0

public=$(mktemp)
trap 'rm -f "$public"' EXIT
openssl ec -in "$key" -pubout -out "$public" 2>/dev/null
for file in "${update_files[@]}"; do
  openssl dgst -sha256 -sign "$key" -out "$file.sig" "$file"
  openssl dgst -sha256 -verify "$public" -signature "$file.sig" "$file" >/dev/null
  echo "sign-update: signed ${file#"$folder"/} -> ${file#"$folder"/}.sig"
done
