# shellcheck shell=bash
# Sourced by ./tour: --predict, a question before a stop's run and its answer taken from the
# run. A stop file says
#   predict QUESTION CHOICE...   before the run that decides it. A choice that starts with a
#                                number or a range of numbers ("3", "2 to 5", "4 or more",
#                                "fewer than 10", "none") also takes a learner's number.
#   predict --varies QUESTION CHOICE...
#                                the same, for a question whose answer differs from run to run
#                                (the scheduler's choice, a time): asked and answered, not scored.
#   answer RIGHT WHERE           after that run: RIGHT is the choice that held, or a number that
#                                falls in one; WHERE points at the line of the run that decides it.
# With --predict and a terminal on standard input the learner answers (a letter, or a number),
# the verdict follows the run, and a score ends the tour; without a terminal each question is
# shown with its answer. A page (--html) shows every question, its answer folded away.

predicting=0 # 1 under --predict
learner=     # 1 when a person answers: --predict, on the terminal, with a terminal on input
asked=0 predicted=0 judged=0 # questions asked, predictions that held, verdicts given
question_open=0 question_choices=() question_guess='' question_varies=0

predict() {
    [ "$predicting" -eq 1 ] || [ "$medium" = html ] || return 0
    question_varies=0
    [ "$1" = --varies ] && { question_varies=1; shift; }
    question_open=1 question_choices=("${@:2}") question_guess=''
    emit question "$@"
    if [ "$question_varies" -eq 1 ]; then
        emit varies # shown by no renderer: for the proof of the answers (tests/prove-answers)
        note "(its answer differs from run to run: it is not scored)"
    fi
    [ -n "$learner" ] || return 0
    [ "$question_varies" -eq 1 ] || asked=$((asked + 1))
    local reply tries
    for (( tries = 0; tries < 5; tries++ )); do
        emit prompt "your prediction: a letter$(any_range && echo ', or a number')"
        # The terminal as the tour has it: reopened by its name it may be out of reach (a terminal
        # of root's, where su made the learner another user).
        IFS= read_reply || return 0 # no more input: the question stays unanswered
        reply=$reply_line
        question_guess=$(reply_choice "$reply") && return 0
        emit note "(not a choice: type a letter from a to ${letters:${#question_choices[@]}-1:1}$(
            any_range && echo ', or a number one of them holds'))"
    done
}

# The verdict, once the run has decided. A question the stop could not ask (a tool missing, a
# server that did not start) gets none.
answer() {
    [ "$question_open" -eq 1 ] || return 0
    question_open=0
    local right verdict
    if ! right=$(choice_index "$1"); then
        emit answer undecided '' '' "$2"
        return 0
    fi
    if [ -z "$learner" ]; then
        verdict=shown
    elif [ -z "$question_guess" ]; then
        verdict=unanswered
    elif [ "$question_guess" -eq "$right" ]; then
        verdict=held
        [ "$question_varies" -eq 1 ] || predicted=$((predicted + 1))
    else
        verdict=missed
    fi
    [ -n "$learner" ] && [ "$question_varies" -eq 0 ] && judged=$((judged + 1))
    emit answer "$verdict" "$(choice_text "$right")" "$(choice_text "$question_guess")" "$2"
}

score() { # at the end of the tour
    [ -n "$learner" ] && [ "$asked" -gt 0 ] && emit score "$predicted" "$asked"
    return 0
}

score_so_far() { # when the tour is interrupted: the questions the runs decided until then
    [ -n "$learner" ] && [ "$judged" -gt 0 ] && printf 'Predictions so far: %d of %d predicted.\n' "$predicted" "$judged"
    return 0
}

letters=abcdefghijklmnopqrstuvwxyz # of the choices, in order

choice_text() { # "b) 3" for index 1, nothing for none
    [ -n "$1" ] || return 0
    printf '%s) %s' "${letters:$1:1}" "${question_choices[$1]}"
}

# The lowest and highest number choice $1 stands for ("-" when it stands for no number).
choice_range() {
    local re='^(none|fewer than ([0-9]+)|([0-9]+)( to ([0-9]+)| or more)?)($|[ :,(])'
    [[ $1 =~ $re ]] || { echo -; return 0; }
    case ${BASH_REMATCH[1]} in
        none) echo 0 0 ;;
        fewer*) echo 0 $((BASH_REMATCH[2] - 1)) ;;
        *' or more') echo "${BASH_REMATCH[3]}" 999999999 ;;
        *' to '*) echo "${BASH_REMATCH[3]}" "${BASH_REMATCH[5]}" ;;
        *) echo "${BASH_REMATCH[3]}" "${BASH_REMATCH[3]}" ;;
    esac
}

any_range() {
    local choice
    for choice in "${question_choices[@]}"; do [ "$(choice_range "$choice")" != - ] && return 0; done
    return 1
}

# The index of the choice that is $1 word for word, or that holds number $1.
choice_index() {
    local i low high
    for i in "${!question_choices[@]}"; do [ "${question_choices[i]}" = "$1" ] && echo "$i" && return 0; done
    [[ $1 =~ ^[0-9]+$ ]] || return 1
    for i in "${!question_choices[@]}"; do
        read -r low high <<< "$(choice_range "${question_choices[i]}")"
        [ "$low" != - ] && (( 10#$1 >= low && 10#$1 <= high )) && echo "$i" && return 0
    done
    return 1
}

# The index of the choice a learner's reply names: its letter, or a number one holds.
reply_choice() {
    local reply=${1//[[:space:]]/}
    if [[ $reply =~ ^[a-zA-Z]$ ]]; then
        local before=${letters%%"${reply,}"*}
        [ "${#before}" -lt "${#question_choices[@]}" ] && echo "${#before}"
    elif [[ $reply =~ ^[0-9]{1,9}$ ]] && any_range; then
        choice_index "$reply"
    else
        return 1
    fi
}
