# shellcheck shell=bash
# For the exercise runner's test files (practice.bats, practice_judge.bats), loaded after helper.

# Each test's own work area, under a folder name with a space in it, as a home folder may have.
practice_setup() {
    [ -n "$ROOT" ] || skip "SYSZOO_ROOT does not name the sources"
    export XDG_DATA_HOME="$BATS_TEST_TMPDIR/my data"
    # shellcheck disable=SC2034 # the tests use it
    area="$XDG_DATA_HOME/syszoo/practice"
    unset SYSZOO_PRACTICE_DIR SYSZOO_EXERCISES
}

practice() {
    "$ROOT/practice" --no-install "$@" 3>&-
}

# Put the lines of farewell's registration back in the shipped order, in copy $1.
mend_farewell() {
    cp "$ROOT/proc/farewell.cpp" "$1/proc/farewell.cpp"
}
