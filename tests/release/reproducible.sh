#!/bin/sh
# Builds the release packages once more with the package command, from a copy of the source
# tree in another folder, in another time zone and locale and with another umask, and checks
# that it gives the very same bytes as the packages of the build that runs this check. On a
# difference it lists each package's members with their sums, both builds side by side.
#   reproducible.sh SOURCE_DIR SCRATCH_DIR BUILT_DIR PACKAGE...
# BUILT_DIR holds this build's packages; the PACKAGEs are the file names the package command
# gives them.
set -u
source=$1 scratch=$2 built=$3
shift 3
rm -rf "$scratch"
mkdir -p "$scratch"

# A copy of the tree as a checkout holds it: the sources and git's history, no build folders.
build() { # folder, time zone, locale, umask
    mkdir -p "$1"
    tar -C "$source" --exclude=./out -cf - . | tar -C "$1" -xf -
    if ! (cd "$1" && umask "$4" && env -u SOURCE_DATE_EPOCH TZ="$2" LC_ALL="$3" LANG="$3" \
        cmake --workflow --preset package) >"$1.log" 2>&1; then
        echo "FAIL: the package command failed in $1:"
        tail -n 40 "$1.log"
        exit 1
    fi
}
first=$built
second=$scratch/second/a/longer/way
build "$second" Pacific/Kiritimati C.UTF-8 077

# Every member of a package, as "package:member sum", members of members too, then the
# archive's own listing (names, modes, owners, sizes, times).
members() { # package file
    work=$(mktemp -d)
    case $1 in
    *.deb)
        (cd "$work" && ar x "$1")
        for m in $(ar t "$1"); do
            echo "$m $(sha256sum <"$work/$m" | cut -c1-64)"
            case $m in *.tar*)
                mkdir "$work/$m.d"
                tar -xf "$work/$m" -C "$work/$m.d"
                (cd "$work/$m.d" && find . -type f | LC_ALL=C sort | while read -r f; do
                    echo "$m:$f $(sha256sum <"$f" | cut -c1-64)"
                done)
                tar -tvf "$work/$m" | sed "s|^|$m: |"
                ;;
            esac
        done
        ;;
    *.zip)
        unzip -q "$1" -d "$work/zip"
        (cd "$work/zip" && find . -type f | LC_ALL=C sort | while read -r f; do
            echo "$f $(sha256sum <"$f" | cut -c1-64)"
        done)
        zipinfo -v "$1" | grep -v 'offset\|^Archive'
        ;;
    esac
    rm -rf "$work"
}

failed=0
for package in "$@"; do
    a=$first/$package b=$second/out/package/$package
    if [ ! -f "$a" ] || [ ! -f "$b" ]; then
        echo "FAIL: $package was not made by both builds"
        failed=1
        continue
    fi
    sum_a=$(sha256sum <"$a" | cut -c1-64) sum_b=$(sha256sum <"$b" | cut -c1-64)
    if [ "$sum_a" = "$sum_b" ]; then
        echo "$package: the same in both builds, sha256 $sum_a"
    else
        failed=1
        echo "FAIL: $package differs: $sum_a in $first, $sum_b in $second"
        members "$a" >"$scratch/first.members"
        members "$b" >"$scratch/second.members"
        diff "$scratch/first.members" "$scratch/second.members"
    fi
done
[ $failed -eq 0 ] && rm -rf "$scratch"
exit $failed
