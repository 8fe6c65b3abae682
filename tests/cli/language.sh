#!/usr/bin/env bash
# loopctl in the user's language: Russian texts with the decimal comma under
# a Russian locale, English under C and any language without a catalog, and
# the machine outputs (JSON) the same under both. The program is the build's,
# with its catalogs beside it.
#   language.sh LOOPCTL LOOPSIM
set -uo pipefail
loopctl=$1 loopsim=$2
scratch=$(mktemp -d)
server=""
trap '[[ -n $server ]] && kill "$server" 2>/dev/null; rm -rf "$scratch"' EXIT
export XDG_RUNTIME_DIR=$scratch/run XDG_CONFIG_HOME=$scratch/config
mkdir -m 700 "$scratch/run"
unset LANGUAGE LC_MESSAGES LC_NUMERIC LANG
# The decimal comma needs a Russian locale: one of our own when the machine lacks it.
if ! locale -a | grep -qix 'ru_RU\.utf-\?8'; then
  localedef -c -i ru_RU -f UTF-8 "$scratch/ru_RU.UTF-8" >/dev/null 2>&1
  [[ -d $scratch/ru_RU.UTF-8 ]] || { echo "language: localedef cannot make ru_RU.UTF-8"; exit 77; }
  export LOCPATH=$scratch
fi

# Two site records: the loop 11 of the device at 5 went from 3.0 to 7.9 kOhm.
record() {
  printf '{"site": "", "time": "2026-12-06T14:03:07.125+03:00", "port": "COM1",
  "program": {"name": "loopctl", "version": "1"}, "devices": [{"addr": 5, "type": 1,
  "name": "Mivra-Q", "version": 1.05, "loops": [{"loop": 11, "adc": %s, "kohm": %s,
  "text": null, "state": null}]}]}\n' "$1" "$2" >"$scratch/$3"
}
record 100 3.0 old.json
record 50 7.9 new.json
printf '[bus]\ndrift = no\n[device 9]\ntype = 1\nversion = 160\nloop.1 = 100, state 24\n' >"$scratch/bus.ini"
"$loopsim" serve --scenario "$scratch/bus.ini" >"$scratch/loopsim.out" 2>&1 &
server=$!
for _ in $(seq 200); do
  grep -q "serving on" "$scratch/loopsim.out" && break
  sleep 0.05
done

failures=0
# LOCALE, the text expected in standard output and error together, loopctl's words.
expect() {
  local environment=$1 want=$2
  shift 2
  local got
  got=$(env $environment "$loopctl" "$@" 2>&1)
  if [[ $got != *"$want"* ]]; then
    echo "FAIL: $environment loopctl $*: no '$want' in:" >&2
    head -c 600 <<<"$got" >&2
    failures=$((failures + 1))
  fi
}
ru=LANG=ru_RU.UTF-8
expect "$ru" "Использование: loopctl КОМАНДА [ПАРАМЕТРЫ]" --help
expect "$ru" "Код выхода: 0 выполнено" --help
expect "$ru" "  loopctl read --port PORT --addr N" --help
expect LC_ALL=C "usage: loopctl COMMAND [OPTIONS]" --help
expect LANG=de_DE.UTF-8 "usage: loopctl COMMAND [OPTIONS]" --help
expect "LANG=C LANGUAGE=ru" "usage: loopctl COMMAND [OPTIONS]" --help
expect "LANG=en_US.UTF-8 LANGUAGE=de:ru" "Использование: loopctl КОМАНДА" --help
# Every command's help: an English text edited without its translation shows here.
for command in ports scan read send check coeffs calibrate survey compare report monitor; do
  expect "$ru" "Использование: loopctl $command " help "$command"
done
for command in history verify sites; do
  expect "$ru" "Использование: loopctl $command " help "$command"
done
expect "$ru" "loopctl: неизвестная команда frobnicate (см. loopctl --help)" frobnicate
expect "$ru" "--addr: 0 вне 1..127" scan --port COM1 --addr 0
expect "$ru" "адрес 5, ШС 11: сопротивление 3,0 -> 7,9 кОм (+163 %)" \
  compare "$scratch/old.json" "$scratch/new.json"
expect LC_ALL=C "address 5 loop 11: resistance 3.0 -> 7.9 kOhm (+163 %)" \
  compare "$scratch/old.json" "$scratch/new.json"
json='{"addr":5,"loop":11,"what":"resistance","old":3.0,"new":7.9}'
expect "$ru" "$json" compare "$scratch/old.json" "$scratch/new.json" --json
expect LC_ALL=C "$json" compare "$scratch/old.json" "$scratch/new.json" --json
# Two records of one time: a series, but no drift to tell.
expect "$ru" "объект	адрес	тип	ШС	посещений	кОм	кОм/мес.	выход из нормы
	5	1	11	2	3,0 7,9	-	-" history "$scratch/old.json" "$scratch/new.json"
json='{"site":"","addr":5,"type":1,"loop":11,"visits":2,"kohm":[3.0,7.9],"band":[2.7,3.3000000000000003],"slope":null,"slope_error":null,"leaves_band":null,"before_next_visit":false}'
expect "$ru" "$json" history "$scratch/old.json" "$scratch/new.json" --json
expect "$ru" "объект	последнее посещение	посещений	приборов	шлейфов	худшие шлейфы" sites "$scratch"
expect "$ru" "найдено: 1, опрошено адресов: 2 за " scan --port COM1 --addr 8,9
expect LC_ALL=C "1 found, 2 addresses probed in " scan --port COM1 --addr 8,9
expect "$ru" "адрес	ШС	показаний	мин. кОм" read --port COM1 --addr 9 --skip 2-20 --summary
expect "$ru" "3,1" read --port COM1 --addr 9 --skip 2-20
((failures == 0)) || exit 1
echo "loopctl speaks Russian under ru_RU and English otherwise"
