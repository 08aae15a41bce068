#!/usr/bin/env bash
# The Win32 program's HTTPS against nginx on loopback: nginx serves a file, a
# Basic-authentication area and PUT with certificates of a test authority
# made here (good, another host name, expired, not yet valid, one of an
# unknown authority, and a server of TLS 1.1 at most), then the HttpsServed tests of
# parcelo32_tests.exe run under Wine, told the ports and the authority
# through the environment; the test itself trusts the authority in the Wine
# prefix for its run. Two small peers: one checks that the program ends a
# stream with close notify, one never answers after the handshake. Prints
# the TLS version, cipher and server name each request came with.
#
# Usage: https_win32.sh <Win32 build directory>
set -u

build=${1:?usage: https_win32.sh <Win32 build directory>}
top="$(cd "$(dirname "$0")/../.." && pwd)"
tests_exe="$build/parcelo32_tests.exe"
[ -f "$tests_exe" ] || { echo "no $tests_exe"; exit 1; }
work_prefix=parcelo-https-win32
. "$(dirname "$0")/common.bash"
need nginx openssl wine

prepare_www || exit 1
free_ports good_port other_port old_port stranger_port future_port legacy_port peer_port mute_port
tls_server() {  # <port> <certificate name> [protocols]
  ssl_server "$1" "$2" "    ssl_protocols ${3:-TLSv1.2 TLSv1.3};
    ssl_ciphers DEFAULT:@SECLEVEL=0;"
}
start_nginx "  log_format tls '\$server_port \"\$request\" \$status \$ssl_protocol \$ssl_cipher \$ssl_server_name';
  access_log $work/nginx/access.log tls;
$(tls_server "$good_port" good)
$(tls_server "$other_port" other)
$(tls_server "$old_port" old)
$(tls_server "$stranger_port" stranger)
$(tls_server "$future_port" future)
$(tls_server "$legacy_port" good "TLSv1 TLSv1.1")"
for port in "$good_port" "$other_port" "$old_port" "$stranger_port" "$future_port" "$legacy_port"; do
  wait_listening "$port" || { cat "$work/nginx/out" "$work/nginx/error.log"; exit 1; }
done

head -c 2500000 /dev/urandom > "$www/files/big.bin"
head -c 700000 /dev/urandom > "$www/secret/s.bin"
head -c 3000 /dev/urandom > "$www/files/small.bin"

# --- peers on the good certificate that take one request each: one answers
# with small.bin, keeps the connection and then says whether the client ended
# it with close notify; a mute one never answers ---
peer_script=$(cat <<'PEER'
import socket, ssl, sys, time
mode, port, certificate, key, body_file = sys.argv[1:6]
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(certificate, key)
# Some builds take an end without close notify for a clean one by default.
context.options &= ~getattr(ssl, "OP_IGNORE_UNEXPECTED_EOF", 0)
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", int(port)))
listener.listen(4)
listener.settimeout(120)
body = open(body_file, "rb").read()
for attempt in range(8):  # probes of the port connect without a handshake
    connection, _ = listener.accept()
    connection.settimeout(30)
    try:
        stream = context.wrap_socket(connection, server_side=True, suppress_ragged_eofs=False)
    except (ssl.SSLError, OSError):
        continue
    print("agreed", stream.version(), stream.cipher()[0], flush=True)
    request = b""
    while b"\r\n\r\n" not in request:
        chunk = stream.recv(4096)
        if not chunk:
            break
        request += chunk
    if mode == "mute":
        time.sleep(20)
        break
    stream.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nX-Filler: %s\r\n\r\n" % (len(body), b"x" * 200) + body)
    try:
        while stream.recv(4096):
            pass
        print("close notify", flush=True)
    except ssl.SSLEOFError:
        print("no close notify", flush=True)
    except OSError as error:
        print("error", error, flush=True)
    break
PEER
)
for mode in answer mute; do
  port=$peer_port
  [ "$mode" = mute ] && port=$mute_port
  "$python" -c "$peer_script" "$mode" "$port" "$tls/good.pem" "$tls/good.key" "$www/files/small.bin" \
    > "$work/peer-$mode.out" 2>&1 &
  pids+=($!)
  wait_listening "$port" || { cat "$work/peer-$mode.out"; exit 1; }
done

# Wine shows the Linux root as drive Z:.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

PARCELO_HTTPS_CA=$(windows_path "$tls/ca.pem") PARCELO_HTTPS_WWW=$(windows_path "$www") \
  PARCELO_HTTPS_GOOD=$good_port PARCELO_HTTPS_OTHER=$other_port PARCELO_HTTPS_OLD=$old_port \
  PARCELO_HTTPS_FUTURE=$future_port PARCELO_HTTPS_STRANGER=$stranger_port \
  PARCELO_HTTPS_LEGACY=$legacy_port PARCELO_HTTPS_PEER=$peer_port PARCELO_HTTPS_MUTE=$mute_port \
  timeout 240 "$top/scripts/wine-run" "$tests_exe" --gtest_filter='HttpsServed.*' > "$work/tests.log" 2>&1 ||
  failures=$((failures + 1))
cat "$work/tests.log"
check "no test was skipped" test -z "$(grep '\[  SKIPPED \]' "$work/tests.log")"

echo "== the peer that waits for the client's close"
cat "$work/peer-answer.out"
check "the stream ended with close notify" grep -qx "close notify" "$work/peer-answer.out"

echo "== what nginx served"
cat "$work/nginx/access.log"
check "the resume was answered with 206" grep -q " 206 " "$work/nginx/access.log"
check "the host name went as the server name (SNI)" \
  grep -q '^[0-9]* "GET /files/big.bin HTTP/1.0" 200 .* localhost$' "$work/nginx/access.log"
# Only the good server answers requests: a refused certificate sends none.
check "no request went to a server whose certificate was refused" \
  test -z "$(awk -v good="$good_port" '$1 != good' "$work/nginx/access.log")"

[ "$failures" -eq 0 ] && echo "https_win32: passed" || echo "https_win32: $failures failures"
[ "$failures" -eq 0 ]
