#!/bin/sh
# The plug-in must export _getPlugin and nothing else.
set -e
symbols=$(nm -D --defined-only "$1" | awk '{print $3}')
if [ "$symbols" != "_getPlugin" ]; then
  echo "unexpected dynamic symbols:"; echo "$symbols"; exit 1
fi
echo "exports: $symbols"
