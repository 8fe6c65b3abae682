#!/usr/bin/env bash
# loopctl.exe surveys the device at 5 of the demo bus behind COM3 into a file,
# with a site name in Cyrillic, which the ANSI code page would garble; the
# record reads back as itself under Windows and on Linux, and its page is
# written beside it.
#   survey.sh WINE WINDOWS_LOOPCTL POSIX_LOOPCTL
set -euo pipefail
wine=$1 loopctl=$2 posix=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
win() { LC_ALL=C.UTF-8 "$wine" "$loopctl" "$@"; }

fail() { echo "survey: $*" >&2; exit 1; }
win survey --port COM3 --addr 5 --site "Склад №1" --out site.json 2>err.txt ||
  fail "loopctl.exe survey failed: $(cat err.txt)"
grep -q '"site": "Склад №1",' site.json || fail "the site's name is lost: $(head -2 site.json)"
[ "$(grep -c '"loop": ' site.json)" -eq 20 ] || fail "not the 20 loops of the device at 5"
[ -z "$(win compare site.json site.json)" ] || fail "a record differs from itself under Windows"
[ -z "$("$posix" compare site.json site.json)" ] || fail "a record differs from itself on Linux"
win report site.json --html site.html
grep -q 'Адрес:   5  Mivra-Q' site.html || fail "no device in the page"
