#!/usr/bin/env bash
# cmake --install into a temporary prefix: the files a user expects are there,
# the installed loopctl runs, and from its read-only folder it keeps
# ohmgauge.kft in the user's configuration folder. Then the .deb of the same
# build, and what dpkg-deb lists in it.
# Usage: install_test.sh BUILD-DIR with-gui|without-gui
set -euo pipefail
build=$1 gui=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
prefix=$scratch/usr
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null
expected=(bin/loopctl bin/loopsim share/man/man1/loopctl.1 share/man/man1/loopsim.1
          share/bash-completion/completions/loopctl share/bash-completion/completions/loopsim
          "lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/wireshark/plugins/loopmon.lua"
          share/locale/ru/LC_MESSAGES/loopctl.mo
          lib/systemd/system/loopmon-watch.service share/doc/loopmon/prometheus/loopmon-alerts.yml)
if [[ $gui == with-gui ]]; then
  expected+=(bin/loopmon share/man/man1/loopmon.1 share/applications/loopmon.desktop
             share/applications/loopmon-demo.desktop
             share/icons/hicolor/scalable/apps/loopmon.svg)
fi
for file in "${expected[@]}"; do
  [[ -s $prefix/$file ]] || fail "not installed: $file"
done
version=$("$prefix/bin/loopctl" --version) || fail "the installed loopctl does not run"
[[ $version =~ ^loopctl\ [0-9]+\.[0-9]+ ]] || fail "loopctl --version: $version"
[[ $(LANG=ru_RU.UTF-8 LC_ALL= "$prefix/bin/loopctl" --help) == "Использование: loopctl"* ]] ||
  fail "the installed loopctl does not find its Russian texts"
grep -q "^\.TH LOOPCTL 1 .*\"loopmon ${version#loopctl }\"" "$prefix/share/man/man1/loopctl.1" ||
  fail "the man page does not carry the version"
if [[ $gui == with-gui ]]; then
  grep -qx 'Exec=loopmon' "$prefix/share/applications/loopmon.desktop" || fail "desktop entry"
  grep -qx 'Icon=loopmon' "$prefix/share/applications/loopmon.desktop" || fail "desktop icon"
  grep -qx 'Comment\[ru\]=.*шлейф.*' "$prefix/share/applications/loopmon.desktop" || fail "Russian comment"
  grep -qx 'Exec=loopsim demo' "$prefix/share/applications/loopmon-demo.desktop" || fail "demo entry"
fi

# The completion offers the commands, then the options of the command typed.
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); "_$1"
           echo "${COMPREPLY[*]}"' _ "$prefix/share/bash-completion/completions/$1" "$@"
}
[[ $(complete_words loopctl sc) == scan ]] || fail "completion of a command"
[[ $(complete_words loopctl scan --a) == --addr ]] || fail "completion of an option"
[[ $(complete_words loopsim de) == demo ]] || fail "completion of loopsim's command"

# A folder the user cannot write: root ignores permission bits, so the run
# goes to an unprivileged user then; anyone else just loses the write bit.
home=$scratch/home
mkdir -p "$home/config" "$home/run"
chmod 700 "$home/run"
runner=()
if [[ $(id -u) -eq 0 ]]; then
  command -v setpriv >/dev/null || fail "setpriv is needed to run as another user"
  runner=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
  chown -R 65534:65534 "$home"
else
  chmod a-w "$prefix/bin"
fi
as_user() {
  env HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/run" LC_ALL=C \
    "${runner[@]}" "$prefix/bin/loopctl" "$@"
}
as_user calibrate --type 2 --version 105 --r1 1,04 --acp1 200 --r2 3.08 --acp2 100 >/dev/null ||
  fail "calibrate from a read-only folder"
[[ ! -e $prefix/bin/ohmgauge.kft ]] || fail "ohmgauge.kft was written beside the program"
grep -qx '\[2-105\]' "$home/config/loopmon/ohmgauge.kft" || fail "nothing in the user's folder"
stored=$(as_user coeffs --type 2 --version 105) || fail "coeffs from a read-only folder"
grep -qx 'R1=1.04' <<<"$stored" || fail "not read back from the user's folder: $stored"
chmod u+w "$prefix/bin"

(cd "$build" && cpack -G DEB -B "$scratch/package" >/dev/null) || fail "cpack"
deb=$(echo "$scratch"/package/*.deb)
[[ -f $deb ]] || fail "no .deb"
[[ $(dpkg-deb --field "$deb" Package) == loopmon ]] || fail "package name"
contents=$(dpkg-deb --contents "$deb")
for file in "${expected[@]}"; do
  grep -q " \./usr/$file\$" <<<"$contents" || fail "not in the .deb: $file"
done
echo "installed, run from a read-only folder and packed: ${expected[*]}"
