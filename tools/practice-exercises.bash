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

# Set variable $1 to the name of exercise file $2: without the folder, the order number and
# .patch. (No subshell: it runs in loops over the set.)
set_exercise_name() {
    local base=${2##*/}
    base=${base%.patch}
    [[ $base =~ ^[0-9]+-(.+)$ ]] && base=${BASH_REMATCH[1]}
    printf -v "$1" '%s' "$base"
}

# The name of exercise file $1.
exercise_name() {
    local name
    set_exercise_name name "$1"
    printf '%s\n' "$name"
}

# The exercise files: the patch files with a usable name, the first of each name (the others
# are named by skipped_files).
exercise_files() {
    local file name seen=' '
    while read -r file; do
        set_exercise_name name "$file"
        if ! valid_name "$name" || [[ $seen == *" $name "* ]]; then continue; fi
        seen+="$name "
        printf '%s\n' "$file"
    done < <(patch_files)
}

# Why a file named $1 is never used: file $2, which comes first, has its name.
name_taken() {
    printf "the name '%s' is %s's too, which comes first: this file is never used\n" "$1" "$2"
}

# The patch files skipped for their names, each with the reason, one a line.
skipped_files() {
    local file name
    local -A first=()
    while read -r file; do
        set_exercise_name name "$file"
        if ! valid_name "$name"; then
            printf '%s: skipped, %s\n' "${file##*/}" "$name_rule"
        elif [ -n "${first[$name]:-}" ]; then
            printf '%s: skipped, %s\n' "${file##*/}" "$(name_taken "$name" "${first[$name]}")"
        else
            first[$name]=${file##*/}
        fi
    done < <(patch_files)
}

# What is wrong with the name of exercise file $1, if anything: one the runner cannot use, or one
# that a file of its folder which comes first has too.
name_problem() {
    local name other other_name
    set_exercise_name name "$1"
    valid_name "$name" || { printf '%s\n' "$name_rule"; return 0; }
    while read -r other; do
        [ "${other##*/}" != "${1##*/}" ] || return 0
        set_exercise_name other_name "$other"
        [ "$other_name" != "$name" ] || { name_taken "$name" "${other##*/}"; return 0; }
    done < <(find "$(dirname -- "$1")" -maxdepth 1 -name '*.patch' -type f | LC_ALL=C sort)
}

exercise_names() {
    local file
    while read -r file; do exercise_name "$file"; done < <(exercise_files)
}

# The file of exercise $1, or nothing.
exercise_file() {
    local file name
    while read -r file; do
        set_exercise_name name "$file"
        [ "$name" = "$1" ] && { printf '%s\n' "$file"; return 0; }
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

# True when file $1 (a path in the sources) is one of program $2's: its source (or any file of
# its name in its folder), or its folder's build file.
program_owns() {
    local stop folder
    for stop in "$root"/*/"$2".tour; do
        [[ $stop == "$root"/tools/* ]] && continue
        folder=${stop%/*}
        folder=${folder##*/}
        [[ $1 == "$folder/$2".* || $1 == "$folder/CMakeLists.txt" ]] && return 0
    done
    return 1
}

# Read exercise file $1 into ex_* variables: the header's fields, the files its patch changes
# and its wrong mends (ex_wrongs, their descriptions). Status 1, with ex_problem saying where
# and what, when the file cannot be used.
read_exercise() {
    ex_file=$1 ex_problem='' ex_programs_line=0
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
            Programs) read -r -a ex_programs <<< "$value"; ex_programs_line=$number ;;
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
# name (usable, and no earlier file's), its fields, its patch changing a file of its programs,
# its tests in the suite (not when $2 is "no-suite": the judge says it), its patch and its wrong
# mends applying to the sources.
lint_file() {
    local file=$1 suite=${2:-} problem
    problem=$(name_problem "$file")
    [ -z "$problem" ] || { printf '%s: %s\n' "${file##*/}" "$problem"; return 0; }
    read_exercise "$file" || { printf '%s\n' "$ex_problem"; return 0; }
    local at=${file##*/} test i log program changed owned=0
    # Only the programs named are built from a learner's copy: a patch that changes none of their
    # files would be judged on the programs as shipped.
    for program in "${ex_programs[@]}"; do
        for changed in "${ex_files[@]}"; do program_owns "$changed" "$program" && owned=1; done
    done
    [ "$owned" -eq 1 ] || printf '%s line %d: Programs: the patch changes no file of %s (it changes %s)\n' \
        "$at" "$ex_programs_line" "${ex_programs[*]}" "${ex_files[*]}"
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
