# Sourced by the fuzz scripts: each target with its corpus folder under fuzz/corpus and its
# dictionary under fuzz/dicts (- for none). The two readers of Dral streams share their seeds.
FUZZ_TARGETS=(
    "dral_strict dral -"
    "dral_lifted dral -"
    "text text text.dict"
    "ctn ctn ctn.dict"
    "cbf cbf -"
    "cbf_query cbf -"
    "cql cql cql.dict"
)

# Where the sanitizer runtimes find a symbolizer for readable stack traces, if there is one.
for symbolizer in llvm-symbolizer-16 llvm-symbolizer llvm-symbolizer-14; do
    if command -v "$symbolizer" >/dev/null; then
        export ASAN_SYMBOLIZER_PATH
        ASAN_SYMBOLIZER_PATH=$(command -v "$symbolizer")
        break
    fi
done
