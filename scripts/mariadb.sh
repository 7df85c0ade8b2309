#!/usr/bin/env bash
# A private MariaDB server for the tests and the demo, on loopback only.
# It never touches the system's own MariaDB: its own data folder, its own
# socket, --no-defaults (no /etc/mysql configuration), a port of its own.
#
#   scripts/mariadb.sh start DIR [PORT]
#       Creates DIR/data afresh (a copy of a data folder made once per
#       server version by mariadb-install-db and kept in DIR), starts
#       mariadbd on 127.0.0.1:PORT (PORT absent or 0: a free port), waits
#       until it answers, creates the
#       database "tarnmon" with db/schema.sql and db/sample-mapping.sql
#       loaded, and a user for it.  Writes
#         DIR/db.env       shell lines DB_HOST DB_PORT DB_NAME DB_USER
#                          DB_PASSWORD DB_SOCKET (source it)
#         DIR/syscfg.ini   a syscfg.ini for tarnmon pointing at the database
#       and prints the port on standard output.  A server still running on
#       DIR is stopped first.
#   scripts/mariadb.sh createdb DIR NAME [OUTDIR]
#       Creates (or recreates) database NAME on the running server with the
#       schema and the sample mapping; the user gets every right on it.  With
#       OUTDIR, writes OUTDIR/syscfg.ini pointing at NAME.  Tests that change
#       tables use a database of their own this way, so that tests running
#       at the same time do not see each other's rows.
#   scripts/mariadb.sh sql DIR [NAME]
#       Runs the SQL of standard input as the server's root (on NAME).
#   scripts/mariadb.sh stop DIR
#       Stops the server of DIR and waits for it; removes DIR/data (the
#       template stays for the next start).
#
# Needs mariadb-server and mariadb-client (scripts/install-deps.sh).  Runs as
# root or as an ordinary user (the server runs as the calling user).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
PATH=$PATH:/usr/sbin:/usr/local/sbin
DB_NAME=tarnmon
DB_USER=tarnmon
DB_PASSWORD='tarnmon-test-pw'
START_TIMEOUT=60   # seconds until the fresh server must answer
STOP_TIMEOUT=30    # seconds until a stopped server must be gone

die() { echo "mariadb.sh: $*" >&2; exit 1; }
usage() { awk 'NR > 1 && /^#/ { print; next } NR > 1 { exit }' "$0" >&2; exit 2; }

# A free TCP port on 127.0.0.1 (the kernel picks it).
free_port() {
  if [ -x /usr/bin/python3 ]; then
    /usr/bin/python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
  else
    # No python: a random port of the dynamic range; a taken one makes the
    # server fail to bind and the caller tries another.
    echo $((49152 + RANDOM % 16000))
  fi
}

