#!/usr/bin/env bash
# Prints the interpreters to build and test with: CPython 3.12 (through pyenv when it is there)
# and the machine's default python3, each once.
set -euo pipefail
declare -a found=()
if command -v pyenv >/dev/null; then
    version=$(pyenv versions --bare 2>/dev/null | grep -E '^3\.12(\.[0-9]+)?$' | sort -V | tail -n 1 || true)
    if [ -n "$version" ]; then
        found+=("$(PYENV_VERSION=$version pyenv which python3)")
    fi
fi
found+=("$(command -v python3)")
printf '%s\n' "${found[@]}" | awk '!seen[$0]++'
