#!/bin/sh
# Checks the release packages as a distribution would: the Debian package's files, owners, modes
# and control fields, the Debian changelog's newest entry, lintian's verdict, the manual page,
# what the packaged program says its version is, what the Windows zip and the web zip hold, and
# that the web page's font has all the characters the page shows; then the same of the hall's
# Debian package, with its service and the page it serves, and of the watcher's.
#   check_packages.sh DEB ZIP WEBZIP PAGE VERSION [HALLDEB HALLPAGE [WATCHDEB WATCHPAGE]]
# PAGE, HALLPAGE and WATCHPAGE are the manual pages the build made; VERSION is the project's, as
# the build has it.
set -u
deb=$1 zip=$2 web=$3 page=$4 version=$5 hall=${6:-} hall_page=${7:-} watch=${8:-} watch_page=${9:-}
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

# The web zip: the page, its two scripts and style sheet, its font with the font's licence, the
# game and our licence, the app's manifest, icons and service worker, all at the top, so the
# unpacked folder is the site.
same "the web zip's files" "DejaVu-LICENSE.txt
LICENSE.txt
hall.css
hall.html
hall.js
icon-192.png
icon-512.png
icon-maskable.png
icon.svg
index.html
manifest.webmanifest
marrowdeep-mono.woff2
marrowdeep.js
marrowdeep.wasm
page.css
play.js
player.html
player.js
run.html
run.js
service-worker.js
watch.css
watch.html
watch.js" "$(unzip -Z1 "$web" | LC_ALL=C sort)"

# The page's two scripts are whole: the first, written in index.html, imports only play.js, which
# imports no other file.
unzip -q "$web" -d "$scratch/web"
imports=$(grep -Eo '(import|from) *\(? *["'\'']\./[^"'\'']*' "$scratch/web/index.html" | sed 's/.*\.\///' | sort -u)
if [ "$imports" != "play.js" ]; then
    fail "index.html's script imports $(echo $imports) rather than play.js alone: it is not one bundle"
fi
if grep -Eq '(import|from) *\(? *["'\'']\./' "$scratch/web/play.js"; then
    fail "play.js imports files of its own: it is not one bundle"
fi
# The font has every character the page shows.
ttx -q -t cmap -o "$scratch/cmap.ttx" "$scratch/web/marrowdeep-mono.woff2"
node "$(dirname "$0")/page_characters.mjs" "$scratch/cmap.ttx" "$scratch/web/index.html" \
    "$scratch/web/play.js" "$scratch/web/page.css" || fail "the page's font lacks characters the page shows"

