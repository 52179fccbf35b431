#!/usr/bin/env bash
# Runs a test command under a locale, which is what sets Wine's ANSI code page: zh_CN.GBK
# gives 936, hi_IN.UTF-8 gives 65001. A locale the machine lacks is compiled once from the
# sources of Debian's "locales" package into FOLDER, which LOCPATH then names.
# Usage: with_locale.sh FOLDER INPUT CHARMAP COMMAND...   (the locale is INPUT.CHARMAP)
set -euo pipefail
folder=$1 input=$2 charmap=$3
shift 3
name="$input.$charmap"
if [ "$(LC_ALL="$name" locale charmap 2>/dev/null)" != "$charmap" ]; then
  if [ ! -d "$folder/$name" ]; then
    mkdir -p "$folder"
    # Into a side folder first: a test running beside this one never sees half a locale.
    rm -rf "$folder/$name.part"
    localedef -i "$input" -f "$charmap" "$folder/$name.part" >/dev/null 2>&1 ||
      { echo "with_locale.sh: localedef -i $input -f $charmap failed" >&2; exit 1; }
    mv "$folder/$name.part" "$folder/$name"
  fi
  export LOCPATH="$folder"
fi
# Set for the command only: this shell's own locale stays as it was.
exec env LC_ALL="$name" "$@"
