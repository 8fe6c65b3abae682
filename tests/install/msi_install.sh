#!/usr/bin/env bash
# The Windows installer under Wine, as a user meets it: its tables hold the
# programs, the shortcuts and the upgrade; `msiexec /i` puts the programs into
# Program Files with their Start menu shortcuts and one "Apps & features"
# entry; the installed loopctl.exe runs and, its folder not writable, keeps
# ohmgauge.kft in %APPDATA%\loopmon (taking over the one shipped beside it);
# a newer version replaces the older in place; `msiexec /x` removes the
# programs and shortcuts and keeps the user's files.
#   msi_install.sh WINE BUILD-DIR VERSION
set -uo pipefail
wine=$1 build=$2 version=$3
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
scratch=$(mktemp -d)
program_files="${WINEPREFIX:-$HOME/.wine}/drive_c/Program Files/loopmon"
cleanup() {
  chattr -i "$program_files" 2>/dev/null
  chmod -R u+w "$program_files" 2>/dev/null
  "$wine" msiexec /x "$scratch/new.msi" /qn >/dev/null 2>&1
  rm -rf "$scratch"
}
trap cleanup EXIT
# Wine names files in the locale's character set: under C it can neither make
# "loopmon (демо).lnk" nor find it again to remove it.
export LC_ALL=C.UTF-8
failures=0
fail() {
  echo "msi_install: $*" >&2
  failures=$((failures + 1))
}
msiexec() { "$wine" msiexec "$@" /qn >/dev/null 2>&1 || fail "msiexec $*"; }
# The entries of "Apps & features" named loopmon, as "publisher version" lines.
entries() {
  "$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
    tr -d '\r' | awk '/^HKEY/ { if (name == "loopmon") print publisher, version; name = ""; publisher = ""; version = "" }
      $1 == "DisplayName" { name = $3 } $1 == "Publisher" { publisher = $3 } $1 == "DisplayVersion" { version = $3 }
      END { if (name == "loopmon") print publisher, version }'
}

"$root/scripts/make-msi" "$build" 0.0.1 "$scratch/old.msi" || fail "make-msi 0.0.1"
"$root/scripts/make-msi" "$build" "$version" "$scratch/new.msi" || fail "make-msi $version"

# What the checks below rely on, in the tables themselves.
table() { msiinfo export "$scratch/new.msi" "$1" | tail -n +4 | tr -d '\r' | cut -f "$2" | sort | paste -sd ' '; }
[[ $(table File 3) == "README-Windows.txt guide-ru.html loopctl.exe loopctl.mo loopmon.exe loopmon.lua loopsim.exe" ]] ||
  fail "files: $(table File 3)"
[[ $(table Shortcut 3,6) == *"loopmon (демо)	demo"* && $(table Shortcut 3) == *"loopmon loopmon (демо)"* &&
   $(table Shortcut 3) == *"Руководство loopmon"* ]] ||
  fail "shortcuts: $(table Shortcut 3,6)"
[[ $(table Property 1,2) == *"ALLUSERS	1"*"Manufacturer	loopmon"* ]] || fail "properties: $(table Property 1,2)"
[[ $(table Upgrade 7) == *WIX_UPGRADE_DETECTED* ]] || fail "no major upgrade: $(table Upgrade 7)"

msiexec /i "$scratch/old.msi"
for file in loopmon.exe loopctl.exe loopsim.exe README-Windows.txt guide-ru.html; do
  [[ -f "$program_files/$file" ]] || fail "not installed: $file"
done
[[ -f "$program_files/../Wireshark/plugins/loopmon.lua" ]] || fail "the dissector is not in Wireshark's plugins"
menu=$(find "${WINEPREFIX:-$HOME/.wine}/drive_c" -path "*Start Menu/Programs/loopmon" -type d | head -1)
for shortcut in "loopmon.lnk" "loopmon (демо).lnk" "Руководство loopmon.lnk"; do
  [[ -n $menu && -f "$menu/$shortcut" ]] || fail "no shortcut $shortcut in the Start menu"
done
[[ $(entries) == "loopmon 0.0.1" ]] || fail "Apps & features after installing: $(entries)"
installed='C:\Program Files\loopmon\loopctl.exe'
[[ $("$wine" "$installed" --version | tr -d '\r') == "loopctl "* ]] || fail "the installed loopctl.exe does not run"
[[ -f "$program_files/locale/ru/LC_MESSAGES/loopctl.mo" ]] || fail "not installed: loopctl.mo"
# Wine takes the interface language from the locale: Russian there, English under C.
[[ $(LC_ALL=ru_RU.UTF-8 "$wine" "$installed" --help | tr -d '\r') == "Использование: loopctl"* ]] ||
  fail "the installed loopctl.exe does not speak Russian"

# The program folder made read-only (Wine's folders all take writes, even
# for root): a coefficients file shipped beside the program is copied to
# %APPDATA%\loopmon once, and the user's calibration goes there too.
printf '[2-105]\r\nACP1=200\r\nACP2=100\r\nR1=1,04\r\nR2=3,08\r\na=408\r\nb=-1\r\n' >"$program_files/ohmgauge.kft"
if [[ $(id -u) -eq 0 ]]; then chattr +i "$program_files"; else chmod a-w "$program_files"; fi
"$wine" "$installed" calibrate --type 1 --version 1.60 --r1 1.04 --acp1 200 --r2 3.08 --acp2 100 \
  >/dev/null 2>&1 || fail "calibrate from the installed program"
appdata=$("$wine" cmd /c 'echo %APPDATA%' | tr -d '\r')
user_kft=$("$wine" winepath -u "$appdata\\loopmon\\ohmgauge.kft" 2>/dev/null | tr -d '\r')
grep -q '^\[2-105\]' "$user_kft" && grep -q '^\[1-160\]' "$user_kft" ||
  fail "%APPDATA%\\loopmon\\ohmgauge.kft: $(cat "$user_kft" 2>&1)"
chattr -i "$program_files" 2>/dev/null
chmod u+w "$program_files"
rm -f "$program_files/ohmgauge.kft"

msiexec /i "$scratch/new.msi"
[[ $(entries) == "loopmon $version" ]] || fail "Apps & features after the upgrade: $(entries)"
[[ -f "$program_files/loopmon.exe" ]] || fail "the upgrade removed the programs"

msiexec /x "$scratch/new.msi"
for file in loopmon.exe loopctl.exe loopsim.exe; do
  [[ ! -e "$program_files/$file" ]] || fail "left after uninstalling: $file"
done
[[ -z $(find "${WINEPREFIX:-$HOME/.wine}/drive_c" -name "loopmon*.lnk") ]] || fail "shortcuts left"
[[ -z $(entries) ]] || fail "Apps & features after uninstalling: $(entries)"
grep -q '^\[1-160\]' "$user_kft" || fail "the user's ohmgauge.kft went with the program"

[[ $failures -eq 0 ]] && echo "installed, upgraded and removed; the user's files kept"
[[ $failures -eq 0 ]]
