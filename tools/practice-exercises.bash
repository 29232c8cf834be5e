# shellcheck shell=bash
# shellcheck disable=SC2154 # root, exercise_dir, start_dir, area and the colours are set by ./practice
# The exercise files of ./practice: finding them, reading one, and checking a set without
# building anything (./practice lint). Sourced by ./practice, whose variables (root,
# exercise_dir, the colours) it uses; reading an exercise sets the ex_* variables.
#
# A file is a header of "Key: value" lines (a Symptom may go on over indented lines), a blank
# line, a unified diff against the sources that puts the fault in, then any number of wrong
# mends: a line "Wrong: what the mend does" and a unified diff against the sources as shipped.

exercise_keys=(Title Programs Symptom Test Hint Kernel-run Kernel-calls Kernel-expect Kernel-says)
name_rule='a name of letters, digits and dashes only, as in 1-my-fault.patch'

# Every *.patch file of the set, in order (a leading number orders them), one a line.
patch_files() {
    find "$exercise_dir" -maxdepth 1 -name '*.patch' -type f 2> /dev/null | LC_ALL=C sort
}

# A name the runner can use on a command line and as a folder: letters, digits and dashes.
valid_name() {
    [[ $1 =~ ^[A-Za-z0-9-]+$ ]]
}

# The name of exercise file $1: without the folder, the order number and .patch.
exercise_name() {
    local name=${1##*/}
    name=${name%.patch}
    [[ $name =~ ^[0-9]+-(.+)$ ]] && name=${BASH_REMATCH[1]}
    printf '%s\n' "$name"
}

# The exercise files: the patch files with a usable name (the others are named by
# skipped_files).
exercise_files() {
    local file
    while read -r file; do
        valid_name "$(exercise_name "$file")" && printf '%s\n' "$file"
    done < <(patch_files)
}

# The patch files skipped for their names, each with the reason, one a line.
skipped_files() {
    local file
    while read -r file; do
        valid_name "$(exercise_name "$file")" || printf '%s: skipped, %s\n' "${file##*/}" "$name_rule"
    done < <(patch_files)
}

exercise_names() {
    local file
    while read -r file; do exercise_name "$file"; done < <(exercise_files)
}

# The file of exercise $1, or nothing.
exercise_file() {
    local file
    while read -r file; do
        [ "$(exercise_name "$file")" = "$1" ] && { printf '%s\n' "$file"; return 0; }
    done < <(exercise_files)
    return 1
}

# The programs of the collection, one a line: one stop file of the tour each.
program_names() {
    local file
    for file in "$root"/*/*.tour; do
        [[ $file == "$root"/tools/* ]] || { file=${file##*/}; printf '%s\n' "${file%.tour}"; }
    done
}

