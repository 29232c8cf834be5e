#!/usr/bin/env bats
# The tour recorded as a web page (--html): what the page holds, that everything programs print
# shows as text, and the page in a real browser with JavaScript off.
# ctest: TIMEOUT 600 COST 58 SCRIPT PRIVATE_IPC PRIVATE_NET port_5678 message_queue_0x12345

load helper

setup() {
    tour_setup
    page=$BATS_TEST_TMPDIR/tour.html
}

teardown() {
    tour_teardown
}

# Output with markup, an entity, quotes, a NUL byte, a byte that is not UTF-8, an escape
# sequence, DEL, an overlong (invalid) encoding of "/" and a character that is UTF-8: passed
# through the same path as a program's output.
nasty='printf "<script>alert(1)</script><b>bold</b> & \"q\" '"'"'s \000nul \377bad \033[31mesc \177del \300\257long \301\201c1 é\n"; printf "<img src=x>err\n" >&2'

@test "--html records the selected stops in one self-contained page, and leaves nothing behind" {
    run --separate-stderr tour --html "$page" farewell charcopy attrmark client
    assert_success
    assert_output '' # the page is the output; progress goes to standard error
    [[ $stderr == *"tour: 4 stops recorded in $page"* ]]
    [ "$(grep -c '<section class="stop"' "$page")" -eq 4 ]
    for stop in farewell charcopy attrmark client; do
        grep -q "<section class=\"stop\" id=\"stop-$stop\">" "$page"
        grep -q "<li><a href=\"#stop-$stop\">$stop</a>" "$page" # in the contents
    done
    # headings, commands, output, standard error told apart, exit statuses
    grep -qx '<h3>farewell: exit handlers, and the order they run in</h3>' "$page"
    grep -qxF "<div class=\"c\">\$ $(shown_bin)/farewell</div>" "$page"
    grep -qx '<div class="o">second exit handler</div>' "$page"
    grep -qx '<div class="e"><span class="m">! </span>input error: Is a directory</div>' "$page"
    grep -qx '<div class="st">(exit status 1)</div>' "$page"
    grep -qx '<div class="s"><span class="m">\[server\]&nbsp;</span>read:TCP TEST</div>' "$page" # stays with its line
    # the source, numbered and escaped, with the pointer to where to start
    grep -qx '<p class="src">Source: <code>proc/farewell.cpp</code>: main, then my_exit1 and my_exit2</p>' "$page"
    grep -q '<details class="source"><summary>proc/farewell.cpp, [0-9]* lines</summary>' "$page"
    grep -qE '^<span class="n"> +[0-9]+</span>  #include &lt;cstdio&gt;$' "$page"
    # the kernel's view, collapsed, or the line that says why there is none
    [ "$(grep -c -e '<details class="kernel">' -e '<strong>What the kernel saw:</strong>' "$page")" -eq 4 ]
    if strace -f -o /dev/null -- true 2> /dev/null; then
        # the PID stays with its call when a long line wraps
        grep -qE '<div class="k">[0-9]+&nbsp;connect\([0-9]+, .* =&nbsp;-1 EINPROGRESS ' "$page"
    fi
    # when and on what
    grep -q "<dt>Kernel</dt><dd>$(uname -sr)</dd>" "$page"
    grep -q '<dt>C library</dt><dd>.' "$page"
    # the build as its build-info file records it
    version=$(awk -F '\t' '$1 == "version" { print $2 }' "$BUILD_INFO")
    preset=$(awk -F '\t' '$1 == "preset" { print $2 }' "$BUILD_INFO")
    grep -qF "<dt>Build</dt><dd>syszoo $version, preset $preset " "$page"
    grep -qE '<dt>Programs</dt><dd>[^<]+</dd>' "$page"
    # self-contained: nothing fetched, nothing run
    run ! grep -qiE '<script|<link|<img|<iframe|src=|url\(|@import|https?:' "$page"
    tour_left_nothing "$mark"
}

@test "everything a program prints shows as text on the page, never as markup" {
    # A relative file name starts from where the tour is called.
    cd "$BATS_TEST_TMPDIR"
    SYSZOO_TOUR_TRY=$nasty run --separate-stderr tour --html tour.html try
    assert_success
    [ -f "$page" ]
    # standard output: entities, visible control characters, the byte that is not UTF-8
    grep -qxF '<div class="o">&lt;script&gt;alert(1)&lt;/script&gt;&lt;b&gt;bold&lt;/b&gt; &amp; &quot;q&quot; &#39;s <span class="x" title="control character 0x00">&#x2400;</span>nul <span class="x" title="not UTF-8">\xFF</span>bad <span class="x" title="control character 0x1B">&#x241B;</span>[31mesc <span class="x" title="control character 0x7F">&#x2421;</span>del <span class="x" title="not UTF-8">\xC0</span><span class="x" title="not UTF-8">\xAF</span>long <span class="x" title="not UTF-8">\xC1</span><span class="x" title="not UTF-8">\x81</span>c1 é</div>' "$page"
    # standard error, marked
    grep -qxF '<div class="e"><span class="m">! </span>&lt;img src=x&gt;err</div>' "$page"
    # the command as typed is escaped too
    grep -qF '<div class="c">$ printf &quot;&lt;script&gt;' "$page"
    run ! grep -qE '<(script|b|img)[ >]' "$page"
    tour_left_nothing "$mark"
}

