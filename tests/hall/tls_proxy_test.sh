#!/usr/bin/env bash
# The real hall behind nginx over HTTPS, set up by doc/nginx-hall.conf itself: the file's
# placeholders (name, certificate, ports) are replaced with sed, so the file as committed is what
# runs. A throwaway certificate for localhost, nginx and the hall on 127.0.0.1, then curl checks
# that the hall answers through nginx, takes runs from its public origin only, and counts each
# client's runs by the client's own address, which only X-Forwarded-For from nginx tells it.
#
# Usage: tls_proxy_test.sh HALL_PROGRAM LINK_TOOL VERSION NGINX_CONF
# Exits 77 (skipped) when nginx, openssl or curl is not installed.
set -u

hall_program=$1 link_tool=$2 version=$3 conf=$4

nginx=$(PATH=$PATH:/usr/sbin:/sbin command -v nginx) || { echo "SKIP: nginx is not installed"; exit 77; }
for tool in openssl curl; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
hall_pid='' nginx_pid=''

stop() {
  local pid=$1
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}
cleanup() {
  stop "$nginx_pid"
  stop "$hall_pid"
  rm -rf "$work"
}
trap cleanup EXIT

show() {
  local file
  for file in "$@"; do
    [ -f "$file" ] && { echo "--- ${file#"$work"/}"; cat "$file"; echo; }
  done
}
fail() {
  echo "FAIL: $*"
  show "$work/hall.log" "$work/nginx-error.log" "$work/nginx.out"
  exit 1
}

# The run of the hall's own tests: the hero "hero", seed 42, Strength, then q on the first map,
# as the page's link carries it for this version of the game.
hex() { od -An -tx1 | tr -d ' \n'; }
link=$(printf 'W %s - %s\n' "$(printf 'hero\nn\n42\n1\nq' | hex)" "$(printf '%s' "$version" | hex)" | "$link_tool")
[ -n "$link" ] || fail "the link tool wrote no link"

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=localhost -addext subjectAltName=DNS:localhost \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>"$work/openssl.out" ||
  { show "$work/openssl.out"; fail "openssl could not make a certificate"; }

# Waits for a command to succeed, 20 seconds at most; a machine twice as slow as any seen takes
# well under a second.
wait_for() {
  local end=$((SECONDS + 20))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}
running() { kill -0 "$1" 2>/dev/null; }

# Ports below the range the system hands out for port 0, so they do not meet the ports of other
# tests' halls; one already taken makes nginx fail, and another try picks others.
pick_port() { echo $((20000 + RANDOM % 12000)); }

start_hall() {
  # Emptied before the hall starts, so that a line from an earlier try is never taken for this one's.
  : >"$work/hall.log"
  # The clock held still: a run spent from an address never comes back during the test, however
  # slow the machine.
  MARROWDEEP_HALL_TEST_CLOCK=1765238400 "$hall_program" --listen 127.0.0.1:0 --db "sqlite:$work/hall.db" \
    --trust-proxy 127.0.0.1 --origin "https://localhost:$tls_port" --rate 1 2>"$work/hall.log" &
  hall_pid=$!
  hall_listening() { grep -q 'listening on http://127.0.0.1:[0-9]' "$work/hall.log" || ! running "$hall_pid"; }
  wait_for hall_listening || fail "the hall did not start"
  running "$hall_pid" || fail "the hall stopped at start"
  hall_port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/hall.log" | head -n 1)
  [ -n "$hall_port" ] || fail "the hall did not say its port"
}

