#!/usr/bin/env bash
# The manual page renders cleanly, the completion script completes, and both install.
# usage: docs_test.sh SOURCE_DIR BUILD_DIR VERSION QUILLET
set -euo pipefail
source_dir=$1 build_dir=$2 version=$3 quillet=$4
page=$source_dir/cli/quillet.1 completion=$source_dir/cli/quillet.bash failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Manual page: no groff warnings at all, and man renders it.
warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$page" 2>&1) && [[ -z $warnings ]] || fail "groff: $warnings"
LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q '^EXIT STATUS' || fail "no EXIT STATUS section"
head -1 "$page" | grep -qF "\"Quillet $version\"" || fail "the page's version is not $version"

# README lists what a scan recognises exactly as `quillet help scan` prints it from the catalogue.
recognised=$("$quillet" help scan | awk '/^What a scan recognises$/ {on = 1} /^exit status:$/ {on = 0} on')
readme=$(awk '/^    What a scan recognises$/ {on = 1} on && /^[^ ]/ {on = 0} on {sub(/^    /, ""); print}' \
    "$source_dir/README.md")
[[ -n $recognised && $recognised == "$readme" ]] ||
    fail "README's list differs from quillet help scan's: $(diff <(echo "$recognised") <(echo "$readme") | head -5)"

# Completion: it offers subcommands, options and item paths.
complete_words() {  # prints the completions for the words given, the last one being completed
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _quillet; printf "%s\n" "${COMPREPLY[@]}"' \
        _ "$completion" "$@"
}
scratch=$(mktemp -d) && trap 'rm -rf "$scratch"' EXIT && mkdir "$scratch/home-folder"
# Each line: a word completing the rest must offer (captured first: grep -q would SIGPIPE the writer).
while read -r wanted words; do
    offered=$(complete_words $words)
    grep -qxF -- "$wanted" <<<"$offered" || fail "completing '$words' does not offer $wanted (got: $(tr '\n' ' ' <<<"$offered"))"
done <<WANTED
scan quillet s
--version quillet --v
--json-stream quillet scan --json-
--scan quillet plan --no-simulators --s
plan quillet help p
$scratch/home-folder quillet scan --home $scratch/home-f
$scratch/home-folder quillet plan --scan - -- $scratch/home-f
WANTED
[[ -z $(complete_words quillet suggest --j) ]] || fail "suggest offers options it does not take"

# Installation puts the page and the completion where man and bash-completion look.
cmake --install "$build_dir" --prefix "$scratch/prefix" >/dev/null
for installed in bin/quillet share/man/man1/quillet.1 share/bash-completion/completions/quillet; do
    [[ -f $scratch/prefix/$installed ]] || fail "cmake --install did not install $installed"
done
((failures == 0)) && echo "docs_test: all checks passed"
