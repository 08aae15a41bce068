#!/usr/bin/env bash
# Real FTP servers on loopback: vsftpd and pyftpdlib on 127.0.0.1, and vsftpd
# on ::1 too (EPSV and EPRT there), each in passive and in active mode, with a download
# (also split over 4 logins), the resume of a partial download (REST), an
# upload (STOR), and an upload of a local file that cannot be opened. Each
# transfer is one attempt made by the FTP driver test of parcelo_tests; the
# files are compared with cmp after it has exited.
#
# Usage: ftp_servers.sh <native build directory>
set -u

build=${1:?usage: ftp_servers.sh <native build directory>}
tests_bin="$build/parcelo_tests"
[ -x "$tests_bin" ] || { echo "no $tests_bin"; exit 1; }
work_prefix=parcelo-ftp-servers
. "$(dirname "$0")/common.bash"
need vsftpd
"$python" -c 'import pyftpdlib' 2>/dev/null || { echo "python3-pyftpdlib is missing"; exit 1; }

# --- vsftpd: anonymous, uploads into incoming/ ---
start_vsftpd YES
mkdir -p "$vs_root/incoming"

# --- pyftpdlib: user alice, uploads anywhere in her root ---
py_root="$work/pyftpdlib/root"
mkdir -p "$py_root/incoming"
py_port=$(free_port)
"$python" - "$py_root" "$py_port" > "$work/pyftpdlib/out" 2>&1 <<'EOF' &
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
logging.basicConfig(level=logging.WARNING)
root, port = sys.argv[1], int(sys.argv[2])
authorizer = DummyAuthorizer()
authorizer.add_user("alice", "s3cret", root, perm="elradfmw")
FTPHandler.authorizer = authorizer
FTPServer(("127.0.0.1", port), FTPHandler).serve_forever()
EOF
pids+=($!)

wait_listening "$vs_port" || exit 1
wait_listening "$py_port" || exit 1
hosts=127.0.0.1
if [ "$ipv6" = yes ]; then
  hosts="127.0.0.1 [::1]"
  wait_listening "$vs_port" ::1 || { cat "$work/vsftpd/out6"; exit 1; }
fi

head -c 3000000 /dev/urandom > "$vs_root/big.bin"
cp "$vs_root/big.bin" "$py_root/big.bin"
head -c 2100000 /dev/urandom > "$work/upload.bin"

# drive <label> <mode> <resume> <remote> <local> [<last status, default Done>]:
# one attempt on the server at $host:$port as $user, in $passive mode.
drive() {
  driver "$name $1" 'FtpDriver.*' PARCELO_DRIVE_HOST="$host" PARCELO_DRIVE_PORT="$port" PARCELO_DRIVE_USER="$user" \
    PARCELO_DRIVE_PASSWORD="$password" PARCELO_DRIVE_MODE="$2" PARCELO_DRIVE_PASSIVE="$passive" \
    PARCELO_DRIVE_RESUME="$3" PARCELO_DRIVE_REMOTE="$4" PARCELO_DRIVE_LOCAL="$5" PARCELO_DRIVE_EXPECT="${6:-Done}"
}
# on <label> <mode> <resume> <remote> <local> <expected file> <file to compare> [<last status>]
on() { drive "$1" "$2" "$3" "$4" "$5" "${8:-Done}" && same "$name $1" "$6" "$7"; }

for host in $hosts; do
for server in vsftpd pyftpdlib; do
  # One server is enough to show the IPv6 commands.
  [ "$host" = 127.0.0.1 ] || [ "$server" = vsftpd ] || continue
  if [ "$server" = vsftpd ]; then
    port=$vs_port; user=""; password=""; root=$vs_root
  else
    port=$py_port; user=alice; password=s3cret; root=$py_root
  fi
  for passive in 1 0; do
    name="$server $host $([ "$passive" = 1 ] && echo passive || echo active)"
    dir="$work/local-$server-$host-$passive"
    mkdir -p "$dir"
    on download receive 1 /big.bin "$dir/big.bin" "$root/big.bin" "$dir/big.bin"
    # Over 4 logins, each piece after REST: the same bytes by SHA-256.
    PARCELO_DRIVE_SPLIT=4 drive "split over 4 logins" receive 1 /big.bin "$dir/split.bin" &&
      check "$name split over 4 logins: sha256" test "$(sha256sum < "$dir/split.bin")" = "$(sha256sum < "$root/big.bin")"
    partial_copy "$root/big.bin" 1234567 "$dir/partial.bin" "$dir/expected.bin"
    on "resume from 1234567" receive 0 /big.bin "$dir/partial.bin" "$dir/expected.bin" "$dir/partial.bin"
    up="incoming/up-$passive-${host//[^0-9]/}.bin"
    on upload send 0 "/$up" "$work/upload.bin" "$work/upload.bin" "$root/$up"
    # A local file that cannot be opened sends no STOR: the server's copy stays.
    on "upload of a missing file keeps the server's copy" send 0 "/$up" "$work/missing.bin" "$work/upload.bin" \
      "$root/$up" "File open error"
  done
done
done

finish