render_conf() {
  sed -e "s|/etc/letsencrypt/live/halls.example/fullchain.pem|$work/cert.pem|" \
      -e "s|/etc/letsencrypt/live/halls.example/privkey.pem|$work/key.pem|" \
      -e "s|halls\.example|localhost|g" \
      -e "s|listen 443 ssl;|listen 127.0.0.1:$tls_port ssl;|" \
      -e "s|listen 80;|listen 127.0.0.1:$plain_port;|" \
      -e '/listen \[::\]:/d' \
      -e "s|server 127.0.0.1:8080;|server 127.0.0.1:$hall_port;|" \
      "$conf" >"$work/hall.conf"
  # Each placeholder must have been found: a change to the file that this misses would otherwise
  # leave nginx listening on 443 or proxying to 8080, and the test testing something else.
  local line
  for line in "listen 127.0.0.1:$tls_port ssl;" "listen 127.0.0.1:$plain_port;" "server 127.0.0.1:$hall_port;" \
              "ssl_certificate     $work/cert.pem;" "ssl_certificate_key $work/key.pem;"; do
    grep -qF "$line" "$work/hall.conf" ||
      fail "doc/nginx-hall.conf no longer has the line this test turns into \"$line\""
  done
  # Whole words only: the ports picked may hold 8080 or 443 among their digits (28080, 24431).
  if grep -v '^[[:space:]]*#' "$work/hall.conf" | grep -qwE 'halls\.example|8080|443|letsencrypt|listen 80'; then
    fail "a placeholder of doc/nginx-hall.conf was left in: $(grep -v '^[[:space:]]*#' "$work/hall.conf" |
      grep -wE 'halls\.example|8080|443|letsencrypt|listen 80')"
  fi
  local user=
  [ "$(id -u)" = 0 ] && user="user root;"
  cat >"$work/nginx.conf" <<EOF
daemon off;
worker_processes 1;
$user
pid $work/nginx.pid;
error_log $work/nginx-error.log info;
events { worker_connections 64; }
http {
    access_log $work/nginx-access.log;
    client_body_temp_path $work/nginx-body;
    proxy_temp_path $work/nginx-proxy;
    fastcgi_temp_path $work/nginx-fastcgi;
    uwsgi_temp_path $work/nginx-uwsgi;
    scgi_temp_path $work/nginx-scgi;
    include $work/hall.conf;
}
EOF
}

