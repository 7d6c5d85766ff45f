#!/usr/bin/env bash
# Every option the programs take is in their manual pages, and every option of each console
# command is offered by the completion for that command: neither can fall behind the code.
#   documented-options.sh <ostrel-cli> <vexa-sim> <source dir> [<ostrel-fleet>]
set -euo pipefail
cli=$1 sim=$2 source=$3 fleet=${4:-}
completion=$source/packaging/ostrel-cli.bash-completion
pages=$source/packaging/man
failures=0

options_of() {
    "$@" --help | grep -oE -- '--[a-z][a-z-]+' | grep -vx -- --help | sort -u
}

documented() {
    local page=$1 option=$2
    grep -qF -- "*$option*" "$pages/$page.1.scd" ||
        { echo "$page(1) does not describe $option"; failures=$((failures + 1)); }
}

completed() {
    bash -c '
        source /usr/share/bash-completion/bash_completion
        source "$1"
        COMP_LINE=$2 COMP_POINT=${#2}
        read -ra COMP_WORDS <<<"$2"
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _ostrel_cli
        printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$1"
}

for option in $(options_of "$cli"); do
    documented ostrel-cli "$option"
done
for command in update verify plan discover "settings get" "settings set" ident history inventory; do
    offered=$(completed "ostrel-cli $command --")
    for option in $(options_of "$cli" $command); do
        documented ostrel-cli "$option"
        grep -qx -- "$option" <<<"$offered" ||
            { echo "completion of '$command' does not offer $option"; failures=$((failures + 1)); }
    done
done
for option in $(options_of "$sim"); do
    documented vexa-sim "$option"
done
if [ -n "$fleet" ]; then
    for option in $(QT_QPA_PLATFORM=offscreen options_of "$fleet" | grep -vx -- --help-all); do
        documented ostrel-fleet "$option"
    done
fi

echo "$failures undocumented or uncompleted options"
[ "$failures" -eq 0 ]
