# Shared by the real-server scripts: a work directory removed at exit, the
# servers started (their PIDs in pids) stopped at exit, free loopback ports
# and waiting until a port listens. Source it after setting work_prefix.
python=/usr/bin/python3

work=$(mktemp -d "/tmp/${work_prefix:-parcelo-servers}.XXXXXX")
pids=()
stop_servers() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null
  done
  case "$work" in
    /tmp/*.??????) rm -rf "$work" ;;
  esac
}
trap stop_servers EXIT

free_port() {
  "$python" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

wait_listening() {
  local port=$1 i
  for i in $(seq 1 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  echo "nothing listens on 127.0.0.1:$port"
  return 1
}

# start_vsftpd UPLOADS: an anonymous vsftpd on a free loopback port serving
# $work/vsftpd/root (which the caller fills), with uploads allowed when UPLOADS
# is YES. Sets vs_root and vs_port.
start_vsftpd() {
  local uploads=$1
  vs_root="$work/vsftpd/root"
  mkdir -p "$vs_root" "$work/vsftpd/empty"
  vs_port=$(free_port)
  cat > "$work/vsftpd/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$vs_port
background=NO
run_as_launching_user=YES
anonymous_enable=YES
anon_root=$vs_root
local_enable=NO
write_enable=$uploads
anon_upload_enable=$uploads
anon_other_write_enable=$uploads
anon_umask=022
pasv_enable=YES
port_enable=YES
connect_from_port_20=NO
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
secure_chroot_dir=$work/vsftpd/empty
syslog_enable=NO
xferlog_enable=NO
vsftpd_log_file=$work/vsftpd/log
EOF
  vsftpd "$work/vsftpd/vsftpd.conf" > "$work/vsftpd/out" 2>&1 &
  pids+=($!)
}

# same LABEL A B: reports whether the two files hold the same bytes, counting
# a difference in failures.
same() {
  local label=$1 a=$2 b=$3
  if cmp -s "$a" "$b"; then
    echo "ok   $label"
  else
    echo "FAIL $label: $a and $b differ"
    failures=$((failures + 1))
  fi
}

# make_test_certificates DIR: a test authority (ca.pem) and, each with its key
# (NAME.key), the servers' certificates NAME.pem: good (localhost and
# 127.0.0.1, from the authority), other (another host name), old (expired in
# 2020), future (valid from 2099) and stranger (localhost, self-signed: an
# unknown authority).
make_test_certificates() {
  local tls=$1
  mkdir -p "$tls/db"
  ( cd "$tls" &&
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
      -subj "/CN=Loopback Test Authority" &&
    for leaf in good other old future; do
      openssl req -newkey rsa:2048 -nodes -keyout $leaf.key -out $leaf.csr -subj "/CN=$leaf" || exit 1
    done &&
    printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n' > good.ext &&
    printf 'subjectAltName=DNS:other.invalid\n' > other.ext &&
    openssl x509 -req -in good.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
      -extfile good.ext -out good.pem &&
    openssl x509 -req -in other.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
      -extfile other.ext -out other.pem &&
    : > db/index && echo 01 > db/serial &&
    printf '[ca]\ndefault_ca=t\n[t]\ndatabase=db/index\nserial=db/serial\nnew_certs_dir=db\ndefault_md=sha256\npolicy=p\n[p]\ncommonName=supplied\n' > ca.cnf &&
    openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in old.csr -out old.pem \
      -startdate 20200101000000Z -enddate 20200102000000Z -extfile good.ext -notext &&
    openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in future.csr -out future.pem \
      -startdate 20990101000000Z -enddate 20990102000000Z -extfile good.ext -notext &&
    openssl req -x509 -newkey rsa:2048 -nodes -keyout stranger.key -out stranger.pem -days 2 \
      -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost,IP:127.0.0.1"
  ) > "$tls/out" 2>&1 || { echo "FAIL making the test certificates"; cat "$tls/out"; return 1; }
}

# The nginx locations the HTTP scripts serve alike: Basic authentication under
# /secret/ (users in $work/nginx/htpasswd) and PUT under /upload/.
nginx_shared_locations() {
  cat <<BLOCK
    location /secret/ {
      auth_basic "parcelo";
      auth_basic_user_file $work/nginx/htpasswd;
    }
    location /upload/ {
      dav_methods PUT;
      create_full_put_path on;
      client_max_body_size 0;
    }
BLOCK
}
