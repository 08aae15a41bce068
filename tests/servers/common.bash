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
