#!/usr/bin/env bats
# The whole tour as a page: a section per program, contents laid out apart at every width, and
# the commands it shows, pasted after it has ended into an interactive shell in the folder it was
# started from, do what the tour showed: none names the tour's work folder, which is gone by then,
# and a file they share is made and removed by commands of their own.
# ctest: TIMEOUT 900 COST 250 SCRIPT PRIVATE_IPC PRIVATE_NET port_5678 message_queue_0x12345

load helper

setup() {
    tour_setup
}

teardown() {
    tour_teardown
}

# For a copy of the page: a script that marks the body with the lines of the contents that
# run into the numbers of the column to their right ("... does not pass7. The debugger"), or
# "none". A line's text is measured; a number takes at least 1.5 em left of its item.
measure_contents='<script>
const boxes = [...document.querySelectorAll("nav li")].map(li => {
    const r = document.createRange();
    r.setStart(li, 0);
    const inner = li.querySelector("ol");
    if (inner) r.setEndBefore(inner); else r.setEnd(li, li.childNodes.length);
    return { li, rects: [...r.getClientRects()], left: li.getBoundingClientRect().left,
             em: parseFloat(getComputedStyle(li).fontSize) };
});
const clashes = [];
for (const a of boxes) for (const b of boxes) {
    if (b.left - a.left < 200) continue;
    for (const ra of a.rects) for (const rb of b.rects)
        if (ra.bottom > rb.top && ra.top < rb.bottom && ra.right > b.left - 1.5 * b.em)
            clashes.push(a.li.textContent.split("\n")[0] + " | " + b.li.textContent.split("\n")[0]);
}
document.body.setAttribute("data-clashes", clashes.length ? clashes.join(" ;; ") : "none");
</script>'

@test "the whole tour as a page: a section per program, its commands pasted into one interactive shell run as shown, and contents that stay apart at every width" {
    claim_queue_key
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
    # the temporary files of the tour's commands, and of the pasted ones, where they can be counted
    export TMPDIR=$BATS_TEST_TMPDIR/tmp
    mkdir "$TMPDIR"
    local options=(--html "$BATS_TEST_TMPDIR/tour.html")
    strace -qq -o /dev/null -e trace=uname -e inject=uname:error=EPERM uname > /dev/null 2>&1 || options+=(--break)
    cd "$ROOT"
    run --separate-stderr tour "${options[@]}"
    assert_success
    page=$BATS_TEST_TMPDIR/tour.html
    [ "$(grep -o '<section class="stop" id="stop-[a-z0-9_]*">' "$page" | sed 's/.*stop-//; s/">//')" = "$(built_programs)" ]
    tour_left_nothing "$mark"
    [ -z "$(ls -A "$TMPDIR")" ]
    run ! grep -E '^<div class="c">.*tour\.[0-9]+\.[A-Za-z0-9]{6}/' "$BATS_TEST_TMPDIR/tour.html"
    run env SYSZOO_MARK="$mark" perl "$ROOT/tests/paste_on_pty.pl" "$BATS_TEST_TMPDIR/tour.html" 3>&-
    echo "$output"
    assert_success
    # every stop was pasted, and what its commands made they removed
    [ "$(grep -c ': as shown$' <<< "$output")" -eq "$(built_programs | wc -l)" ]
    [ -z "$(ls -A "$TMPDIR")" ]
    # (a tour of another test's, beside this one, holds a file of its own there during its stop)
    wait_until '[ -z "$(find "$ROOT/build" -maxdepth 1 -name "marked.*" -newer "$began" 2> /dev/null)" ]' 60
    tour_left_nothing "$mark"

    command -v chromium > /dev/null ||
        skip "chromium is not installed (Debian package chromium): the contents were not laid out"
    measured=$BATS_TEST_TMPDIR/measured.html
    sed "s|</body>|$(tr '\n' ' ' <<< "$measure_contents" | sed 's/[\\&|]/\\&/g')</body>|" "$page" > "$measured"
    profile=$BATS_TEST_TMPDIR/profile
    for width in 500 700 900 1100 1300; do
        result=$(HOME=$profile timeout 60 chromium --headless --no-sandbox --disable-gpu --no-first-run \
            --disable-background-networking --disable-component-update --disable-sync \
            --user-data-dir="$profile" --window-size="$width,900" --dump-dom "file://$measured" 2> /dev/null 3>&- |
            grep -o 'data-clashes="[^"]*"')
        [ "$result" = 'data-clashes="none"' ] || { echo "at $width: $result"; false; }
    done
}
