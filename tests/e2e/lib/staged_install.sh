# Sourced by the tests of the installed tree. stage_install BUILD_DIR: makes
# a temporary folder `work` (removed when the test ends) and installs the
# build into "$work/stage" under the prefix /usr, as a package would; sets
# `work` and `stage`. Calls the test's fail() when the install fails.
stage_install() {
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    stage=$work/stage
    DESTDIR=$stage cmake --install "$1" --prefix /usr >"$work/install.log" ||
        fail "cmake --install failed: $(cat "$work/install.log")"
}
