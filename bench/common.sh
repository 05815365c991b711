# Shared by bench/run.sh and bench/profile.sh; sourced, not run.

# write_nginx_conf WORK HOST PORT PROCESS_LINE...: an nginx as a stock Debian install would
# serve (sendfile on), no access log, keep-alive connections as long-lived as relaydash's,
# answering /health like relaydash and serving WORK/www. PROCESS_LINE... are the directives
# that choose how nginx runs its processes.
write_nginx_conf() {
  local work=$1 host=$2 port=$3
  shift 3
  cat >"$work/nginx/nginx.conf" <<CONF
$(printf '%s\n' "$@")
worker_rlimit_nofile 8192;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
$([[ $(id -u) == 0 ]] && echo "user root;")
events { worker_connections 4096; }
http {
  include /etc/nginx/mime.types;
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000000;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen $host:$port backlog=4096;
    root $work/www;
    location = /health {
      default_type application/json;
      return 200 '{"kit":"1.4.2"}';
    }
  }
}
CONF
}

# wait_until_listening HOST PORT TENTHS: until something accepts a connection, for at most TENTHS
# tenths of a second.
wait_until_listening() {
  local i
  for ((i = 0; i < $3; i++)); do
    if (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "bench: nothing listens on $1:$2" >&2
  return 1
}
