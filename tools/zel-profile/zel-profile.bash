# Bash completion for zel-profile: its commands, each command's options, and the words an option
# accepts (such as --group-by kind|kernel|...). Everything is read from the tool's own help
# ("zel-profile help", "zel-profile help COMMAND"), so every command and option it has is
# completed; file names are completed for FILE values and for the profiles.

# The help of command $2 (or of the tool when empty) of the tool $1.
_zel_profile_help() {
  "$1" help ${2:+"$2"} 2>/dev/null
}

# The option lines of a help text as "NAMES TYPE": "-o,--output FILE", "--group-by kind|kernel",
# "--reverse -" for an option without a value.
_zel_profile_options() {
  printf '%s\n' "$1" | awk '
    /^Options:/ { inside = 1; next }
    /^[^ ]/ { inside = 0 }
    inside && /^  -/ {
      type = "-"
      if ($2 ~ /\|/ || $2 ~ /^[A-Z][A-Z_]*(\[=[A-Z_]+\])?$/) type = $2
      print $1, type
    }'
}

_zel_profile() {
  local tool=${COMP_WORDS[0]} current=${COMP_WORDS[COMP_CWORD]} previous=
  ((COMP_CWORD > 0)) && previous=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  local commands
  commands=$(_zel_profile_help "$tool" | awk '/^Subcommands:/ { inside = 1; next }
                                             /^[^ ]/ { inside = 0 }
                                             inside && /^  [^ ]/ { print $1 }')
  if ((COMP_CWORD == 1)); then
    mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$current")
    return
  fi
  local command=${COMP_WORDS[1]}
  if [[ $command == help ]]; then
    ((COMP_CWORD == 2)) && mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$current")
    return
  fi
  local options
  options=$(_zel_profile_options "$(_zel_profile_help "$tool" "$command")")
  [[ -n $options ]] || return

  # The value of the option before: its words, a file name, or nothing to suggest.
  if [[ $previous == -* ]]; then
    local names type
    while read -r names type; do
      if [[ ",$names," == *",$previous,"* ]]; then
        if [[ $type == *'|'* ]]; then
          mapfile -t COMPREPLY < <(compgen -W "${type//|/ }" -- "$current")
          return
        elif [[ $type == FILE ]]; then
          compopt -o filenames 2>/dev/null
          mapfile -t COMPREPLY < <(compgen -f -- "$current")
          return
        elif [[ $type != - ]]; then
          return
        fi
      fi
    done <<<"$options"
  fi
  if [[ $current == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(printf '%s\n' "$options" | cut -d' ' -f1 | tr ',' ' ')" \
                                     -- "$current")
    return
  fi
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -f -- "$current")
}

complete -F _zel_profile zel-profile
