#!/bin/sh
# Ctrl-C stops a long call of the native Octave build and the session goes
# on with the call's memory released.
#   check_interrupt.sh <octave-cli> <folder of the native modules>
# An octave-cli reads commands from a pipe and starts a projection of a
# 10000-by-10000 grid (1.6 GB of results, seconds of work); one second into
# the call it gets SIGINT. The call must not finish, the next command must
# run, no result may exist, and resident memory must be back within 100 MiB
# of what it was before the call.
set -eu
octave=$1 dir=$2
tmp=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
mkfifo "$tmp/in"
"$octave" --no-init-file --no-gui --quiet <"$tmp/in" >"$tmp/out" 2>&1 &
pid=$!
exec 3>"$tmp/in"

wait_for() {
  i=0
  until grep -q "$1" "$tmp/out"; do
    i=$((i + 1))
    if [ $i -gt 600 ]; then
      echo "no '$1' from octave-cli after 60 s:"; cat "$tmp/out"; exit 1
    fi
    sleep 0.1
  done
}

cat >&3 <<OCTAVE
addpath ('$dir');
rss = @() str2double (regexp (fileread ('/proc/self/status'), 'VmRSS:\s*(\d+)', 'tokens', 'once'){1});
X = ones (10000);  before = rss ();  printf ('STARTED\n');  fflush (stdout);  tic;
[u, v] = scenemap_mex (X, X, X, 1e-3, 1e-3, 1, 0, 0, 1, 0.02, eye (3), [0 0 5]);  printf ('FINISHED\n');
printf ('ALIVE %d %d %.1f\n', exist ('u'), rss () - before, toc);  fflush (stdout);
OCTAVE
wait_for STARTED
sleep 1
kill -INT "$pid"
wait_for ALIVE
echo "exit" >&3
exec 3>&-
wait "$pid" || true
pid=
cat "$tmp/out"
if grep -q FINISHED "$tmp/out"; then
  echo "the call ran to its end despite SIGINT"; exit 1
fi
set -- $(grep ALIVE "$tmp/out")
[ "$2" = 0 ] || { echo "a result of the interrupted call exists"; exit 1; }
[ "$3" -lt 102400 ] || { echo "resident memory grew by $3 KiB"; exit 1; }
echo "session back $4 s after the call began; resident memory $3 KiB above its level before it"
