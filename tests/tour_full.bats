#!/usr/bin/env bats
# The whole guided tour, on the terminal and as a page: about a minute each.
# ctest: TIMEOUT 1200 COST 171 SCRIPT PRIVATE_IPC PRIVATE_NET port_5678 message_queue_0x12345

load helper

setup() {
    tour_setup
    claim_queue_key
    export ASAN_OPTIONS=detect_leaks=0 # relay runs under gdb, where the leak check cannot
}

teardown() {
    tour_teardown
}

@test "the whole tour runs every stop, exits 0 and leaves nothing behind" {
    run --separate-stderr tour
    assert_success
    # The programs' standard error shows marked on standard output: the tour's own is for faults.
    [ -z "$stderr" ]
    [ "$(grep '^-- ' <<< "$output" | cut -d: -f1)" = "$(built_programs | sed 's/^/-- /')" ]
    assert_line "End of the tour."
    tour_left_nothing "$mark"
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

@test "the whole tour as a page: a section per program, and contents that stay apart at every width" {
    page=$BATS_TEST_TMPDIR/tour.html
    run --separate-stderr tour --html "$page"
    assert_success
    [ "$(grep -o '<section class="stop" id="stop-[a-z0-9_]*">' "$page" | sed 's/.*stop-//; s/">//')" = "$(built_programs)" ]
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
