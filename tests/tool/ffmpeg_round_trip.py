#!/usr/bin/env python3
"""ffmpeg reads our ASS and WebVTT exports back with every cue of the SubRip export.

Usage: ffmpeg_round_trip.py TOOL FILE_OR_DIR...
Every stream of every .smi/.sami file given (directories are searched) is exported as srt, ass
and vtt; `ffmpeg -i OUT -f srt -` must give as many cues for ass and vtt as the srt export has.
A vtt export that needed a STYLE block (colours outside WebVTT's own classes) is checked again
with --no-style-block, since Debian 12's ffmpeg drops every cue of a file that has one.
Exits 77 (skipped) without ffmpeg or when a FILE_OR_DIR is absent (the corpus of real files).
"""
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

tool = sys.argv[1]
if shutil.which("ffmpeg") is None:
    print("ffmpeg is not installed (scripts/install-deps.sh installs it): skipped")
    sys.exit(77)
files = []
for arg in sys.argv[2:]:
    path = pathlib.Path(arg)
    if not path.exists():
        print(f"{path} is absent: skipped")
        sys.exit(77)
    files += sorted(p for p in path.iterdir() if p.suffix in (".smi", ".sami")) if path.is_dir() \
        else [path]


def export(path, stream, fmt, out, *extra):
    subprocess.run([tool, "export", str(path), "--stream", stream, "--format", fmt, "-o", out,
                    *extra], check=True, capture_output=True)
    return pathlib.Path(out).read_text(encoding="utf-8")


def ffmpeg_cues(path):
    result = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "srt", "-"],
                            capture_output=True, text=True)
    return result.stdout.count(" --> ")


failures, styled = 0, 0
with tempfile.TemporaryDirectory() as work:
    for path in files:
        info = subprocess.run([tool, "info", str(path)], capture_output=True, text=True).stdout
        for stream in re.findall(r"^  (\d+) ", info, re.M):
            srt = export(path, stream, "srt", f"{work}/a.srt").count(" --> ")
            export(path, stream, "ass", f"{work}/a.ass")
            vtt = export(path, stream, "vtt", f"{work}/a.vtt")
            counts = {"ass": ffmpeg_cues(f"{work}/a.ass")}
            if "\nSTYLE\n" in vtt:
                styled += 1
                export(path, stream, "vtt", f"{work}/a.vtt", "--no-style-block")
                counts["vtt --no-style-block"] = ffmpeg_cues(f"{work}/a.vtt")
            else:
                counts["vtt"] = ffmpeg_cues(f"{work}/a.vtt")
            bad = {k: v for k, v in counts.items() if v != srt}
            failures += bool(bad)
            print(f"{path.name} stream {stream}: srt {srt} cues, ffmpeg reads " +
                  ", ".join(f"{k} {v}" for k, v in counts.items()) + (" MISMATCH" if bad else ""))
print(f"{styled} stream(s) needed a STYLE block; {failures} mismatch(es)")
sys.exit(1 if failures else 0)
