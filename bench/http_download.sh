#!/usr/bin/env bash
# Loopback download speed: one file from nginx fetched by the engine (one
# attempt through the HTTP driver test of parcelo_tests) and by curl -o, in the
# same run, alternately. The file and the copies live in a temp directory that
# is removed at the end.
#
# Usage: http_download.sh <native Release build directory> [size in MiB, default 1024]
#        [rounds, default 2] [directory for the copies, default in the temp directory;
#        /dev/shm takes the disk out of the comparison]
set -u

build=${1:?usage: http_download.sh <native build directory> [MiB] [rounds]}
mib=${2:-1024}
rounds=${3:-2}
out_parent=${4:-}
tests_bin="$build/parcelo_tests"
[ -x "$tests_bin" ] || { echo "no $tests_bin"; exit 1; }
command -v nginx >/dev/null && command -v curl >/dev/null || { echo "nginx and curl are needed"; exit 1; }

work=$(mktemp -d /tmp/parcelo-bench-http.XXXXXX)
out="$work/out"
[ -n "$out_parent" ] && out=$(mktemp -d "$out_parent/parcelo-bench-out.XXXXXX")
mkdir -p "$out"
pid=
stop() {
  [ -n "$pid" ] && { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }
  rm -rf "$work" "$out"
}
trap stop EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
mkdir -p "$work/www" "$work/tmp"
cat > "$work/nginx.conf" <<CONF
daemon off;
master_process off;
error_log $work/error.log;
pid $work/nginx.pid;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  default_type application/octet-stream;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
nginx -p "$work" -e "$work/error.log" -c "$work/nginx.conf" > "$work/nginx.out" 2>&1 &
pid=$!
for i in $(seq 1 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

head -c $((mib * 1024 * 1024)) /dev/urandom > "$work/www/big.bin"
url="http://127.0.0.1:$port/big.bin"

seconds() { date +%s.%N; }
report() {
  local who=$1 start=$2 end=$3
  awk -v w="$who" -v s="$start" -v e="$end" -v m="$mib" \
    'BEGIN { t = e - s; printf "%-8s %7.2f s  %8.1f MiB/s\n", w, t, m / t }'
}

for round in $(seq 1 "$rounds"); do
  rm -f "$out/engine.bin" "$out/curl.bin"
  # Dirty pages of the previous copy would otherwise be written back during
  # the next run and charged to it.
  sync
  start=$(seconds)
  PARCELO_HTTP_URL=$url PARCELO_HTTP_LOCAL=$out/engine.bin PARCELO_HTTP_RESUME=1 \
    "$tests_bin" --gtest_filter='HttpDriver.*' > "$work/engine.log" 2>&1 ||
    { echo "engine run failed"; cat "$work/engine.log"; exit 1; }
  end=$(seconds)
  report engine "$start" "$end"
  cmp -s "$work/www/big.bin" "$out/engine.bin" || { echo "engine copy differs"; exit 1; }
  rm -f "$out/engine.bin"
  sync

  start=$(seconds)
  curl -s -o "$out/curl.bin" "$url" || { echo "curl failed"; exit 1; }
  end=$(seconds)
  report curl "$start" "$end"
  cmp -s "$work/www/big.bin" "$out/curl.bin" || { echo "curl copy differs"; exit 1; }
done
