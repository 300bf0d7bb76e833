#!/bin/bash
# Checks the bash completion of zel-profile: usage completion_test.sh TOOL COMPLETION_SCRIPT.
# Each case sets COMP_WORDS and COMP_CWORD as bash does on <TAB>, calls the completion function
# and compares the offered words.
set -u
tool=$1
source "$2"
failures=0

# expect "WORDS TYPED" "EXPECTED OFFERS": the last word of WORDS TYPED is the one being completed
# (empty when WORDS TYPED ends in a blank).
expect() {
  local typed=$1 expected=$2
  read -ra COMP_WORDS <<<"$typed"
  [[ $typed == *" " ]] && COMP_WORDS+=("")
  COMP_WORDS[0]=$tool
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _zel_profile
  local offered="${COMPREPLY[*]}"
  if [[ $offered != "$expected" ]]; then
    echo "'$typed<TAB>' offered '$offered', expected '$expected'"
    failures=$((failures + 1))
  fi
}

expect "zel-profile q" "query"
expect "zel-profile " "help query diff report export info serve generate convert --help --version"
expect "zel-profile info run.json --format " "table json"
expect "zel-profile convert run.json --to " "binary json"
expect "zel-profile query run.json --group-by " "kind kernel operation phase tile metadata profile"
expect "zel-profile query run.json --group-by k" "kind kernel"
expect "zel-profile diff a.json b.json --sort-by m" "maximum-cycles"
expect "zel-profile query run.json --format " "table json csv tsv"
expect "zel-profile query run.json --rev" "--reverse"
expect "zel-profile generate --ti" "--tiles"
expect "zel-profile help d" "diff"
expect "zel-profile query run.json --limit " ""
[[ $(complete -p zel-profile) == *"-F _zel_profile"* ]] || { echo "not registered"; failures=1; }
exit $((failures > 0))