# The hall's package: the server, its manual page, its service, the page as the web zip has it,
# and the documents the game's package has.
if [ -n "$hall" ]; then
    site=./usr/share/marrowdeep-hall/site
    expected_hall=$( (
        printf '%s\n' 'drwxr-xr-x root/root ./usr/' \
            'drwxr-xr-x root/root ./usr/bin/' \
            '-rwxr-xr-x root/root ./usr/bin/marrowdeep-hall' \
            'drwxr-xr-x root/root ./usr/lib/' \
            'drwxr-xr-x root/root ./usr/lib/systemd/' \
            'drwxr-xr-x root/root ./usr/lib/systemd/system/' \
            '-rw-r--r-- root/root ./usr/lib/systemd/system/marrowdeep-hall.service' \
            'drwxr-xr-x root/root ./usr/share/' \
            'drwxr-xr-x root/root ./usr/share/doc/' \
            'drwxr-xr-x root/root ./usr/share/doc/marrowdeep-hall/' \
            '-rw-r--r-- root/root ./usr/share/doc/marrowdeep-hall/changelog.Debian.gz' \
            '-rw-r--r-- root/root ./usr/share/doc/marrowdeep-hall/changelog.gz' \
            '-rw-r--r-- root/root ./usr/share/doc/marrowdeep-hall/copyright' \
            'drwxr-xr-x root/root ./usr/share/lintian/' \
            'drwxr-xr-x root/root ./usr/share/lintian/overrides/' \
            '-rw-r--r-- root/root ./usr/share/lintian/overrides/marrowdeep-hall' \
            'drwxr-xr-x root/root ./usr/share/man/' \
            'drwxr-xr-x root/root ./usr/share/man/man8/' \
            '-rw-r--r-- root/root ./usr/share/man/man8/marrowdeep-hall.8.gz' \
            'drwxr-xr-x root/root ./usr/share/marrowdeep-hall/' \
            "drwxr-xr-x root/root $site/"
        unzip -Z1 "$web" | sed "s|^|-rw-r--r-- root/root $site/|"
    ) | sort -k3)
    same "the hall package's files" "$expected_hall" "$(dpkg-deb --contents "$hall" | awk '{print $1, $2, $6}' | sort -k3)"

    hall_field() { dpkg-deb --field "$hall" "$1"; }
    same "the hall's Package" marrowdeep-hall "$(hall_field Package)"
    same "the hall's Source" marrowdeep "$(hall_field Source)"
    same "the hall's Section" web "$(hall_field Section)"
    same "the hall's Version" "$version-1" "$(hall_field Version)"
    same "the hall's Architecture" amd64 "$(hall_field Architecture)"
    same "the hall's Maintainer" "The Marrowdeep team <team@marrowdeep.example>" "$(hall_field Maintainer)"
    [ "$(hall_field Description | wc -l)" -ge 3 ] || fail "the hall's description has no longer part"
    # Depends comes from dpkg-shlibdeps: the C and C++ libraries, SQLite's, PostgreSQL's and libcrypto's.
    depends=$(hall_field Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')
    for library in libc6 libstdc++6 libsqlite3-0 libpq5 libssl3; do
        printf '%s\n' "$depends" | grep -qxF "$library" || fail "the hall's Depends lacks $library: '$(hall_field Depends)'"
    done
    if ! lintian --allow-root --fail-on error,warning "$hall"; then
        fail "lintian reports errors or warnings for the hall's package"
    fi

    same "groff's warnings on the hall's page" "" "$(groff -man -ww -z "$hall_page" 2>&1)"
    same "man's warnings on the hall's page" "" "$(man --warnings -l "$hall_page" 2>&1 >/dev/null)"
    mkdir "$scratch/hall"
    dpkg-deb --extract "$hall" "$scratch/hall"
    zcat "$scratch/hall/usr/share/man/man8/marrowdeep-hall.8.gz" | cmp -s - "$hall_page" ||
        fail "the hall's packaged manual page differs"
    cmp -s "$scratch/hall/usr/share/doc/marrowdeep-hall/changelog.Debian.gz" \
        "$scratch/usr/share/doc/marrowdeep/changelog.Debian.gz" || fail "the two packages' Debian changelogs differ"
    printf 'marrowdeep-hall %s\n' "$version" >"$scratch/expected-hall-version"
    "$scratch/hall/usr/bin/marrowdeep-hall" --version >"$scratch/hall-version" 2>&1 ||
        fail "marrowdeep-hall --version fails"
    cmp -s "$scratch/expected-hall-version" "$scratch/hall-version" ||
        fail "marrowdeep-hall --version prints '$(cat "$scratch/hall-version")'"

    # The site is the web zip's page, byte for byte.
    diff -r "$scratch/web" "$scratch/hall/$site" >/dev/null || fail "the hall's site differs from the web zip"

    # The service runs the packaged program on the packaged site, as a user of its own with its
    # database in its state folder, and systemd finds nothing wrong with it.
    unit=$scratch/hall/usr/lib/systemd/system/marrowdeep-hall.service
    exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
    set -- $exec_start
    same "the program the service runs" /usr/bin/marrowdeep-hall "$1"
    same "the site the service serves" "--site ${site#.}" \
        "$(printf '%s\n' "$exec_start" | grep -o -- '--site [^ ]*')"
    for setting in DynamicUser=yes StateDirectory=marrowdeep-hall WorkingDirectory=/var/lib/marrowdeep-hall \
        ProtectSystem=strict NoNewPrivileges=yes; do
        grep -qx "$setting" "$unit" || fail "the service lacks $setting"
    done
    # systemd reads the unit as it is, but for the program, which is only in the package here; and
    # its hardening keeps the service's exposure at 2.0 or less on systemd's scale of 10.
    sed "s|^ExecStart=/usr/bin/|ExecStart=$scratch/hall/usr/bin/|" "$unit" >"$scratch/marrowdeep-hall.service"
    same "systemd's verdict on the service" "" \
        "$(systemd-analyze verify --man=no "$scratch/marrowdeep-hall.service" 2>&1)"
    if ! systemd-analyze security --offline=yes --threshold=20 "$scratch/marrowdeep-hall.service" >"$scratch/security" 2>&1; then
        fail "the service is exposed: $(tail -n 1 "$scratch/security")"
    fi
fi

# The watcher's package: the program beside the game, its manual page and the game's documents.
if [ -n "$watch" ]; then
    expected_watch='drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/games/
-rwxr-xr-x root/root ./usr/games/marrowdeep-watch
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/marrowdeep-watch/
-rw-r--r-- root/root ./usr/share/doc/marrowdeep-watch/changelog.Debian.gz
-rw-r--r-- root/root ./usr/share/doc/marrowdeep-watch/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/marrowdeep-watch/copyright
drwxr-xr-x root/root ./usr/share/lintian/
drwxr-xr-x root/root ./usr/share/lintian/overrides/
-rw-r--r-- root/root ./usr/share/lintian/overrides/marrowdeep-watch
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man6/
-rw-r--r-- root/root ./usr/share/man/man6/marrowdeep-watch.6.gz'
    same "the watcher package's files" "$expected_watch" \
        "$(dpkg-deb --contents "$watch" | awk '{print $1, $2, $6}' | sort -k3)"

    watch_field() { dpkg-deb --field "$watch" "$1"; }
    same "the watcher's Package" marrowdeep-watch "$(watch_field Package)"
    same "the watcher's Source" marrowdeep "$(watch_field Source)"
    same "the watcher's Section" games "$(watch_field Section)"
    same "the watcher's Version" "$version-1" "$(watch_field Version)"
    same "the watcher's Architecture" amd64 "$(watch_field Architecture)"
    same "the watcher's Maintainer" "The Marrowdeep team <team@marrowdeep.example>" "$(watch_field Maintainer)"
    [ "$(watch_field Description | wc -l)" -ge 3 ] || fail "the watcher's description has no longer part"
    # Depends comes from dpkg-shlibdeps: the C library and zlib (the run links), no more; the C++
    # library is linked in, as in the game.
    same "the watcher's Depends" "libc6
zlib1g" "$(watch_field Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | sort)"
    if ! lintian --allow-root --fail-on error,warning "$watch"; then
        fail "lintian reports errors or warnings for the watcher's package"
    fi

    same "groff's warnings on the watcher's page" "" "$(groff -man -ww -z "$watch_page" 2>&1)"
    same "man's warnings on the watcher's page" "" "$(man --warnings -l "$watch_page" 2>&1 >/dev/null)"
    mkdir "$scratch/watch"
    dpkg-deb --extract "$watch" "$scratch/watch"
    zcat "$scratch/watch/usr/share/man/man6/marrowdeep-watch.6.gz" | cmp -s - "$watch_page" ||
        fail "the watcher's packaged manual page differs"
    cmp -s "$scratch/watch/usr/share/doc/marrowdeep-watch/changelog.Debian.gz" \
        "$scratch/usr/share/doc/marrowdeep/changelog.Debian.gz" || fail "the watcher's Debian changelog differs"
    printf 'marrowdeep-watch %s\n' "$version" >"$scratch/expected-watch-version"
    "$scratch/watch/usr/games/marrowdeep-watch" --version >"$scratch/watch-version" 2>&1 ||
        fail "marrowdeep-watch --version fails"
    cmp -s "$scratch/expected-watch-version" "$scratch/watch-version" ||
        fail "marrowdeep-watch --version prints '$(cat "$scratch/watch-version")'"
fi

[ $failed -eq 0 ] && echo "the packages are as they should be"
exit $failed
