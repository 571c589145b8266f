#!/usr/bin/env bash
# Writes everything the tool says about every SAMI file of the corpus and of examples/ into
# OUT_DIR, one file per input and output: `info`, and `export` in each format with every
# stream. Two snapshots made before and after a change are compared with `diff -r`.
# Usage: scripts/output-snapshot.sh TOOL OUT_DIR [CORPUS_DIR]   (default ../shared/corpus)
set -uo pipefail
tool=$(realpath "$1")
out=$2
corpus=${3:-"$(dirname "$0")/../../shared/corpus"}
mkdir -p "$out"
cd "$(dirname "$0")/.."
find "$corpus" examples -type f \( -iname '*.smi' -o -iname '*.sami' \) -print0 2>/dev/null |
  sort -z | while IFS= read -r -d '' file; do
    name=$(printf '%s' "${file#"$corpus"/}" | tr '/' '_')
    "$tool" info "$file" >"$out/$name.info" 2>&1
    for format in srt vtt ass json; do
      "$tool" export "$file" --format "$format" -o /dev/stdout >"$out/$name.$format" 2>&1
      echo "exit $?" >>"$out/$name.$format"
    done
  done
