#!/usr/bin/env bash
# Prints the interpreters to build and test with, one path a line, each once: every CPython from
# 3.10 on that pyenv has (the newest patch release of each minor version), and the machine's
# default python3. On a machine without pyenv that is the default python3 alone.
set -euo pipefail
declare -a found=()
if command -v pyenv >/dev/null; then
    for minor in $(pyenv versions --bare 2>/dev/null | sed -nE 's/^3\.([0-9]+)(\.[0-9]+)?$/\1/p' | sort -nu); do
        [ "$minor" -ge 10 ] || continue
        version=$(pyenv versions --bare | grep -E "^3\.$minor(\.[0-9]+)?$" | sort -V | tail -n 1)
        found+=("$(PYENV_VERSION=$version pyenv which python3)")
    done
fi
found+=("$(python3 -c 'import sys; print(sys.executable)')")
printf '%s\n' "${found[@]}" | awk '!seen[$0]++'