# Read exercise file $1 into ex_* variables: the header's fields, the files its patch changes
# and its wrong mends (ex_wrongs, their descriptions). Status 1, with ex_problem saying where
# and what, when the file cannot be used.
read_exercise() {
    ex_file=$1 ex_problem=''
    ex_title='' ex_programs=() ex_symptom='' ex_tests=() ex_hints=() ex_files=() ex_wrongs=()
    ex_kernel_run='' ex_kernel_calls='' ex_kernel_expect='' ex_kernel_says=''
    local line number=0 key value part=header last='' at
    while IFS= read -r line || [ -n "$line" ]; do
        number=$(( number + 1 ))
        at="${ex_file##*/} line $number"
        if [[ $line == *$'\r' ]]; then
            ex_problem="$at: a Windows line ending (CR LF); save the file with Unix line endings"
            return 1
        fi
        if [[ $line =~ ^Wrong:\ *(.*)$ ]]; then
            [ "$part" != header ] || { ex_problem="$at: a Wrong: mend before the exercise's own patch"; return 1; }
            [ -n "${BASH_REMATCH[1]}" ] || { ex_problem="$at: a Wrong: line needs what the mend does"; return 1; }
            ex_wrongs+=("${BASH_REMATCH[1]}") part=wrong
            continue
        fi
        if [[ $line == '--- '* ]]; then
            [[ $line == '--- a/'* ]] || { ex_problem="$at: a diff's old path starts with a/ (as diff -u or git diff write it): $line"; return 1; }
            [ "$part" != header ] || part='patch'
            continue
        fi
        if [[ $line == '+++ '* ]]; then
            [[ $line == '+++ b/'* ]] || { ex_problem="$at: a diff's new path starts with b/ (as diff -u or git diff write it): $line"; return 1; }
            if [ "$part" = patch ]; then line=${line#+++ b/}; ex_files+=("${line%%$'\t'*}"); fi
            continue
        fi
        [ "$part" = header ] || continue
        if [[ $line =~ ^[[:space:]]+([^[:space:]].*)$ && $last == Symptom ]]; then
            ex_symptom+=" ${BASH_REMATCH[1]}"
            continue
        fi
        last=''
        [[ $line =~ ^[[:space:]]*$ ]] && continue
        if ! [[ $line =~ ^([A-Za-z-]+):\ *(.*)$ ]]; then
            ex_problem="$at: not a \"Key: value\" line of the header: $line"
            return 1
        fi
        key=${BASH_REMATCH[1]} value=${BASH_REMATCH[2]} last=$key
        case $key in
            Title) ex_title=$value ;;
            Programs) read -r -a ex_programs <<< "$value" ;;
            Symptom) ex_symptom+=${ex_symptom:+ }$value ;;
            Test) ex_tests+=("$value") ;;
            Hint) ex_hints+=("$value") ;;
            Kernel-run) ex_kernel_run=$value ;;
            Kernel-calls) ex_kernel_calls=$value ;;
            Kernel-expect) ex_kernel_expect=$value ;;
            Kernel-says) ex_kernel_says=$value ;;
            *)
                ex_problem="$at: no key '$key' (the keys: ${exercise_keys[*]})"
                return 1 ;;
        esac
    done < "$ex_file"
    at=${ex_file##*/}
    local missing=()
    [ -n "$ex_title" ] || missing+=(Title)
    [ ${#ex_programs[@]} -gt 0 ] || missing+=(Programs)
    [ ${#ex_tests[@]} -gt 0 ] || missing+=(Test)
    [ ${#ex_files[@]} -gt 0 ] || missing+=("a patch (--- a/... +++ b/...)")
    if [ ${#missing[@]} -gt 0 ]; then
        ex_problem="$at: no $(printf '%s, ' "${missing[@]}" | sed 's/, $//')"
        return 1
    fi
    local program
    [ -n "${known_programs:-}" ] || known_programs=$(program_names) # read once
    local known=$known_programs
    for program in "${ex_programs[@]}"; do
        if ! grep -qxF -- "$program" <<< "$known"; then
            ex_problem="$at: Programs: there is no program named '$program' (the programs: $(tr '\n' ' ' <<< "$known" | sed 's/ $//'))"
            return 1
        fi
    done
    return 0
}

# The diffs of the exercise read last: 0 its own patch (the fault), N its Nth wrong mend.
exercise_diff() {
    awk -v want="$1" '
        /^Wrong:/ { part++; next }
        part == 0 && !seen && /^--- / { seen = 1 }
        part == want && (part > 0 || seen) { print }' "$ex_file"
}

# Load exercise $1 (or say precisely why it cannot be, and end).
load_exercise() {
    local file
    file=$(exercise_file "$1") || die "no exercise named '$1' ($me list shows them)"
    read_exercise "$file" || die "$ex_problem"
}

# The exercise named $1, or the first exercise of the program named $1.
resolve_name() {
    local name file
    if exercise_file "$1" > /dev/null; then
        printf '%s\n' "$1"
        return 0
    fi
    while read -r file; do
        read_exercise "$file" || continue
        if [[ " ${ex_programs[*]} " == *" $1 "* ]]; then
            exercise_name "$file"
            return 0
        fi
    done < <(exercise_files)
    die "no exercise or program named '$1' ($me list shows them)"
}

# The problems of exercise file $1 that need no build, one a line (none when it is sound): its
# name, its fields, its tests in the suite (not when $2 is "no-suite": the judge says it), its
# patch and its wrong mends applying to the sources.
lint_file() {
    local file=$1 suite=${2:-} name
    name=$(exercise_name "$file")
    valid_name "$name" || { printf '%s: %s\n' "${file##*/}" "$name_rule"; return 0; }
    read_exercise "$file" || { printf '%s\n' "$ex_problem"; return 0; }
    local at=${file##*/} test i log
    if [ -z "$ex_symptom" ] || [ ${#ex_hints[@]} -lt 2 ] || [ ${#ex_hints[@]} -gt 3 ]; then
        printf '%s: a learner needs a Symptom and two or three Hints (%d given)\n' "$at" ${#ex_hints[@]}
    fi
    if [ -n "$ex_kernel_run$ex_kernel_calls$ex_kernel_expect$ex_kernel_says" ] &&
        { [ -z "$ex_kernel_run" ] || [ -z "$ex_kernel_calls" ] || [ -z "$ex_kernel_expect" ] || [ -z "$ex_kernel_says" ]; }; then
        printf '%s: a kernel check needs all four of Kernel-run, Kernel-calls, Kernel-expect and Kernel-says\n' "$at"
    fi
    for test in "${ex_tests[@]}"; do
        [ "$suite" = no-suite ] || [ -n "$(test_file_of "$test")" ] || printf '%s: Test: the suite has no test named "%s"\n' "$at" "$test"
    done
    for (( i = 0; i <= ${#ex_wrongs[@]}; i++ )); do
        if ! log=$(exercise_diff "$i" | patch -p1 -s --dry-run -F 0 -N -r - -d "$root" 2>&1); then
            if [ "$i" -eq 0 ]; then
                printf '%s: the patch does not apply to the sources: %s\n' "$at" "$(tr '\n' ' ' <<< "$log")"
            else
                printf '%s: wrong mend %d (%s) does not apply to the sources as shipped: %s\n' "$at" "$i" \
                    "${ex_wrongs[i - 1]}" "$(tr '\n' ' ' <<< "$log")"
            fi
        fi
    done
}

# ./practice lint [FILE...]: every file of the set (or those named) checked without a build;
# status 1 when any has a problem.
lint() {
    local files=() file problems found=0
    if [ $# -gt 0 ]; then
        for file in "$@"; do
            [[ $file == /* ]] || file=$start_dir/$file
            [ -f "$file" ] || die "no exercise file $file"
            files+=("$file")
        done
    else
        mapfile -t files < <(patch_files)
        [ ${#files[@]} -gt 0 ] || die "no exercises in $exercise_dir"
    fi
    for file in "${files[@]}"; do
        problems=$(lint_file "$file")
        if [ -n "$problems" ]; then
            printf '%sFAILED%s %s\n' "$red" "$plain" "$problems"
            found=1
        else
            printf '%sok%s     %s\n' "$green" "$plain" "${file##*/}"
        fi
    done
    return "$found"
}
