# shellcheck shell=bash
# shellcheck disable=SC2154 # root, area, the exercise's files and the options are set by ./practice
# The learner's side of ./practice: the progress file, and the commands start, check, hint, show,
# reset, list and watch. Sourced by ./practice.

# --- progress: one line per exercise touched, "name state checks hints started passed" --------
# (started: when it was first started, passed: when it first passed, in seconds since 1970; 0
# for not yet)

progress_get() { # name field(2 state, 3 checks, 4 hints, 5 started, 6 passed)
    local value
    value=$(awk -v n="$1" -v f="$2" '$1 == n { print $f }' "$area/progress" 2> /dev/null)
    if [ -z "$value" ]; then
        case $2 in 2) value='not-started' ;; *) value=0 ;; esac
    fi
    printf '%s\n' "$value"
}

progress_set() { # name field value
    local file=$area/progress new
    if ! mkdir -p "$area" || ! touch "$file" || ! scratch_temp new "$file.XXXXXX"; then die "cannot write $file"; fi
    # A new file renamed over the old: a reader (another ./practice) sees one or the other whole.
    if ! awk -v n="$1" -v f="$2" -v v="$3" '
        $1 == n { for (i = NF + 1; i <= 6; i++) $i = 0; $f = v; found = 1 } { print }
        END { if (!found) { $0 = n " not-started 0 0 0 0"; $f = v; print } }' "$file" > "$new" ||
        ! mv "$new" "$file"; then
        rm -f "$new"
        die "cannot write $file"
    fi
}

# The state of exercise $1: done, started, skipped or not-started. A copy on disk is started at
# least, whatever the progress file says.
state_of() {
    local state
    state=$(progress_get "$1" 2)
    if [ "$state" = not-started ] && [ -d "$area/$1/src" ]; then state=started; fi
    printf '%s\n' "$state"
}

# The exercise to go on with: the first not done and not skipped, else the first skipped.
next_exercise() {
    local name skipped=''
    for name in $(exercise_names); do
        case $(state_of "$name") in
            done) ;;
            skipped) [ -n "$skipped" ] || skipped=$name ;;
            *) printf '%s\n' "$name"; return 0 ;;
        esac
    done
    [ -n "$skipped" ] && printf '%s\n' "$skipped"
}

current_exercise() {
    local name=''
    [ -f "$area/current" ] && name=$(< "$area/current")
    [ -n "$name" ] && exercise_file "$name" > /dev/null || name=$(next_exercise)
    [ -n "$name" ] || die "every exercise is done: nothing to go on with"
    printf '%s\n' "$name"
}

# --- the learner's side -------------------------------------------------------------------------

show_symptom() {
    printf '%sWhat it shows:%s %s\n' "$bold" "$plain" "$ex_symptom"
}

# Start exercise $1, or say where it is when it has been started already.
start_exercise() {
    load_exercise "$1"
    local dir=$area/$1 file
    printf '%s%s%s: %s (%s)\n' "$bold" "$1" "$plain" "$ex_title" "${ex_programs[*]}"
    if [ -d "$dir/src" ]; then
        echo "Started before: your copy is as you left it."
    else
        [ ! -e "$dir/src.new" ] || chmod -R u+w "$dir/src.new"
        rm -rf "${dir:?}/src.new"
        copy_sources "$dir/src.new" || die "cannot copy the sources to $dir"
        local log
        if ! log=$(exercise_diff 0 | patch -p1 -s -F 0 -N --no-backup-if-mismatch -r - -d "$dir/src.new" 2>&1); then
            rm -rf "${dir:?}/src.new"
            die "the exercise $ex_file does not apply to these sources: $log"
        fi
        mv "$dir/src.new" "$dir/src" || die "cannot make $dir/src"
    fi
    [ "$(progress_get "$1" 2)" = "done" ] || progress_set "$1" 2 started
    [ "$(progress_get "$1" 5)" != 0 ] || progress_set "$1" 5 "$(date +%s)"
    printf '%s\n' "$1" > "$area/current"
    show_symptom
    echo "Mend it here:"
    for file in "${ex_files[@]}"; do printf '  %s\n' "$dir/src/$file"; done
    echo "./practice check builds your program in:"
    printf '  %s\n' "$dir/build/bin"
    printf 'Then: %s check %s   (or %s watch; %s hint %s for a hint)\n' "$me" "$1" "$me" "$me" "$1"
}

need_started() {
    [ -d "$area/$1/src" ] || die "$1 is not started: $me start $1"
}