# The socket path must fit into sun_path (108 bytes); deep build folders get
# one under /tmp instead, remembered in DIR/socket.
socket_path() {
  local dir=$1
  if [ -f "$dir/socket" ]; then cat "$dir/socket"; return; fi
  local s="$dir/mariadbd.sock"
  if [ ${#s} -gt 100 ]; then s="$(mktemp -d /tmp/zv-mariadb.XXXXXX)/mariadbd.sock"; fi
  echo "$s" > "$dir/socket"
  echo "$s"
}

server_pid() {
  local dir=$1
  [ -f "$dir/mariadbd.pid" ] || return 1
  local pid
  pid=$(cat "$dir/mariadbd.pid")
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 1
  # Only our own server: its command line names this data folder.
  tr '\0' ' ' < "/proc/$pid/cmdline" 2>/dev/null | grep -q -- "--datadir=$dir/data" || return 1
  echo "$pid"
}

root_client() {
  local dir=$1; shift
  mariadb --no-defaults --socket="$(cat "$dir/socket")" --user=root "$@"
}

load_database() {
  local dir=$1 name=$2
  [[ $name =~ ^[A-Za-z0-9_]{1,64}$ ]] || die "database name '$name' is not a plain identifier"
  root_client "$dir" <<SQL
DROP DATABASE IF EXISTS \`$name\`;
CREATE DATABASE \`$name\` CHARACTER SET utf8mb4;
GRANT ALL PRIVILEGES ON \`$name\`.* TO '$DB_USER'@'127.0.0.1';
GRANT ALL PRIVILEGES ON \`$name\`.* TO '$DB_USER'@'localhost';
FLUSH PRIVILEGES;
SQL
  root_client "$dir" "$name" < "$ROOT/db/schema.sql"
  if [ -f "$ROOT/db/sample-mapping.sql" ]; then
    root_client "$dir" "$name" < "$ROOT/db/sample-mapping.sql"
  fi
}

write_syscfg() {
  local file=$1 port=$2 name=$3
  cat > "$file" <<INI
[mysqlcfg]
hostname=127.0.0.1
dbname=$name
usrname=$DB_USER
psw=$DB_PASSWORD
port=$port
localfilepath=.
remotefilepath=/COMTRADE
comtradftpip=127.0.0.1
comtradftpuid=
comtradftppsw=
comtradfilepath=/
comtradftpport=21
tempmeasureinterval=30
sf6interval=15
pdinterval=15
microweatherinterval=30
ironcoreinterval=30
moainterval=30
yspinterval=60
yspinterval1=30
yspinterval2=60
jyinterval=30
scurinterval=30
dlginterval=30
jdwinterval=30

[databasecfg]
datafilepath=.
INI
}

do_stop() {
  local dir=$1 pid
  if pid=$(server_pid "$dir"); then
    kill -TERM "$pid"
    local i
    for ((i = 0; i < STOP_TIMEOUT * 10; i++)); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
      echo "mariadb.sh: server $pid did not stop in ${STOP_TIMEOUT}s, killing it" >&2
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  rm -f "$dir/mariadbd.pid"
  rm -rf "$dir/data"
  if [ -f "$dir/socket" ]; then
    local s
    s=$(cat "$dir/socket")
    rm -f "$s" "$s.lock"
    case $s in /tmp/zv-mariadb.*/*) rmdir "$(dirname "$s")" 2>/dev/null || true ;; esac
    rm -f "$dir/socket"
  fi
}

do_start() {
  local dir=$1 want_port=${2:-0}
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  do_stop "$dir"
  local sock
  sock=$(socket_path "$dir")
  local user
  user=$(id -un)

  # A fresh data folder is a copy of one made by mariadb-install-db for this
  # server version (making it takes most of the start-up time).
  local template
  template="$dir/template-$(mariadbd --version | cksum | cut -d' ' -f1)"
  if [ ! -f "$template/.complete" ]; then
    rm -rf "$dir"/template-*
    mariadb-install-db --no-defaults --datadir="$template" --user="$user" \
        --auth-root-authentication-method=normal > "$dir/install.log" 2>&1 \
      || { cat "$dir/install.log" >&2; die "mariadb-install-db failed"; }
    touch "$template/.complete"
  fi
  cp -a "$template" "$dir/data"
  rm -f "$dir/data/.complete"

  # A port found free can be taken by someone else before the server binds
  # it; then try another one.
  local port attempt pid="" i
  for attempt in 1 2 3 4 5; do
    if [ "$want_port" != 0 ]; then port=$want_port; else port=$(free_port); fi
    : > "$dir/error.log"
    setsid mariadbd --no-defaults --datadir="$dir/data" --user="$user" --port="$port" \
        --bind-address=127.0.0.1 --socket="$sock" --pid-file="$dir/mariadbd.pid" \
        --log-error="$dir/error.log" --skip-log-bin --innodb-buffer-pool-size=32M \
        --innodb-log-file-size=16M --max-connections=200 \
        --innodb-flush-log-at-trx-commit=0 --innodb-doublewrite=0 --innodb-flush-method=nosync \
        --sync-binlog=0 \
        < /dev/null > "$dir/mariadbd.out" 2>&1 &
    pid=$!
    echo "$pid" > "$dir/mariadbd.pid"
    for ((i = 0; i < START_TIMEOUT * 10; i++)); do
      kill -0 "$pid" 2>/dev/null || break
      if mariadb-admin --no-defaults --socket="$sock" --user=root --connect-timeout=2 \
           ping > /dev/null 2>&1; then
        break
      fi
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then break; fi
    wait "$pid" 2>/dev/null || true
    pid=""
    grep -q -i "address already in use" "$dir/error.log" && [ "$want_port" = 0 ] && continue
    break
  done
  if [ -z "$pid" ] || ! mariadb-admin --no-defaults --socket="$sock" --user=root ping > /dev/null 2>&1; then
    cat "$dir/error.log" >&2 || true
    [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null
    die "mariadbd did not come up in $dir"
  fi

  root_client "$dir" <<SQL
CREATE USER '$DB_USER'@'127.0.0.1' IDENTIFIED BY '$DB_PASSWORD';
CREATE USER '$DB_USER'@'localhost' IDENTIFIED BY '$DB_PASSWORD';
DELETE FROM mysql.global_priv WHERE User = '';
FLUSH PRIVILEGES;
SQL
  load_database "$dir" "$DB_NAME"

  cat > "$dir/db.env" <<ENV
DB_HOST=127.0.0.1
DB_PORT=$port
DB_NAME=$DB_NAME
DB_USER=$DB_USER
DB_PASSWORD=$DB_PASSWORD
DB_SOCKET=$sock
ENV
  write_syscfg "$dir/syscfg.ini" "$port" "$DB_NAME"
  echo "$port"
}

do_createdb() {
  local dir=$1 name=$2 out=${3:-}
  dir=$(cd "$dir" && pwd)
  server_pid "$dir" > /dev/null || die "no server running in $dir"
  load_database "$dir" "$name"
  if [ -n "$out" ]; then
    mkdir -p "$out"
    # shellcheck disable=SC1091
    . "$dir/db.env"
    write_syscfg "$out/syscfg.ini" "$DB_PORT" "$name"
  fi
}

[ $# -ge 2 ] || usage
cmd=$1
case $cmd in
  start)    do_start "$2" "${3:-0}" ;;
  stop)     mkdir -p "$2"; do_stop "$(cd "$2" && pwd)" ;;
  createdb) [ $# -ge 3 ] || usage; do_createdb "$2" "$3" "${4:-}" ;;
  sql)      dir=$(cd "$2" && pwd); root_client "$dir" ${3:+"$3"} ;;
  *)        usage ;;
esac
