#!/usr/bin/env bash
# The command table is the one list of loopctl's commands and options; the
# shell completion and the manual page are written by hand beside it. Each
# command of the overview must be completed, with every option its usage
# names, and have its entry in the manual; the completion offers no command
# the program does not have.
#   command_lists.sh LOOPCTL COMPLETION MANPAGE
set -uo pipefail
loopctl=$1 completion=$2 manpage=$3
export LC_ALL=C
status=0
fail() { echo "command_lists: $*"; status=1; }

table=$("$loopctl" --help | sed -n 's/^  loopctl \([a-z]*\) .*/\1/p' | sort -u)
completed=$(sed -n 's/^  local commands="\(.*\)"$/\1/p' "$completion" | tr ' ' '\n' | grep -vx help | sort -u)
[[ -n $table ]] || fail "no commands in the overview"
[[ $table == "$completed" ]] ||
  fail "the completion's commands differ from the program's:" $'\n'"$(diff <(echo "$table") <(echo "$completed"))"

for command in $table; do
  usage=$("$loopctl" help "$command" | sed '/^usage:/,$!d' | sed '/^usage:\|^   /!Q')
  wanted=$(grep -oE -- '--[a-z0-9-]+' <<<"$usage" | sort -u)
  offered=$(sed -n "s/^    $command) options=\"\([^\"]*\)\".*/\1/p; /^    $command)\$/,/;;/s/^ *options=\"\([^\"]*\)\".*/\1/p" \
    "$completion" | tr ' ' '\n' | grep . | sort -u)
  missing=$(comm -23 <(echo "$wanted") <(echo "$offered"))
  [[ -z $missing ]] || fail "$command: the completion lacks" $missing
  grep -qE "^\.BR? $command( |\$)" "$manpage" || fail "$command: no entry in the manual page"
done
exit $status
