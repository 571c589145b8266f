#!/bin/sh
# run-logged.sh RECORD_FILE PROGRAM ARGS...: runs PROGRAM with a fresh, empty record file.
set -e
record=$1
shift
mkdir -p "$(dirname "$record")"
: > "$record"
KESTREL_LOG_RECORD=$record
export KESTREL_LOG_RECORD
exec "$@"
