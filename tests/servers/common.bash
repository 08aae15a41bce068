# Shared by the real-server scripts: a work directory removed at exit, the
# servers started (their PIDs in pids) stopped at exit, free loopback ports,
# whether ::1 can be used, waiting until a port listens, nginx, vsftpd and the test certificates, and
# the checks that count failures. Source it after setting work_prefix.
python=/usr/bin/python3

# need TOOL...: every tool is installed, or the script ends.
need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/bootstrap installs it)"; exit 1; }
  done
}

work=$(mktemp -d "/tmp/${work_prefix:-parcelo-servers}.XXXXXX")
pids=()
failures=0
runs=0
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
# free_ports NAME...: a free loopback port in each variable.
free_ports() { local name; for name in "$@"; do printf -v "$name" %s "$(free_port)"; done; }

# ipv6: yes when a socket can listen on ::1. The servers then listen on ::1
# as well, at the same ports; without it the IPv6 checks are skipped, said once.
if "$python" -c 'import socket; socket.socket(socket.AF_INET6).bind(("::1", 0))' 2>/dev/null; then
  ipv6=yes
else
  ipv6=no
  echo "skip: the IPv6 checks (::1 cannot be bound on this machine)"
fi

# wait_listening PORT [ADDRESS]: waits until ADDRESS (default 127.0.0.1) listens at PORT.
wait_listening() {
  local port=$1 address=${2:-127.0.0.1} i
  for i in $(seq 1 100); do
    if (exec 3<>"/dev/tcp/$address/$port") 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  echo "nothing listens on $address:$port"
  return 1
}

# listen_v6 PORT [ssl]: nginx's listen line for ::1 at PORT, when ::1 is used.
listen_v6() {
  [ "$ipv6" = yes ] && echo "    listen [::1]:$1${2:+ $2};"
}

# check LABEL COMMAND...: "ok" when the command succeeds, else a counted FAIL.
check() {
  local label=$1
  shift
  if "$@"; then
    echo "ok   $label"
  else
    echo "FAIL $label"
    failures=$((failures + 1))
    return 1
  fi
}

# same LABEL A B: the two files hold the same bytes.
same() { check "$1" cmp -s "$2" "$3" || echo "    $2 and $3 differ"; }

# contains LABEL TEXT FILE: the file holds the text. A server may write its
# log line just after the client has its answer, so it is looked for a few times.
contains() {
  local i
  for i in 1 2 3 4 5 6 7 8 9 10; do
    grep -qF -- "$2" "$3" 2>/dev/null && break
    sleep 0.2
  done
  check "$1" grep -qF -- "$2" "$3" || { echo "    no [$2] in $3:"; sed 's/^/    /' "$3"; }
}

# partial_copy SOURCE BYTES PARTIAL EXPECTED: the first BYTES of SOURCE as a
# partial download whose first 16 bytes are zeros instead, and the whole file
# a resume of it must give: a transfer that started over would lose the zeros.
partial_copy() {
  { head -c 16 /dev/zero; head -c "$2" "$1" | tail -c +17; } > "$3"
  { head -c 16 /dev/zero; tail -c +17 "$1"; } > "$4"
}

# driver LABEL FILTER VARIABLE=VALUE...: one attempt made by the driver test
# FILTER of parcelo_tests, told what to do through the variables; counted as
# a failure when it does not end as expected.
driver() {
  local label=$1 filter=$2
  shift 2
  runs=$((runs + 1))
  env "$@" timeout 60 "$tests_bin" --gtest_filter="$filter" > "$work/last.log" 2>&1 && return 0
  echo "FAIL $label: the attempt did not end as expected"
  grep -E '^(status|result|taskline):' "$work/last.log" | sed 's/^/    /'
  failures=$((failures + 1))
  return 1
}

# finish: the count, and the exit status of the script.
finish() {
  echo "$runs transfers, $failures failures"
  [ "$failures" -eq 0 ]
}

# start_vsftpd UPLOADS: an anonymous vsftpd on a free loopback port serving
# $work/vsftpd/root (which the caller fills), with uploads allowed when UPLOADS
# is YES; a second one on ::1 at the same port when ::1 is used (a vsftpd
# listens on one address). Sets vs_root and vs_port.
start_vsftpd() {
  local uploads=$1 family
  vs_root="$work/vsftpd/root"
  mkdir -p "$vs_root" "$work/vsftpd/empty"
  vs_port=$(free_port)
  for family in 4 6; do
    [ "$family" = 4 ] || [ "$ipv6" = yes ] || break
    vsftpd_conf "$uploads" "$family" > "$work/vsftpd/vsftpd$family.conf"
    vsftpd "$work/vsftpd/vsftpd$family.conf" > "$work/vsftpd/out$family" 2>&1 &
    pids+=($!)
  done
}

# vsftpd_conf UPLOADS FAMILY: the configuration start_vsftpd writes for the
# vsftpd on 127.0.0.1 (FAMILY 4) or on ::1 (6).
vsftpd_conf() {
  local uploads=$1 v4=YES v6=NO address=listen_address=127.0.0.1
  [ "$2" = 4 ] || { v4=NO; v6=YES; address=listen_address6=::1; }
  cat <<EOF
listen=$v4
listen_ipv6=$v6
$address
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
}

# make_test_certificates DIR: a test authority (ca.pem) and, each with its key
# (NAME.key), the servers' certificates NAME.pem: good (localhost,
# 127.0.0.1 and ::1, from the authority), other (another host name), old (expired in
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
    printf 'subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\n' > good.ext &&
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

# prepare_www: $www with files/, secret/ (Basic authentication, user alice,
# password s3cret) and upload/, and nginx's directories; the certificates in
# $tls.
prepare_www() {
  www="$work/www"
  tls="$work/tls"
  mkdir -p "$www/files" "$www/secret" "$www/upload" "$work/nginx/tmp"
  printf 'alice:%s\n' "$(openssl passwd -apr1 s3cret)" > "$work/nginx/htpasswd"
  make_test_certificates "$tls"
}

# ssl_server PORT CERTIFICATE [DIRECTIVES]: an nginx server block over TLS
# with the certificate NAME.pem, serving $www as the locations below do;
# its errors go to $work/nginx/tls-error-NAME.log.
ssl_server() {
  cat <<BLOCK
  server {
    listen 127.0.0.1:$1 ssl;
$(listen_v6 "$1" ssl)
    error_log $work/nginx/tls-error-$2.log info;
    ssl_certificate $tls/$2.pem;
    ssl_certificate_key $tls/$2.key;
    root $www;
${3:-}
$(nginx_shared_locations)
  }
BLOCK
}

# The nginx locations served alike: Basic authentication under /secret/ and
# PUT under /upload/.
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

# start_nginx HTTP_BLOCK: nginx as one process (no master, so no change of
# user), all its paths in $work/nginx, with HTTP_BLOCK inside its http block.
start_nginx() {
  cat > "$work/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
error_log $work/nginx/error.log;
pid $work/nginx/nginx.pid;
events { worker_connections 64; }
http {
  client_body_temp_path $work/nginx/tmp/body;
  proxy_temp_path $work/nginx/tmp/proxy;
  fastcgi_temp_path $work/nginx/tmp/fastcgi;
  uwsgi_temp_path $work/nginx/tmp/uwsgi;
  scgi_temp_path $work/nginx/tmp/scgi;
  default_type application/octet-stream;
$1
}
EOF
  nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" > "$work/nginx/out" 2>&1 &
  pids+=($!)
}
