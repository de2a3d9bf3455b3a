#!/usr/bin/env bash
# Starts what every test needs: an X display (Xvfb), a 64-bit Wine prefix created once
# below the build tree, and a wineserver that stays up for the whole run.
set -euo pipefail
harness=$1
mkdir -p "$harness"
# shellcheck source=env.sh
. "$(dirname "$0")/env.sh" "$harness"
# shellcheck source=host32.sh
. "$(dirname "$0")/host32.sh"
if ! host_runs_test_build; then
  host_32bit_notice
  exit 0
fi

start_display() {
  if [ -f "$harness/xvfb.pid" ] && kill -0 "$(cat "$harness/xvfb.pid")" 2>/dev/null; then
    return
  fi
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  nohup Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$harness/xvfb.log" 2>&1 </dev/null &
  echo $! >"$harness/xvfb.pid"
  echo ":$n" >"$harness/display"
  for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
  export DISPLAY=":$n"
}

start_http_server() {
  # NORLO_HTTP_WANTED_PORT (set by CTest) is the port the build's documents name.
  local wanted=${NORLO_HTTP_WANTED_PORT:-0}
  if [ -f "$harness/http.pid" ] && kill -0 "$(cat "$harness/http.pid")" 2>/dev/null && [ -f "$harness/http.port" ]; then
    if [ "$wanted" = 0 ] || [ "$wanted" = "$(cat "$harness/http.port")" ]; then
      return
    fi
    kill "$(cat "$harness/http.pid")" 2>/dev/null || true
  fi
  rm -f "$harness/http.port"
  mkdir -p "$harness/www"
  nohup python3 "$(dirname "$0")/httpserver.py" "$harness/www" "$harness/http.port" "$harness/www-requests.log" \
    "$wanted" >"$harness/http.log" 2>&1 </dev/null &
  echo $! >"$harness/http.pid"
  await_file "$harness/http.port" 100 "test HTTP server"
}

# Waits up to $2 tenths of a second for the file $1 that a server writes once it listens.
await_file() {
  for _ in $(seq 1 "$2"); do
    [ -f "$1" ] && return
    sleep 0.1
  done
  echo "$3 did not start" >&2
  exit 1
}

# The same folder over TLS, one port per certificate case (tests/harness/make-test-certs.sh).
start_https_server() {
  if [ -f "$harness/https.pid" ] && kill -0 "$(cat "$harness/https.pid")" 2>/dev/null && [ -f "$harness/https.ports" ]; then
    return
  fi
  rm -f "$harness/https.ports"
  "$(dirname "$0")/make-test-certs.sh" "$harness/tls"
  local listeners=() name
  for name in valid expired wronghost untrusted; do
    listeners+=(--tls "$name" "$harness/tls/$name.chain.pem" "$harness/tls/$name.key")
  done
  nohup python3 "$(dirname "$0")/httpserver.py" "${listeners[@]}" "$harness/www" "$harness/https.ports" \
    "$harness/www-requests.log" >"$harness/https.log" 2>&1 </dev/null &
  echo $! >"$harness/https.pid"
  await_file "$harness/https.ports" 300 "test HTTPS server"
}

# A forwarding proxy (tests/harness/httpproxy.py) for the tests of the system's proxy settings.
start_http_proxy() {
  if [ -f "$harness/proxy.pid" ] && kill -0 "$(cat "$harness/proxy.pid")" 2>/dev/null && [ -f "$harness/proxy.port" ]; then
    return
  fi
  rm -f "$harness/proxy.port"
  nohup python3 "$(dirname "$0")/httpproxy.py" "$harness/proxy.port" "$harness/proxy-requests.log" \
    >"$harness/proxy.log" 2>&1 </dev/null &
  echo $! >"$harness/proxy.pid"
  for _ in $(seq 1 100); do
    [ -f "$harness/proxy.port" ] && break
    sleep 0.1
  done
  [ -f "$harness/proxy.port" ] || { echo "test HTTP proxy did not start" >&2; exit 1; }
}

start_display
start_http_server
start_http_proxy
start_https_server
if [ ! -f "$WINEPREFIX/.norlo-ready" ]; then
  rm -rf "$WINEPREFIX"
  echo "creating Wine prefix $WINEPREFIX"
  wineboot --init >"$harness/wineboot.log" 2>&1 </dev/null
  wineserver -w
  touch "$WINEPREFIX/.norlo-ready"
fi
# An already persistent wineserver answers with an error; that is fine.
wineserver -p >/dev/null 2>&1 </dev/null || true
# Start Wine's own background processes (services, explorer) now, detached from any test's
# output, so they never hold a test's output pipe open after the test ended.
timeout 120 wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
echo "harness ready: DISPLAY=$DISPLAY WINEPREFIX=$WINEPREFIX HTTP port $(cat "$harness/http.port")," \
  "HTTPS ports $(tr '\n' ' ' <"$harness/https.ports")"
