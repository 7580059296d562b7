# Sourced by the shell tests that start the programs on a free port of 127.0.0.1.
# listening_port FILE: the port of the first "listening on 127.0.0.1:PORT" line in
# FILE (a program's output), waited for up to 5 s; empty when none came.
listening_port() {
  local v=""
  for _ in $(seq 100); do
    v=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$1" 2>/dev/null | head -n1)
    [ -n "$v" ] && break
    sleep 0.05
  done
  echo "$v"
}
