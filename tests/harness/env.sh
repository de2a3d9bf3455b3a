# Sourced by the harness scripts: the environment of the Wine prefix of one test run.
# $1 (or NORLO_HARNESS_DIR) is the harness directory below the build tree.
NORLO_HARNESS_DIR=${NORLO_HARNESS_DIR:-$1}
export WINEPREFIX="$NORLO_HARNESS_DIR/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# The build's word size, written when the build tree was configured (tests/CMakeLists.txt).
if [ -f "$NORLO_HARNESS_DIR/wine-bits" ]; then
  NORLO_WINE_BITS=$(cat "$NORLO_HARNESS_DIR/wine-bits")
  export NORLO_WINE_BITS
fi
if [ "${NORLO_WINE_BITS:-32}" = 64 ]; then
  PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64:$PATH"
  export PATH
fi
if [ -f "$NORLO_HARNESS_DIR/display" ]; then
  DISPLAY=$(cat "$NORLO_HARNESS_DIR/display")
  export DISPLAY
fi
# The test HTTP server (started by start.sh) and the folder it serves.
export NORLO_HTTP_ROOT="$NORLO_HARNESS_DIR/www"
if [ -f "$NORLO_HARNESS_DIR/http.port" ]; then
  NORLO_HTTP_PORT=$(cat "$NORLO_HARNESS_DIR/http.port")
  export NORLO_HTTP_PORT
fi
# The forwarding proxy (started by start.sh) and the log of the requests it forwarded.
export NORLO_PROXY_LOG="$NORLO_HARNESS_DIR/proxy-requests.log"
if [ -f "$NORLO_HARNESS_DIR/proxy.port" ]; then
  NORLO_PROXY_PORT=$(cat "$NORLO_HARNESS_DIR/proxy.port")
  export NORLO_PROXY_PORT
fi
# The TLS sibling of that server: NORLO_HTTPS_PORT_VALID, _EXPIRED, _WRONGHOST and
# _UNTRUSTED, and the folder of its certificates (authority.cer is the test authority).
export NORLO_TLS_DIR="$NORLO_HARNESS_DIR/tls"
if [ -f "$NORLO_HARNESS_DIR/https.ports" ]; then
  while read -r _norlo_name _norlo_port; do
    export "NORLO_HTTPS_PORT_$(echo "$_norlo_name" | tr '[:lower:]' '[:upper:]')=$_norlo_port"
  done <"$NORLO_HARNESS_DIR/https.ports"
  unset _norlo_name _norlo_port
fi
