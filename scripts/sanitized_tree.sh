# Sourced by core_tests.sh and sanitizer_tests.sh: the build tree with AddressSanitizer and
# UndefinedBehaviorSanitizer that both use (SANITIZE_BUILD_DIR, default build/sanitize), so that
# the core is compiled with the sanitizers once. Any finding stops the process.
sanitized_tree=${SANITIZE_BUILD_DIR:-build/sanitize}
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

# Takes the interpreter the extension module is built for.
configure_sanitized_tree() {
    cmake -S . -B "$sanitized_tree" -G Ninja -DDRAL_WERROR=ON -DDRAL_CORE_TESTS=ON \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
        -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_MODULE_LINKER_FLAGS="$sanitize" \
        -DPython_EXECUTABLE="$(command -v "$1")" >/dev/null
}
