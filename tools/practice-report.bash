# shellcheck shell=bash
# shellcheck disable=SC2154 # area, exercise_dir and the options are set by ./practice
# The report of ./practice: every exercise's state, checks, hints and time, as a table for the
# learner, or as JUnit XML or CSV for a class's grading. Sourced by ./practice.

# One record a line for the report: name, state, checks, hints, seconds from start to pass (or
# to now), and a note; tab-separated. No path outside the work area is named.
report_records() {
    local name file state passed started seconds note elsewhere
    while read -r file; do
        name=$(exercise_name "$file")
        state=$(state_of "$name") note=''
        started=$(progress_get "$name" 5) passed=$(progress_get "$name" 6)
        if [ "$passed" != 0 ] && [ "$state" != "done" ]; then
            note="passed, then reset; now $state" state="done"
        fi
        seconds=0
        if [ "$started" != 0 ]; then
            if [ "$passed" != 0 ]; then seconds=$(( passed - started )); else seconds=$(( $(date +%s) - started )); fi
        fi
        if [ -d "$area/$name/src" ] && read_exercise "$file"; then
            elsewhere=$(changed_elsewhere "$area/$name/src" | tr '\n' ' ' | sed 's/ $//')
            [ -z "$elsewhere" ] || note+="${note:+; }changed outside the exercise: $elsewhere"
        fi
        printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$state" "$(progress_get "$name" 3)" \
            "$(progress_get "$name" 4)" "$seconds" "$note"
    done < <(exercise_files)
}

# Characters that XML gives a meaning to, as entities.
xml_text() {
    sed 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g; s/"/\&quot;/g'
}

# ./practice report [--junit FILE] [--csv FILE]: a table of every exercise, or the same as a
# JUnit XML file (one test case per exercise) or a CSV file.
report() {
    local junit=${report_junit:-} csv=${report_csv:-} records learner
    records=$(report_records)
    learner=$(id -un 2> /dev/null || id -u) # a user without a name in the user database has a number
    if [ -n "$csv" ]; then
        { echo 'exercise,state,checks,hints,seconds,note'
            awk -F '\t' '{ gsub(/"/, "\"\"", $6); printf "%s,%s,%s,%s,%s,\"%s\"\n", $1, $2, $3, $4, $5, $6 }' <<< "$records"
        } > "$csv" || die "cannot write $csv"
    fi
    if [ -n "$junit" ]; then
        awk -F '\t' -v suite="$(printf '%s' "practice ${SYSZOO_EXERCISES:+${exercise_dir##*/}}" | xml_text)" \
            -v host="$(uname -n | xml_text)" -v learner="$(printf '%s' "$learner" | xml_text)" '
            function esc(t) { gsub(/&/, "\\&amp;", t); gsub(/</, "\\&lt;", t); gsub(/>/, "\\&gt;", t); gsub(/"/, "\\&quot;", t); return t }
            { n++; name[n] = $1; state[n] = $2; checks[n] = $3; hints[n] = $4; secs[n] = $5; note[n] = $6
              if ($2 == "skipped" || $2 == "not-started") skipped++; else if ($2 != "done") failed++ }
            END {
                print "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                printf "<testsuites name=\"%s\">\n", suite
                printf "  <testsuite name=\"%s\" tests=\"%d\" failures=\"%d\" skipped=\"%d\" hostname=\"%s\">\n", suite, n, failed, skipped, host
                printf "    <properties>\n"
                printf "      <property name=\"learner\" value=\"%s\"/>\n", learner
                printf "    </properties>\n"
                for (i = 1; i <= n; i++) {
                    printf "    <testcase classname=\"practice\" name=\"%s\" time=\"%d\">\n", name[i], secs[i]
                    printf "      <properties>\n"
                    printf "        <property name=\"state\" value=\"%s\"/>\n", state[i]
                    printf "        <property name=\"checks\" value=\"%d\"/>\n", checks[i]
                    printf "        <property name=\"hints\" value=\"%d\"/>\n", hints[i]
                    if (note[i] != "") printf "        <property name=\"note\" value=\"%s\"/>\n", esc(note[i])
                    printf "      </properties>\n"
                    if (state[i] == "skipped" || state[i] == "not-started") printf "      <skipped message=\"%s\"/>\n", state[i]
                    else if (state[i] != "done") printf "      <failure message=\"not passed yet\" type=\"%s\"/>\n", state[i]
                    printf "    </testcase>\n"
                }
                print "  </testsuite>"
                print "</testsuites>"
            }' <<< "$records" > "$junit" || die "cannot write $junit"
    fi
    [ -z "$junit$csv" ] || return 0
    printf '# ./practice report: %s on %s, %s\n' "$learner" "$(uname -n)" "$(date '+%Y-%m-%d %H:%M')"
    printf '%-20s %-12s %6s %6s %8s  %s\n' exercise state checks hints seconds note
    awk -F '\t' '{ printf "%-20s %-12s %6s %6s %8s  %s\n", $1, $2, $3, $4, $5, $6 }' <<< "$records" | sed 's/ *$//'
}