@test "--html checks its target before any stop runs: a folder, an unwritable place, a stop's name or a file it did not write is refused" {
    folder=$BATS_TEST_TMPDIR/pages
    mkdir "$folder"
    run --separate-stderr tour --html "$folder" farewell
    assert_failure 2
    [ "$stderr" = "tour: $folder is a folder: name the file to write (--html FOLDER/tour.html)" ]
    [ -z "$(ls -A "$folder")" ]

    # an option after --html is not the file's name
    cd "$BATS_TEST_TMPDIR"
    run --separate-stderr tour --html --step farewell
    assert_failure 2
    [ "$stderr" = "tour: --html needs the name of the file to write" ]
    [ ! -e ./--step ]

    # /proc takes no new files, whoever asks (root too)
    run --separate-stderr tour --html /proc/tour.html farewell
    assert_failure 2
    [ "$stderr" = "tour: cannot write /proc/tour.html" ]

    # one stop is one stop
    run --separate-stderr tour --html "$page" farewell
    assert_success
    [ "$stderr" = $'tour: recording farewell\ntour: 1 stop recorded in '"$page" ]
    # a page the tour wrote is replaced by the next
    run --separate-stderr tour --html "$page" blank
    assert_success
    grep -q '<section class="stop" id="stop-blank">' "$page"

    # A stop's or folder's name is not taken for the page's, whatever file has that name; nor
    # is any file the tour did not write replaced. Nothing runs, and nothing changes.
    echo "notes of my own" > spill
    cp spill net
    for target in spill --html=net "--html=$BATS_TEST_TMPDIR/net"; do
        [[ $target == --* ]] || target=(--html "$target")
        run --separate-stderr tour "${target[@]}" spill
        assert_failure 2
        assert_output ''
        [[ $stderr == "tour: "* ]]
        [[ $stderr != *recording* ]]
        [ "$(cat spill net)" = $'notes of my own\nnotes of my own' ]
    done
    [[ $stderr == *"$BATS_TEST_TMPDIR/net exists and is not a page the tour wrote"* ]]
    tour_left_nothing "$mark"
}

@test "the page keeps blank lines, and escapes the tour's own quotes as the programs' ones" {
    SYSZOO_TOUR_TRY="printf 'a\\n\\nb\\n'" run --separate-stderr tour --html "$page" relay try
    assert_success
    # an empty line keeps its height
    [ "$(grep -A 2 '^<div class="o">a</div>$' "$page")" = $'<div class="o">a</div>\n<div class="o"><br></div>\n<div class="o">b</div>' ]
    if command -v gdb > /dev/null; then # gdb's empty line before "Breakpoint 1, number"
        # among its standard output's lines: where gdb finds no source (a build whose programs
        # name their sources where a package installs them), its complaint on standard error
        # may come between them
        grep '^<div class="o">' "$page" | grep -B 1 '^<div class="o">Breakpoint 1, ' |
            grep -qx '<div class="o"><br></div>'
    fi
    grep -qF "Each caller keeps the result in its own &#39;<code>ret</code>&#39;." "$page"
    tour_left_nothing "$mark"
}

