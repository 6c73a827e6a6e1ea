#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Run as root it installs what is
# missing; otherwise it prints the exact apt-get line and fails when something required is absent.
set -eu

required=(cmake ninja-build g++ make pkg-config libgtest-dev libpcre2-dev libncurses-dev ccache)
# Used by tests that compare with a third-party reader, drive a real terminal or print through
# print queues, and by the benchmarks (Lua 5.4 for comparison); what needs them is skipped with a
# message when they are missing, but `make test` installs them when it can.
optional=(python3-dbf tmux cups-daemon cups-client lua5.4)

missing_of() {
  local out=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || out+=("$p")
  done
  echo "${out[@]:-}"
}

req_missing=$(missing_of "${required[@]}")
opt_missing=$(missing_of "${optional[@]}")
all_missing="$req_missing $opt_missing"
all_missing=$(echo $all_missing)

[ -z "$all_missing" ] && exit 0

if [ "$(id -u)" = 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  if ! apt-get install -y --no-install-recommends $all_missing >/tmp/vellum-apt.log 2>&1; then
    apt-get update >/dev/null 2>&1 || true
    apt-get install -y --no-install-recommends $all_missing >/tmp/vellum-apt.log 2>&1 || {
      echo "install-deps: apt-get failed, see /tmp/vellum-apt.log" >&2
      [ -n "$(echo $req_missing)" ] && exit 1
    }
  fi
  exit 0
fi

echo "install-deps: these packages are missing; install them with:" >&2
echo "  sudo apt-get install -y $all_missing" >&2
[ -n "$(echo $req_missing)" ] && exit 1
exit 0
