#!/bin/sh
# Checks the three release packages as a distribution would: the Debian package's files, owners,
# modes and control fields, the Debian changelog's newest entry, lintian's verdict, the manual
# page, what the packaged program says its version is, what the Windows zip and the web zip hold,
# and that the web page's font has all the characters the page shows.
#   check_packages.sh DEB ZIP WEBZIP PAGE VERSION
# PAGE is the manual page the build made; VERSION is the project's, as the build has it.
set -u
deb=$1 zip=$2 web=$3 page=$4 version=$5
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}
same() { # what, expected, got
    if [ "$2" != "$3" ]; then
        fail "$1"
        printf 'expected:\n%s\ngot:\n%s\n' "$2" "$3"
    fi
}

# The files, with their modes and owners.
expected_files='drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/games/
-rwxr-xr-x root/root ./usr/games/marrowdeep
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/marrowdeep/
-rw-r--r-- root/root ./usr/share/doc/marrowdeep/changelog.Debian.gz
-rw-r--r-- root/root ./usr/share/doc/marrowdeep/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/marrowdeep/copyright
drwxr-xr-x root/root ./usr/share/lintian/
drwxr-xr-x root/root ./usr/share/lintian/overrides/
-rw-r--r-- root/root ./usr/share/lintian/overrides/marrowdeep
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man6/
-rw-r--r-- root/root ./usr/share/man/man6/marrowdeep.6.gz'
same "the package's files" "$expected_files" "$(dpkg-deb --contents "$deb" | awk '{print $1, $2, $6}' | sort -k3)"

# The control fields.
field() { dpkg-deb --field "$deb" "$1"; }
same "Package" marrowdeep "$(field Package)"
same "Version" "$version-1" "$(field Version)"
same "Architecture" amd64 "$(field Architecture)"
same "Section" games "$(field Section)"
same "Priority" optional "$(field Priority)"
same "Maintainer" "The Marrowdeep team <team@marrowdeep.example>" "$(field Maintainer)"
same "the one-line description" "turn-based dungeon crawler for the text terminal" \
    "$(field Description | head -n 1)"
[ "$(field Description | wc -l)" -ge 3 ] || fail "no longer description"
# Depends comes from dpkg-shlibdeps: the program needs the C library only.
field Depends | grep -Eq '^libc6 \(>= [0-9.]+\)$' || fail "Depends is '$(field Depends)'"

# Lintian: no error and no warning.
if ! lintian --allow-root --fail-on error,warning "$deb"; then
    fail "lintian reports errors or warnings"
fi

# The manual page: no warning from groff or man, and the package carries the page as the build
# made it.
same "groff's warnings" "" "$(groff -man -ww -z "$page" 2>&1)"
same "man's warnings" "" "$(man --warnings -l "$page" 2>&1 >/dev/null)"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb --fsys-tarfile "$deb" | tar -xf - -C "$scratch" ./usr/share/man/man6/marrowdeep.6.gz \
    ./usr/share/doc/marrowdeep/changelog.Debian.gz ./usr/games/marrowdeep
zcat "$scratch/usr/share/man/man6/marrowdeep.6.gz" | cmp -s - "$page" || fail "the packaged manual page differs"

# The Debian changelog is written by hand: its newest entry must be this version's package.
zcat "$scratch/usr/share/doc/marrowdeep/changelog.Debian.gz" >"$scratch/changelog"
same "the Debian changelog's newest version" "$version-1" \
    "$(dpkg-parsechangelog -l "$scratch/changelog" -S Version 2>&1)"

# The packaged program names its version: one line, status 0.
printf 'marrowdeep %s\n' "$version" >"$scratch/expected-version"
"$scratch/usr/games/marrowdeep" --version >"$scratch/version" 2>&1
status=$?
same "the status of marrowdeep --version" 0 "$status"
if ! cmp -s "$scratch/expected-version" "$scratch/version"; then
    fail "marrowdeep --version does not print 'marrowdeep $version' and a line end; it prints:"
    od -c "$scratch/version"
fi

# The zip: the Windows program and its two documents, nothing else.
same "the zip's files" "LICENSE.txt
README.txt
marrowdeep-win.exe" "$(unzip -Z1 "$zip" | LC_ALL=C sort)"

# The web zip: the page, its one script and style sheet, its font with the font's licence, the
# game and our licence, the app's manifest, icons and service worker, all at the top, so the
# unpacked folder is the site.
same "the web zip's files" "DejaVu-LICENSE.txt
LICENSE.txt
icon-192.png
icon-512.png
icon-maskable.png
icon.svg
hall.css
hall.html
hall.js
index.html
manifest.webmanifest
marrowdeep-mono.woff2
marrowdeep.js
marrowdeep.wasm
page.css
page.js
service-worker.js" "$(unzip -Z1 "$web" | LC_ALL=C sort)"

# The page's script is whole: it imports no other file.
unzip -q "$web" -d "$scratch/web"
if grep -Eq '(import|from) *\(? *["'\'']\./' "$scratch/web/page.js"; then
    fail "page.js imports files of its own: it is not one bundle"
fi
# The font has every character the page shows.
ttx -q -t cmap -o "$scratch/cmap.ttx" "$scratch/web/marrowdeep-mono.woff2"
node "$(dirname "$0")/page_characters.mjs" "$scratch/cmap.ttx" "$scratch/web/index.html" "$scratch/web/page.js" \
    "$scratch/web/page.css" || fail "the page's font lacks characters the page shows"

[ $failed -eq 0 ] && echo "the packages are as they should be"
exit $failed