# Check exercise $1: build the copy, judge it. Status 0 passed, 1 not yet, 2 not judged.
check_exercise() {
    local name=$1 dir=$area/$1 status
    load_exercise "$name"
    need_started "$name"
    # strace, only for an exercise that looks at what the kernel saw.
    [ -z "$ex_kernel_run" ] || ensure_packages practice practice-kernel || return $?
    find_shipped
    printf '%s\n' "$name" > "$area/current"
    progress_set "$name" 3 $(( $(progress_get "$name" 3) + 1 ))
    printf '%sChecking %s%s: building your copy...\n' "$bold" "$name" "$plain"
    # Only the exercise's own files are judged as the copy has them: the others are taken as shipped.
    local elsewhere
    elsewhere=$(changed_elsewhere "$dir/src")
    if [ -n "$elsewhere" ]; then
        echo "Taken as shipped, not as your copy has them (what is judged is yours of ${ex_files[*]}):"
        printf '%s\n' "$elsewhere" | sed 's/^/  /'
    fi
    if ! stage_copy "$dir/src" "$dir/judged" || ! build_copy "$dir/judged" "$dir/build" afresh "${ex_programs[@]}"; then
        show_build_errors "$dir/build" "$dir/judged" "$dir/src"
        echo "Not passed yet: $name"
        return 1
    fi
    link_programs "$dir/bin" "$dir/build" "${ex_programs[@]}" || return 2
    echo "Running the tests that judge it..."
    judge "$dir/bin" show
    status=$?
    if [ "$status" -eq 2 ]; then
        printf '%sNot judged%s: %s\n' "$bold" "$plain" "$name"
        printf '  %s\n' "${judged_reasons[@]}"
        return 2
    fi
    if [ "$status" -ne 0 ]; then
        [ ${#judged_reasons[@]} -eq 0 ] || printf '  %s\n' "${judged_reasons[@]}"
        echo "Not passed yet: $name ($me hint $name for a hint)"
        return 1
    fi
    if [ -n "$ex_kernel_run" ]; then
        kernel_problem='' kernel_seen=''
        kernel_check "$dir/bin"
        status=$?
        if [ "$status" -eq 2 ]; then
            printf '%sNot judged%s: %s: the tests pass, but what the kernel saw cannot be checked: %s\n' \
                "$bold" "$plain" "$name" "$kernel_problem"
            return 2
        elif [ "$status" -eq 1 ]; then
            printf '  %sFAILED%s  what the kernel saw: %s\n' "$red" "$plain" "$ex_kernel_says"
            [ -z "$kernel_seen" ] || printf '          it saw: %s\n' "${kernel_seen//$'\n'/$'\n          it saw: '}"
            echo "Not passed yet: $name ($me hint $name for a hint)"
            return 1
        fi
        printf '  %spassed%s  what the kernel saw: %s\n' "$green" "$plain" "$ex_kernel_says"
    fi
    progress_set "$name" 2 "done"
    [ "$(progress_get "$name" 6)" != 0 ] || progress_set "$name" 6 "$(date +%s)"
    printf '%sPassed: %s%s\n' "$green$bold" "$name" "$plain"
    local next
    next=$(next_exercise)
    if [ -n "$next" ]; then echo "Next: $me  (goes on with $next)"; else echo "That was the last one: every exercise is done."; fi
    return 0
}

# Ask a yes/no question on standard input; anything but y or yes (an end of input too) is no.
confirm() {
    local answer=''
    printf '%s [y/N] ' "$1"
    read -r answer || true
    [[ $answer == [yY] || $answer == [yY][eE][sS] ]]
}

hint_exercise() {
    load_exercise "$1"
    local shown
    shown=$(progress_get "$1" 4)
    [ "$shown" -lt ${#ex_hints[@]} ] && shown=$(( shown + 1 ))
    progress_set "$1" 4 "$shown"
    [ ${#ex_hints[@]} -gt 0 ] || { echo "$1 has no hints."; return 0; }
    local i
    for (( i = 0; i < shown; i++ )); do
        printf 'Hint %d of %d: %s\n' $(( i + 1 )) ${#ex_hints[@]} "${ex_hints[i]}"
    done
    [ "$shown" -lt ${#ex_hints[@]} ] && echo "($me hint $1 again for the next one)"
    return 0
}

show_exercise() {
    load_exercise "$1"
    need_started "$1"
    if [ "$(state_of "$1")" != "done" ] &&
        ! confirm "$1 has not passed yet: show the answer (your copy against the program as shipped)?"; then
        echo "Not shown."
        return 1
    fi
    local file same=1
    for file in "${ex_files[@]}"; do
        diff -u --label "shipped/$file" --label "yours/$file" "$root/$file" "$area/$1/src/$file" || same=0
    done
    [ "$same" -eq 0 ] || echo "Your copy of ${ex_files[*]} is the same as the program as shipped."
    # Changes elsewhere in the copy are yours too: named, so that none goes unseen.
    local others
    others=$(changed_elsewhere "$area/$1/src")
    [ -z "$others" ] || { echo "Your copy differs elsewhere too (not judged):"; printf '%s\n' "$others" | sed 's/^/  /'; }
    return 0
}

# True when the learner's copy of exercise $1 differs anywhere from the broken copy as it was
# made: the exercise's own files, or any other.
has_edits() {
    local fresh status=0
    scratch_temp fresh -d || return 0
    copy_sources "$fresh" &&
        exercise_diff 0 | patch -p1 -s -F 0 -N --no-backup-if-mismatch -r - -d "$fresh" > /dev/null 2>&1 &&
        diff -rq "$fresh" "$area/$1/src" > /dev/null 2>&1 && status=1
    rm -rf "${fresh:?}"
    return "$status"
}

# Start exercise $1 afresh. A copy with edits goes whole into the exercise's saved/ folder (after
# a yes), never away.
reset_exercise() {
    load_exercise "$1"
    local dir=$area/$1
    if [ -d "$dir/src" ]; then
        if has_edits "$1"; then
            confirm "Start $1 afresh? Your copy is kept in $dir/saved/" || { echo "Nothing changed."; return 1; }
            local keep
            keep=$dir/saved/$(date +%Y%m%d-%H%M%S)
            while [ -e "$keep" ]; do keep+=+; done
            if ! mkdir -p "$dir/saved" || ! mv "$dir/src" "$keep"; then
                die "cannot keep your copy in $keep: nothing changed"
            fi
            echo "Your copy is kept in $keep"
        fi
        rm -rf "${dir:?}/src" "${dir:?}/judged" "${dir:?}/build" "${dir:?}/bin"
    fi
    # A pass stays in the report, the reset noted beside it.
    [ "$(progress_get "$1" 6)" = 0 ] || echo "Your pass of $1 stays in ./practice report, the reset noted."
    progress_set "$1" 2 not-started
    start_exercise "$1"
}

# Every exercise of the set with its state; a file that cannot be read said precisely (status
# 1), and a file skipped for its name named, the others listed all the same.
list_exercises() {
    local file name state bad=0
    while read -r file; do
        name=$(exercise_name "$file")
        if ! read_exercise "$file"; then
            printf 'practice: %s\n' "$ex_problem" >&2
            bad=1
            continue
        fi
        state=$(state_of "$name")
        printf '%-12s %-14s %-20s %s\n' "$state" "$name" "${ex_programs[*]}" "$ex_title"
    done < <(exercise_files)
    local skipped_lines
    mapfile -t skipped_lines < <(skipped_files)
    [ ${#skipped_lines[@]} -eq 0 ] || printf 'practice: %s\n' "${skipped_lines[@]}" >&2
    return "$bad"
}

# Check the current exercise (or $1) again each time one of its files is saved. Editors that save
# by writing another file and renaming it are seen too: the folders are watched, not the files.
watch_exercise() {
    local name=$1 dirs=() file
    load_exercise "$name"
    need_started "$name"
    for file in "${ex_files[@]}"; do
        file=$(dirname "$area/$name/src/$file")
        [[ " ${dirs[*]} " == *" $file "* ]] || dirs+=("$file")
    done
    # The watches first, then the first check: a save made while it runs is seen after it.
    local events errors ready
    scratch_temp errors || die "no temporary file"
    exec {events}< <(exec inotifywait -m -e close_write,moved_to,create --format '%f' "${dirs[@]}" 2> "$errors")
    watcher=$!
    for (( ready = 0; ready < 100; ready++ )); do
        grep -q 'Watches established' "$errors" && break
        kill -0 "$watcher" 2> /dev/null || break
        sleep 0.1
    done
    if ! grep -q 'Watches established' "$errors"; then
        die "inotifywait cannot watch ${dirs[*]}: $(grep -v '^Setting up watches' "$errors" | tr '\n' ' ')"
    fi
    check_exercise "$name" && return 0
    echo "Watching $name: save your file to check it again (Ctrl-C stops)."
    local changed base
    while IFS= read -r -u "$events" changed; do
        for file in "${ex_files[@]}"; do
            base=${file##*/}
            [ "$changed" = "$base" ] || continue
            # An editor may write more than once: let it finish.
            while IFS= read -r -t 0.3 -u "$events" _; do :; done
            echo
            if check_exercise "$name"; then
                return 0
            fi
            echo "Watching $name: save your file to check it again (Ctrl-C stops)."
            break
        done
    done
    printf 'practice: inotifywait stopped watching: %s\n' "$(grep -v '^Setting up watches\|^Watches established' "$errors" | tr '\n' ' ')" >&2
    return 2
}
