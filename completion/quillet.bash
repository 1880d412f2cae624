# Bash completion for quillet: its switches, the device names after /S=,
# the paper names after /PAPER=, and file names.
#
#   source completion/quillet.bash      (or install it as
#                                         /usr/share/bash-completion/completions/quillet)
#
# The switches come from the program itself (quillet --list-switches, made
# from the table its parser matches), so the completion offers exactly what
# that program accepts. The device names come from quillet /ENUM.

# The switch words of program $1, asked once per program and kept.
_quillet_switch_words() {
  if [[ ${_quillet_words_of-} != "$1" ]]; then
    _quillet_words=$("$1" --list-switches 2>/dev/null)
    _quillet_words_of=$1
  fi
  printf '%s\n' "$_quillet_words"
}

# The device names program $1 finds, one a line.
_quillet_devices() {
  "$1" /ENUM 2>/dev/null | sed -n 's/^Source[0-9][0-9]*=//p'
}

# The word under the cursor as the program will see it: bash splits words
# at "=" and ":", but "/S=name" is one argument.
_quillet_current_word() {
  if [[ -n ${COMP_LINE-} ]]; then
    local before=${COMP_LINE:0:${COMP_POINT:-${#COMP_LINE}}}
    printf '%s' "${before##*[[:space:]]}"
  else
    printf '%s' "${COMP_WORDS[COMP_CWORD]}"
  fi
}

# COMPREPLY := the candidates that begin with $1 (compared as written:
# no pattern characters, "/?" is a switch).
_quillet_matching() {
  local cur=$1 word
  shift
  COMPREPLY=()
  for word in "$@"; do
    [[ $word == "$cur"* ]] && COMPREPLY+=("$word")
  done
}

# Bash replaces only the part of the word after its last "=" or ":".
_quillet_trim_to_bash_word() {
  local cur=$1 prefix
  [[ $cur == *[=:]* ]] || return 0
  [[ ${COMP_WORDBREAKS-=:} == *[=:]* ]] || return 0
  prefix=${cur%"${cur##*[=:]}"}
  COMPREPLY=("${COMPREPLY[@]#"$prefix"}")
}

_quillet_switches() {
  local prog=$1 cur=$2 lead=${2:0:1} word
  local -a words=()
  while IFS= read -r word; do
    [[ -n $word ]] || continue
    word=$lead${word:1}
    # Letters are matched in any case: offer them as the user types them.
    [[ ${cur:1} =~ [a-z] ]] && word=${word,,}
    words+=("$word")
  done < <(_quillet_switch_words "$prog")
  _quillet_matching "$cur" "${words[@]}"
  # "/R=" waits for its value: no blank after it.
  if [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *[=:] ]]; then
    compopt -o nospace 2>/dev/null
  fi
}

# COMPREPLY := the values $2... after the "/KEY=" (or "/KEY:") of word $1.
_quillet_values() {
  local cur=$1 head=${1%%[=:]*} name
  head=${cur:0:${#head}+1}
  shift
  # Names are matched in any case, as the program matches them.
  local typed=${cur:${#head}}
  COMPREPLY=()
  for name in "$@"; do
    [[ ${name,,} == "${typed,,}"* ]] && COMPREPLY+=("$head$name")
  done
  _quillet_trim_to_bash_word "$cur"
  local i
  for i in "${!COMPREPLY[@]}"; do COMPREPLY[i]=$(printf '%q' "${COMPREPLY[i]}"); done
}

_quillet() {
  local prog=${COMP_WORDS[0]} cur i
  cur=$(_quillet_current_word)
  COMPREPLY=()
  for ((i = 1; i < COMP_CWORD; i++)); do
    if [[ ${COMP_WORDS[i]} == -- ]]; then
      _quillet_files "$cur"
      return 0
    fi
  done
  case $cur in
    --*) _quillet_matching "$cur" --help --version ;;
    [/-][Ss]=*)
      local -a names=()
      mapfile -t names < <(_quillet_devices "$prog")
      _quillet_values "$cur" "${names[@]}"
      return 0
      ;;
    [/-][Pp][Aa][Pp][Ee][Rr][=:]*)
      _quillet_values "$cur" A3 A4 A5 LETTER LEGAL B4 B5 B6
      return 0
      ;;
    [/-]*)
      if ! _quillet_is_path "$cur"; then
        _quillet_switches "$prog" "$cur"
        # Nothing of the switches: an absolute path being typed.
        [[ ${#COMPREPLY[@]} -gt 0 || $cur != /* ]] && { _quillet_trim_to_bash_word "$cur"; return 0; }
      fi
      _quillet_files "$cur"
      ;;
    *) _quillet_files "$cur" ;;
  esac
  return 0
}

_quillet_files() {
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -f -- "$1")
}

# As the program tells them apart: "/" then a second "/" before any "=",
# ":" or quote is a path ("/home/u/a.tif"), not a switch.
_quillet_is_path() {
  [[ $1 == /* ]] || return 1
  local rest=${1:1}
  local head=${rest%%[/=:\"\']*}
  [[ ${rest:${#head}:1} == / ]]
}

complete -F _quillet quillet