curl_tls() {
  curl -sS --max-time 30 --cacert "$work/cert.pem" --resolve "localhost:$tls_port:127.0.0.1" "$@"
}
# Until nginx is up, or has stopped. While nginx still tries to bind a port that another program
# holds, that program may take the connection and never answer: each try gives up after 2 seconds.
health_through_nginx() {
  ! running "$nginx_pid" ||
    [ "$(curl_tls --max-time 2 -o /dev/null -w '%{http_code}' "https://localhost:$tls_port/api/health" 2>/dev/null)" = 200 ]
}

started=
for _ in 1 2 3 4 5 6 7 8; do
  tls_port=$(pick_port) plain_port=$(pick_port)
  [ "$tls_port" != "$plain_port" ] || continue
  start_hall
  render_conf
  rm -f "$work/nginx-error.log"
  "$nginx" -p "$work" -c "$work/nginx.conf" -e "$work/nginx-error.log" >"$work/nginx.out" 2>&1 &
  nginx_pid=$!
  wait_for health_through_nginx || fail "nginx did not answer in 20 seconds"
  if running "$nginx_pid"; then
    started=yes
    break
  fi
  wait "$nginx_pid" 2>/dev/null
  nginx_pid=
  grep -q 'Address already in use' "$work/nginx-error.log" "$work/nginx.out" 2>/dev/null ||
    fail "nginx stopped at start"
  echo "ports $tls_port or $plain_port taken; trying others"
  stop "$hall_pid"
  hall_pid=
done
[ -n "$started" ] || fail "no free ports found in 8 tries"

# request NAME CURL-ARGUMENTS...: the status, with the answer's headers in NAME.head and its
# body in NAME.body.
request() {
  local name=$1
  shift
  curl_tls -o "$work/$name.body" -D "$work/$name.head" -w '%{http_code}' "$@" || echo "(curl failed)"
}
expect() {
  local name=$1 want=$2 got=$3
  [ "$got" = "$want" ] || { show "$work/$name.head" "$work/$name.body"; fail "$name: status $got, not $want"; }
}
body_has() {
  grep -qF -- "$2" "$work/$1.body" || { show "$work/$1.head" "$work/$1.body"; fail "$1: the answer has no $2"; }
}

runs="https://localhost:$tls_port/api/runs"
own="Origin: https://localhost:$tls_port"

status=$(request health "https://localhost:$tls_port/api/health")
expect health 200 "$status"
body_has health "{\"ok\":true,\"version\":\"$version\""

# Plain HTTP is sent on to HTTPS.
status=$(curl -sS --max-time 30 -o /dev/null -D "$work/plain.head" -w '%{http_code}' \
  -H "Host: localhost:$plain_port" "http://127.0.0.1:$plain_port/api/health") || status="(curl failed)"
expect plain 301 "$status"
grep -qi '^Location: https://localhost/api/health' "$work/plain.head" ||
  { show "$work/plain.head"; fail "plain: not sent on to https"; }

# A page of another site may not send runs; this is refused before the run counts.
status=$(request elsewhere -H "Origin: https://elsewhere.example" --data-binary "$link" "$runs")
expect elsewhere 403 "$status"

# A page of the hall's public origin may.
status=$(request first -H "$own" --data-binary "$link" "$runs")
expect first 201 "$status"
body_has first '"name":"hero","seed":42,'

# Two other clients: with one run a minute, each has its own, counted by its own address. The
# second run from 127.0.0.2 names another address in X-Forwarded-For; the hall takes the address
# nginx put last, and refuses it all the same.
status=$(request second -H "$own" --interface 127.0.0.2 --data-binary "$link" "$runs")
expect second 200 "$status"
body_has second '"name":"hero","seed":42,'
status=$(request again -H "$own" -H "X-Forwarded-For: 127.0.0.9" --interface 127.0.0.2 \
  --data-binary "$link" "$runs")
expect again 429 "$status"
grep -qi '^Retry-After: [0-9]' "$work/again.head" || { show "$work/again.head"; fail "again: no Retry-After"; }
status=$(request third -H "$own" --interface 127.0.0.3 --data-binary "$link" "$runs")
expect third 200 "$status"

# Bodies: one under nginx's limit but over the hall's reaches the hall and gets the hall's own
# answer; a larger one is stopped by nginx.
head -c 75000 /dev/zero | tr '\0' A >"$work/over-hall"
head -c 100000 /dev/zero | tr '\0' A >"$work/over-nginx"
status=$(request over-hall -H "$own" --interface 127.0.0.4 --data-binary "@$work/over-hall" "$runs")
expect over-hall 413 "$status"
body_has over-hall '{"error":'
status=$(request over-nginx -H "$own" --interface 127.0.0.4 --data-binary "@$work/over-nginx" "$runs")
expect over-nginx 413 "$status"
body_has over-nginx '413 Request Entity Too Large'  # nginx's own page, not the hall's JSON

# A live game's socket: nginx passes the upgrade on, and the hall answers it (101), with no
# game to watch; the hall then closes the socket itself, which curl takes as an error.
status=$(curl_tls --http1.1 --max-time 5 -o /dev/null -w '%{http_code}' -H "Connection: Upgrade" \
  -H "Upgrade: websocket" -H "Sec-WebSocket-Version: 13" -H "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==" \
  "https://localhost:$tls_port/api/live/0123/watch" 2>/dev/null) || true
[ "$status" = 101 ] || fail "live: status $status, not 101: nginx did not pass the upgrade on"
wait_for grep -qF " GET /api/live/0123/watch 101 " "$work/hall.log" || fail "live: the hall did not take the upgrade"

# The hall's log names each client by its own address: the forwarded one, never the one a client
# wrote itself, the body refused for its length too.
logged() { [ "$(grep -cF " $1 POST /api/runs $2 " "$work/hall.log")" = 1 ]; }
for line in "127.0.0.1 403" "127.0.0.1 201" "127.0.0.2 200" "127.0.0.2 429" "127.0.0.3 200" "127.0.0.4 413"; do
  address=${line% *} answer=${line#* }
  wait_for logged "$address" "$answer" || fail "the hall's log has not exactly one run from $address answered $answer"
done
! grep -q '127\.0\.0\.9' "$work/hall.log" || fail "the hall took the address a client wrote in X-Forwarded-For"
[ "$(grep -c ' POST /api/runs ' "$work/hall.log")" = 6 ] || fail "the hall's log has other runs than the six sent to it"

echo "PASS: the hall behind nginx on https://localhost:$tls_port (hall on 127.0.0.1:$hall_port)"
