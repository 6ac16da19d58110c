#!/bin/sh
# Installs the Debian packages a job needs, or says exactly what to install.
# usage: tools/deps.sh demo|quick|test|fuzz
# Packages come without their recommendations: nothing is installed that the
# build and the tests do not use.
set -e

demo_packages="cmake make g++ pkg-config lua5.1 liblua5.1-0-dev"
quick_packages="$demo_packages lua-busted lua-penlight lua-filesystem python3-cram"
test_packages="$demo_packages luajit libluajit-5.1-dev lua5.2 liblua5.2-dev lua5.3 liblua5.3-dev lua5.4 liblua5.4-dev lua-busted lua-penlight lua-filesystem python3-cram luarocks python3"
fuzz_packages="cmake make pkg-config liblua5.1-0-dev liblua5.4-dev clang libclang-rt-14-dev"

case "${1:-}" in
  demo) wanted=$demo_packages ;;
  quick) wanted=$quick_packages ;;
  test) wanted=$test_packages ;;
  fuzz) wanted=$fuzz_packages ;;
  *) echo "usage: $0 demo|quick|test|fuzz" >&2; exit 2 ;;
esac

missing=""
for package in $wanted; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  case "$status" in
    *" installed") ;;
    *) missing="$missing $package" ;;
  esac
done
[ -z "$missing" ] && exit 0

install="apt-get install -y --no-install-recommends$missing"
if [ "$(id -u)" = 0 ]; then
  sudo=""
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  sudo="sudo"
else
  echo "Missing Debian packages:$missing" >&2
  echo "Install them as root, then run this again:" >&2
  echo "  apt-get update && $install" >&2
  exit 1
fi
echo "Installing:$missing"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo $install
