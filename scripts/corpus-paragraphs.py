#!/usr/bin/env python3
"""Every paragraph of visible text in a real SAMI file must reach the viewer.

Usage: scripts/corpus-paragraphs.py TOOL CORPUS_DIR
For each .smi/.sami file of CORPUS_DIR: the paragraphs inside timed SYNC blocks whose text,
markup stripped and references decoded, is visible (not blank); and the subtitles the tool's
JSON export delivers with a non-zero duration. A paragraph reaches the viewer when its text
(blanks ignored) lies within one such subtitle. Prints a line per file; exits 1 when any
paragraph is lost, 77 when the corpus is absent (ctest counts that as skipped).
"""
import html
import json
import pathlib
import re
import subprocess
import sys

tool, corpus = sys.argv[1], pathlib.Path(sys.argv[2])
if not corpus.is_dir():
    print(f"no corpus at {corpus}: skipped")
    sys.exit(77)

CODECS = {"windows-949": "cp949", "euc-kr": "cp949", "utf-8": "utf-8-sig", "utf-16le": "utf-16",
          "utf-16be": "utf-16", "windows-1252": "cp1252"}
BLANKS = re.compile(r"[\s\u00a0\u200b\ufeff]+")


def encoding_of(path):
    info = subprocess.run([tool, "info", str(path)], capture_output=True, text=True)
    match = re.search(r"encoding: (\S+)", info.stdout + info.stderr)
    return match.group(1).lower() if match else "utf-8"


def visible_paragraphs(text):
    paragraphs = []
    # Each SYNC block with a readable start, cut at its paragraphs.
    for block in re.split(r"(?i)<sync\b", text)[1:]:
        head, _, body = block.partition(">")
        if not re.search(r"(?i)start\s*=\s*['\"]?\d", head):
            continue
        body = re.split(r"(?i)</sync\s*>|</body\s*>", body)[0]
        for piece in re.split(r"(?i)<p\b[^>]*>", body):
            piece = re.sub(r"(?i)<br\s*/?>", " ", piece)
            piece = re.sub(r"(?s)<!--.*?-->", "", piece)
            plain = html.unescape(re.sub(r"<[^>]*>", "", piece))
            if BLANKS.sub("", plain):
                paragraphs.append(BLANKS.sub("", plain))
    return paragraphs


def delivered(path):
    out = subprocess.run([tool, "export", str(path), "--format", "json"], capture_output=True,
                         text=True)
    if out.returncode != 0:
        return []
    return [BLANKS.sub("", html.unescape(s["text"])) for stream in json.loads(out.stdout)["streams"]
            for s in stream["subtitles"] if s["duration"] > 0]


lost_any = False
for path in sorted(p for p in corpus.iterdir() if p.suffix in (".smi", ".sami")):
    codec = CODECS.get(encoding_of(path), "utf-8")
    text = path.read_bytes().decode(codec, errors="replace")
    paragraphs = visible_paragraphs(text)
    shown = delivered(path)
    lost = [p for p in paragraphs if not any(p in s for s in shown)]
    lost_any |= bool(lost)
    print(f"{path.name}: {len(paragraphs) - len(lost)} of {len(paragraphs)} paragraphs reach "
          f"the viewer" + (f"; lost, e.g. {lost[0][:60]!r}" if lost else ""))
sys.exit(1 if lost_any else 0)
