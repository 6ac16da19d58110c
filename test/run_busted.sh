#!/bin/sh
# Runs the busted suite under one interpreter, against the module built for it.
# usage: run_busted.sh <interpreter> <busted script> <module directory> [busted options]
set -e
interpreter=$1 busted=$2 directory=$3
shift 3
MIME_LUA=$interpreter MIME_BUILD_DIR=$directory LUA_CPATH="$directory/?.so;;" LUA_PATH="./lua/?.lua;;" \
  exec "$interpreter" "$busted" --output=TAP "$@"
