#!/bin/sh
# The live games' benchmark against real halls: starts them, runs bench/live on them, stops them.
#
#   bench/live.sh [--build DIR] [--postgres] [--two-halls] [-- live's options]
#
# By default one hall on SQLite (in a temporary folder). --postgres: on a PostgreSQL cluster of
# pg_virtualenv's own (the script runs itself again under pg_virtualenv when no PGPORT is set).
# --two-halls (PostgreSQL only): two halls on the one database, the players on the first and
# the watchers on the second. Each hall takes 2,000 connections. DIR is the default preset's
# build (out/build/default); live's options go after `--` (--seconds S, --warm-up S, ...).
set -eu

build=out/build/default
postgres=no
two=no
# Under pg_virtualenv first, the arguments as they came.
if [ -z "${PGPORT:-}" ]; then
    for argument in "$@"; do
        case "$argument" in
        --) break ;;
        --postgres) exec pg_virtualenv "$0" "$@" ;;
        esac
    done
fi
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=$2; shift 2 ;;
    --postgres) postgres=yes; shift ;;
    --two-halls) two=yes; shift ;;
    --) shift; break ;;
    *) echo "bench/live.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
if [ "$two" = yes ] && [ "$postgres" = no ]; then
    echo "bench/live.sh: two halls share a PostgreSQL database: add --postgres" >&2
    exit 2
fi

hall_program=$build/hall/marrowdeep-hall
live_program=$build/bench/live
for program in "$hall_program" "$live_program"; do
    [ -x "$program" ] || { echo "bench/live.sh: $program is not built" >&2; exit 2; }
done

folder=$(mktemp -d "${TMPDIR:-/tmp}/marrowdeep-live-bench-XXXXXX")
pids=""
stop_halls() {
    for pid in $pids; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in $pids; do wait "$pid" 2>/dev/null || true; done
    pids=""
}
trap 'stop_halls; rm -rf "$folder"' EXIT INT TERM

database_pid=""
if [ "$postgres" = yes ]; then
    db="postgresql://${PGUSER}@${PGHOST:-127.0.0.1}:${PGPORT}/${PGDATABASE:-postgres}"
    # The server's first process, for its processor time.
    data=$(psql -Atc "SHOW data_directory" 2>/dev/null || true)
    if [ -n "$data" ] && [ -r "$data/postmaster.pid" ]; then database_pid=$(head -n 1 "$data/postmaster.pid"); fi
else
    db="sqlite:$folder/hall.db"
fi

# Starts a hall on the database; sets `url` and `pid` once it listens.
start_hall() {
    log=$folder/hall-$1.log
    : >"$log"
    "$hall_program" --listen 127.0.0.1:0 --db "$db" --connections 2000 2>"$log" &
    pid=$!
    pids="$pids $pid"
    tries=0
    while ! grep -q "listening on http://127.0.0.1:" "$log"; do
        tries=$((tries + 1))
        if [ $tries -gt 300 ] || ! kill -0 "$pid" 2>/dev/null; then
            echo "bench/live.sh: the hall did not start:" >&2
            cat "$log" >&2
            exit 1
        fi
        sleep 0.1
    done
    url=$(grep -o "http://127.0.0.1:[0-9]*" "$log" | head -n 1)
}

[ -z "$database_pid" ] || set -- --db-pid "$database_pid" "$@"
start_hall players
play_url=$url
play_pid=$pid
if [ "$two" = yes ]; then
    start_hall watchers
    echo "Players' hall: $play_url (pid $play_pid); watchers' hall: $url (pid $pid); $db"
    status=0
    "$live_program" --play "$play_url" --play-pid "$play_pid" --watch "$url" --watch-pid "$pid" "$@" || status=$?
else
    echo "One hall: $play_url (pid $play_pid); ${db%%:*}"
    status=0
    "$live_program" --play "$play_url" --play-pid "$play_pid" "$@" || status=$?
fi
stop_halls
if [ "$status" -ne 0 ]; then
    echo "bench/live.sh: the benchmark failed ($status); the halls' logs, requests aside:" >&2
    grep -hv '^[0-9-]*T[0-9:]*Z ' "$folder"/hall-*.log | tail -n 20 >&2
fi
exit "$status"