@test "in a real browser with JavaScript off the page has one section per stop and no element from program output" {
    command -v chromium > /dev/null ||
        skip "chromium is not installed (Debian package chromium): the page was not loaded in a browser"
    # JavaScript must really be off: a page that would change itself does not.
    probe=$BATS_TEST_TMPDIR/probe.html
    echo '<p id="p">static</p><script>document.getElementById("p").textContent = "ran"</script>' > "$probe"
    chromium_on "$probe" --dump-dom > "$BATS_TEST_TMPDIR/probe.dom"
    grep -q '<p id="p">static</p>' "$BATS_TEST_TMPDIR/probe.dom"

    SYSZOO_TOUR_TRY=$nasty run --separate-stderr tour --html "$page" farewell charcopy try
    assert_success
    chromium_on "$page" --dump-dom > "$BATS_TEST_TMPDIR/dom.html"
    dom=$BATS_TEST_TMPDIR/dom.html
    [ "$(grep -o '<section class="stop" id="stop-[a-z]*">' "$dom" | wc -l)" -eq 3 ]
    [ "$(grep -o '<section class="folder"' "$dom" | wc -l)" -eq 3 ]
    # the program's markup is text in the parsed page, not elements
    grep -qF '&lt;script&gt;alert(1)&lt;/script&gt;&lt;b&gt;bold&lt;/b&gt; &amp; "q"' "$dom"
    grep -qF '&lt;img src=x&gt;err' "$dom"
    run ! grep -qE '<(script|b|img|link|iframe)[ >]' "$dom"
    # every element in the body is one the tour writes
    others=$(grep -oE '<[a-z][a-z0-9]*' "$dom" | sort -u |
        grep -vxE '<(html|head|meta|title|style|body|header|h1|h2|h3|p|code|dl|dt|dd|nav|ol|li|a|main|section|span|div|details|summary|pre|strong|footer|svg|g|path|line|circle|text)' || true)
    [ -z "$others" ]

    # Screenshots for a person to look at: wide, phone, dark.
    shots=${SYSZOO_TOOLS:-$BATS_TEST_TMPDIR}
    chromium_on "$page" --screenshot="$shots/tour-page.png" --window-size=1200,1800
    chromium_on "$page" --screenshot="$shots/tour-page-phone.png" --window-size=390,1400
    chromium_on "$page" --force-dark-mode --screenshot="$shots/tour-page-dark.png" --window-size=1200,1800
    for shot in tour-page tour-page-phone tour-page-dark; do
        [ "$(head -c 4 "$shots/$shot.png" | od -An -tx1 | tr -d ' ')" = 89504e47 ] # a PNG
    done
    tour_left_nothing "$mark"
}

# The number of questions the stop files of programs $@ ask: each of these asks one a line.
questions_of() {
    local name count=0
    for name in "$@"; do
        count=$((count + $(grep -c '^ *predict ' "$ROOT/$(program_field "$name" 3)/$name.tour")))
    done
    echo "$count"
}

@test "--html shows each question before its run, its answer folded away in a closed details" {
    run --separate-stderr tour --html "$page" farewell samples
    assert_success
    # a question a stop, each with one answer folded away and none left open
    mapfile -t samples < <(built_programs samples)
    questions=$(questions_of farewell "${samples[@]}")
    [ "$(grep -c '^<div class="predict"><p><strong>Predict:</strong> ' "$page")" -eq "$questions" ]
    [ "$(grep -c '<details class="answer"><summary>Answer</summary><p>Answer: ' "$page")" -eq "$questions" ]
    run ! grep -q '<details[^>]* open' "$page"
    grep -qF '<p>Answer: a) first, first, second. (its lines &#39;<code>... exit handler</code>&#39;)</p></details></div>' "$page"
    # the question comes before the command it is about
    [ "$(grep -n 'Predict:</strong> In which order' "$page" | cut -d: -f1)" -lt \
        "$(grep -n '<div class="c">\$ [^ ]*/farewell</div>' "$page" | cut -d: -f1)" ]
}

@test "in a real browser with JavaScript off every answer is closed when the page loads" {
    command -v chromium > /dev/null ||
        skip "chromium is not installed (Debian package chromium): the page was not loaded in a browser"
    run --separate-stderr tour --html "$page" farewell samples
    assert_success
    chromium_on "$page" --dump-dom > "$BATS_TEST_TMPDIR/dom.html"
    dom=$BATS_TEST_TMPDIR/dom.html
    mapfile -t samples < <(built_programs samples)
    [ "$(grep -o '<details class="answer"' "$dom" | wc -l)" -eq "$(questions_of farewell "${samples[@]}")" ]
    run ! grep -qE '<details class="answer"[^>]* open' "$dom"
}

@test "the page sets code in the code font, keeps strace's results beside their calls, and names how it was recorded" {
    SYSZOO_TOUR_TRY=true run --separate-stderr tour --html "$page" --predict shellrun try
    assert_success
    # the options of the run, as given
    grep -qF "<p>A recording of one run of <code>./tour --html $page --predict shellrun try</code>: " "$page"
    # names from code: a command, a call, a variable, a quoted line; never as plain words
    grep -qF '<code>ls</code>' "$page"
    grep -qF '<code>system()</code>' "$page"
    grep -qF '<p>The command in <code>SYSZOO_TOUR_TRY</code>:</p>' "$page"
    grep -qF '&#39;<code>status ...</code>&#39;' "$page"
    run ! grep -E '^<(p|div class="predict")>.*[ (](ls|system\(\)|SYSZOO_TOUR_TRY)[ ,.:)]' "$page"
    # no run of padding pushes "= value" away from its call on a narrow screen
    if strace -f -o /dev/null -- true 2> /dev/null; then
        grep -qE '^<div class="k">[0-9]+&nbsp;[a-z_0-9]+\(.*\) =&nbsp;' "$page"
        run ! grep -E '^<div class="k">.*( {2,}=| = )[^;]*</div>$' "$page"
    fi
    tour_left_nothing "$mark"
}
