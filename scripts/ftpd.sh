#!/usr/bin/env bash
# A private FTP server (pyftpdlib) on loopback, for the tests and the demo.
#
#   scripts/ftpd.sh start DIR [PORT [USER [PASS [ADDR]]]]
#       Serves the folder DIR/root (created, emptied first) to one account,
#       with write access, on ADDR:PORT. Defaults: PORT 0 (the system picks a
#       free port, so concurrent runs never collide), USER tarnftp,
#       PASS tarnftp, ADDR 127.0.0.1 (must be a 127.0.0.0/8 address).
#       A server still running for DIR is stopped first.
#       Returns once the server answers with its greeting, prints the port on
#       standard output and writes DIR/ftpd.env, one KEY=VALUE a line (value
#       unquoted up to the end of the line):
#           FTP_HOST  FTP_PORT  FTP_USER  FTP_PASS  FTP_ROOT
#       FTP_ROOT is the served folder as seen on the local disk; the FTP path
#       "/" (and the login folder) is that folder. DIR/ftpd.log holds the
#       server's log, DIR/ftpd.pid its process id.
#   scripts/ftpd.sh stop DIR
#       Stops the server started for DIR; nothing to do is not an error.
#       DIR/root and the log are kept for a look after a failed test.
#
# Used as the ctest fixture "ftpd" (tests/ftp/CMakeLists.txt): a test that
# sets FIXTURES_REQUIRED ftpd finds the server's settings in the file named by
# ZV_FTPD_ENV_FILE (tests/ftp/CMakeLists.txt), or reads
# <build dir>/test-ftpd/ftpd.env itself.
set -euo pipefail

# pyftpdlib is packaged for the system interpreter only.
PYTHON=/usr/bin/python3

usage() {
  sed -n '2,24p' "$0" >&2
  exit 2
}

# Prints the pid of the server of DIR if it still runs.
running_pid() {
  local dir=$1 pid
  [ -f "$dir/ftpd.pid" ] || return 1
  pid=$(cat "$dir/ftpd.pid")
  [[ $pid =~ ^[0-9]+$ ]] || return 1
  # Only a pyftpdlib serving this DIR counts: the pid may have been reused.
  local cmd
  cmd=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) || return 1
  [[ $cmd == *" -m pyftpdlib "*" -d $dir/root "* ]] || return 1
  echo "$pid"
}

stop_server() {
  local dir=$1 pid i
  if pid=$(running_pid "$dir"); then
    kill "$pid" 2>/dev/null || true
    for i in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$dir/ftpd.pid"
}

start_server() {
  local dir=$1 port=${2:-0} user=${3:-tarnftp} pass=${4:-tarnftp} addr=${5:-127.0.0.1}
  [[ $port =~ ^[0-9]+$ ]] || { echo "ftpd.sh: bad port '$port'" >&2; exit 2; }
  [[ $addr == 127.* ]] || { echo "ftpd.sh: only loopback addresses (127.0.0.0/8), not '$addr'" >&2; exit 2; }
  [ -x "$PYTHON" ] && "$PYTHON" -c 'import pyftpdlib' 2>/dev/null ||
    { echo "ftpd.sh: $PYTHON lacks pyftpdlib (apt-get install python3-pyftpdlib)" >&2; exit 1; }

  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  stop_server "$dir"
  rm -rf "$dir/root" "$dir/ftpd.env"
  mkdir -p "$dir/root"
  : >"$dir/ftpd.log"

  # setsid and redirected streams: the server must not hold the caller's
  # terminal or pipes (ctest waits for those to close).
  setsid "$PYTHON" -m pyftpdlib -i "$addr" -p "$port" -u "$user" -P "$pass" -d "$dir/root" -w \
    </dev/null >>"$dir/ftpd.log" 2>&1 &
  local pid=$!
  echo "$pid" >"$dir/ftpd.pid"

  # The log line ">>> starting FTP server on ADDR:PORT, pid=N <<<" names the
  # port the server really bound (the one the system chose for port 0).
  local bound="" i
  for i in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    bound=$(sed -n 's/.*starting FTP server on [^ ]*:\([0-9][0-9]*\),.*/\1/p' "$dir/ftpd.log" | tail -n 1)
    [ -n "$bound" ] && break
    sleep 0.1
  done
  if [ -z "$bound" ]; then
    echo "ftpd.sh: server did not start; its log:" >&2
    cat "$dir/ftpd.log" >&2
    stop_server "$dir"
    exit 1
  fi

  # Ready means: a client connecting now gets the 220 greeting.
  local greeting=""
  for i in $(seq 50); do
    if exec 3<>"/dev/tcp/$addr/$bound" 2>/dev/null; then
      read -r -t 5 greeting <&3 || true
      exec 3<&- 3>&-
      [[ $greeting == 220* ]] && break
    fi
    sleep 0.1
  done
  if [[ $greeting != 220* ]]; then
    echo "ftpd.sh: server on $addr:$bound does not answer; its log:" >&2
    cat "$dir/ftpd.log" >&2
    stop_server "$dir"
    exit 1
  fi

  {
    echo "FTP_HOST=$addr"
    echo "FTP_PORT=$bound"
    echo "FTP_USER=$user"
    echo "FTP_PASS=$pass"
    echo "FTP_ROOT=$dir/root"
  } >"$dir/ftpd.env.tmp"
  mv "$dir/ftpd.env.tmp" "$dir/ftpd.env"
  echo "$bound"
}

[ $# -ge 2 ] || usage
case $1 in
  start) shift; start_server "$@" ;;
  stop)
    [ -d "$2" ] || exit 0
    stop_server "$(cd "$2" && pwd)"
    ;;
  *) usage ;;
esac
