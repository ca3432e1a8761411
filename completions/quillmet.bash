# bash completion for quillmet: options, file names after the options that take one
# (-csv FILE, --json=FILE, --html FILE, ...), directories after -xd= (each item of its list),
# nothing after options that take a number, a list or a name (-j, -max=, -xe=), and
# directories or files as arguments (only those after "--").
# scripts/check_install_and_docs.py holds this file to the tool's option table.
_quillmet() {
  local current=${COMP_WORDS[COMP_CWORD]}
  local previous=${COMP_WORDS[COMP_CWORD-1]}
  local options="-h -? --help -v --version -sp --show-progress -g --greedy -c --conservative
    -f --by-file -np --no-pretty-print -p --pretty-print -nr --no-recursion -gi --gitignore
    -xd= --exclude-dir --exclude-dir= -xe= --exclude-ext --exclude-ext= -xn= --exclude-name
    --exclude-name= -fe= --force-ext --force-ext= -le --list-extensions -la --list-anomalies
    -max= --max-file-size --max-file-size= -j -j= --jobs --jobs= -stdin= --stdin --stdin=
    -sa --scan-archives -al --all-languages --languages -git= --git --git= --history --history= -cmp --compare -csv -csv= --csv --csv= -json -json=
    --json --json= -html -html= --html --html= -md -md= --md --md= -diff -diff= --diff --diff= --"
  # Options whose value is the next argument.
  local separate=" -csv --csv -json --json -html --html -md --md -diff --diff -j --jobs --exclude-dir --exclude-ext "
  separate+="--exclude-name --force-ext --max-file-size --stdin --git --history "
  COMPREPLY=()
  # After "--" every argument is a directory or file.
  local i
  for ((i = 1; i < COMP_CWORD; ++i)); do
    if [[ ${COMP_WORDS[i]} == -- ]]; then
      COMPREPLY=($(compgen -f -- "$current"))
      return
    fi
    [[ $separate == *" ${COMP_WORDS[i]} "* ]] && ((++i))  # its value, whatever it looks like
  done
  # An option with '=' arrives split at the '=' (COMP_WORDBREAKS) or, without that
  # setting, whole; either way the value alone is completed. An option that takes the
  # next argument has its value completed the same way.
  local option="" value=""
  if [[ $current == = ]]; then
    option=$previous
  elif [[ $previous == = && $COMP_CWORD -ge 2 ]]; then
    option=${COMP_WORDS[COMP_CWORD-2]}
    value=$current
  elif [[ $current == -*=* ]]; then
    option=${current%%=*}
    value=${current#*=}
  elif [[ $separate == *" $previous "* ]]; then
    option=$previous
    value=$current
  fi
  case $option in
    -csv|--csv|-json|--json|-html|--html|-md|--md|-diff|--diff)
      COMPREPLY=($(compgen -f -- "$value"))
      return
      ;;
    -xd|--exclude-dir)
      # Only the last item of the list is completed; the ones before it stay.
      local kept=""
      [[ $value == *,* ]] && kept=${value%,*},
      local directory
      while IFS= read -r directory; do
        COMPREPLY+=("$kept$directory")
      done < <(compgen -d -- "${value##*,}")
      compopt -o nospace 2>/dev/null
      return
      ;;
    ?*)
      return
      ;;
  esac
  if [[ $current == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$current"))
    [[ ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
    return
  fi
  COMPREPLY=($(compgen -f -- "$current"))
}
complete -o filenames -F _quillmet quillmet
