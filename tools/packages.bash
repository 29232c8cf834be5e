# Sourced by ./tour and ./check: find what tools/packages.list names for some groups, and
# install the missing packages with apt-get (through sudo when not root), printing the exact
# commands first. Nothing here runs by itself.

packages_list=$(dirname "${BASH_SOURCE[0]}")/packages.list

# Fill missing_names ("thing (package)") and missing_packages (each package once) with what
# groups $@ need and this machine lacks. When packages_things is set (words), only those things
# count: what the caller is about to use.
scan_missing() {
    local group thing package _
    missing_names=()
    missing_packages=()
    while read -r group thing package _; do
        [[ -z $group || $group == \#* ]] && continue
        [[ " $* " =~ \ (${group//,/|})\  ]] || continue # one of the line's groups is wanted
        [[ -z ${packages_things:-} || " $packages_things " == *" $thing "* ]] || continue
        if [[ $thing == /* ]]; then
            [ -e "$thing" ] && continue
        elif [[ $thing == *::* ]]; then # a Perl module: what counts is that it loads
            perl -M"$thing" -e 1 > /dev/null 2>&1 && continue
        else
            command -v "$thing" > /dev/null && continue
        fi
        missing_names+=("$thing ($package)")
        [[ " ${missing_packages[*]} " == *" $package "* ]] || missing_packages+=("$package")
    done < "$packages_list"
}

# The Debian package that holds thing $1 (a command, a file or a Perl module), from the list.
package_of() {
    local group thing package _
    while read -r group thing package _; do
        [[ $group != \#* && $thing == "$1" ]] && { echo "$package"; return 0; }
    done < "$packages_list"
    return 1
}

# Make sure the tools of groups $2... are here. $1 is the caller's name for messages; with
# packages_no_install=1 only report. Returns 0 when everything is here (installed now or
# before), 2 when something is missing and was not installed, 1 when installing failed.
ensure_packages() {
    local who=$1
    shift
    scan_missing "$@"
    [ ${#missing_packages[@]} -eq 0 ] && return 0

    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    # Without sudo only root can install: the advice says so, rather than show a sudo that
    # cannot work.
    local how="install them with" as_root=0
    if [ ${#sudo[@]} -gt 0 ] && ! command -v sudo > /dev/null; then
        sudo=() how="install them as root with" as_root=1
    fi
    local update=("${sudo[@]}" apt-get update)
    local install=("${sudo[@]}" apt-get install -y --no-install-recommends "${missing_packages[@]}")

    printf '%s: missing: %s\n' "$who" "${missing_names[*]}" >&2
    if [ "${packages_no_install:-0}" = 1 ] || ! command -v apt-get > /dev/null || [ "$as_root" -eq 1 ]; then
        printf '%s: %s: %s && %s\n' "$who" "$how" "${update[*]}" "${install[*]}" >&2
        return 2
    fi
    printf '%s: running: %s\n' "$who" "${update[*]}" >&2
    printf '%s: running: %s\n' "$who" "${install[*]}" >&2
    # As root nothing may ask a question (CI has no input); sudo may need to ask for a password.
    local input=/dev/null
    [ ${#sudo[@]} -eq 0 ] || input=/dev/stdin
    if ! DEBIAN_FRONTEND=noninteractive "${update[@]}" < "$input" > /dev/null ||
        ! DEBIAN_FRONTEND=noninteractive "${install[@]}" < "$input"; then
        printf '%s: installing failed\n' "$who" >&2
        return 1
    fi
    scan_missing "$@"
    if [ ${#missing_packages[@]} -gt 0 ]; then
        printf '%s: still missing after installing: %s\n' "$who" "${missing_names[*]}" >&2
        return 1
    fi
}
