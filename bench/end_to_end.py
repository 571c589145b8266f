#!/usr/bin/env python3
"""Whole-process export times: kestrel-sami against GStreamer's subparse and ffmpeg.

Usage: end_to_end.py TOOL PLUGIN WRITE_DOCUMENT [--rounds N] [--corpus DIR]

Every row times whole processes as a user starts them, wall clock from fork to exit. The
commands of a row run interleaved: round r runs each command once, in an order that rotates
from round to round, so that a drift of the machine's load meets every command alike. A row
shows each command's median over the rounds and the ratio of GStreamer's median to ours
(above 1: we are faster). Peak memory is the largest resident set of a process of the row.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MB = 1 << 20


def run_once(argv):
    """Wall time (s) of one process; its output is discarded."""
    start = time.perf_counter()
    result = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, check=False)
    elapsed = time.perf_counter() - start
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(argv)} failed ({result.returncode}): "
                           f"{result.stderr.decode(errors='replace').strip()}")
    return elapsed


def peak_of(argv):
    """Peak resident set (bytes) of one process, or None. Measured by GNU time in a run of
    its own: a child forked from this interpreter would count the interpreter's pages."""
    if not os.access("/usr/bin/time", os.X_OK):
        return None
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=False)
    lines = result.stderr.decode(errors="replace").strip().splitlines()
    return int(lines[-1]) * 1024 if result.returncode == 0 and lines else None


def documents(write_document, corpus, directory):
    """(row name, path, code page or None) for every row whose document can be had."""
    rows = []
    minimal = os.path.join(corpus, "smi2assF_minimal.smi")
    real = os.path.join(corpus, "pycaption_example.sami")
    for name, path in (("113-byte document", minimal), ("real 204 KB document", real)):
        if os.path.isfile(path):
            rows.append((name, path, None))
        else:
            print(f"(no {path}: row \"{name}\" left out)", file=sys.stderr)
    utf8 = os.path.join(directory, "realistic-10mb.smi")
    subprocess.run([write_document, "realistic", "10", utf8], check=True)
    with open(utf8, "rb") as source:
        text = source.read().decode("utf-8")
    utf16 = os.path.join(directory, "realistic-10mb-utf16le.smi")
    with open(utf16, "wb") as out:
        out.write(b"\xff\xfe" + text.encode("utf-16-le"))
    cp949 = os.path.join(directory, "realistic-10mb-cp949.smi")
    with open(cp949, "wb") as out:
        # Characters the code page lacks become numeric references, as an editor saving
        # in CP949 writes them.
        out.write(text.encode("cp949", errors="xmlcharrefreplace"))
    del text
    rows += [("realistic 10 MB UTF-8", utf8, None),
             ("realistic 10 MB UTF-16LE, signature", utf16, None),
             ("realistic 10 MB CP949, code page named", cp949, "cp949")]
    return rows


def commands(tool, plugin, path, code_page, out_dir):
    """(label, argv) of every command of one row that can run here."""
    listed = [("kestrel-sami", [tool, "export", path, "--format", "srt", "-o",
                                os.path.join(out_dir, "out.srt"), "--plugin", plugin] +
               (["--code-page", "windows-949"] if code_page else []))]
    if shutil.which("gst-launch-1.0"):
        listed.append(("gstreamer", ["gst-launch-1.0", "-q", "filesrc", f"location={path}", "!",
                                     "subparse"] +
                       ([f"subtitle-encoding={code_page}"] if code_page else []) +
                       ["!", "fakesink"]))
    if shutil.which("ffmpeg"):
        listed.append(("ffmpeg", ["ffmpeg", "-nostdin", "-v", "error", "-y"] +
                       (["-sub_charenc", code_page.upper()] if code_page else []) +
                       ["-i", path, "-f", "srt", os.path.join(out_dir, "ffmpeg.srt")]))
    return listed


def main():
    args = sys.argv[1:]
    rounds = 9
    corpus = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared",
                          "corpus", "public")
    if "--rounds" in args:
        i = args.index("--rounds")
        rounds = int(args[i + 1])
        del args[i:i + 2]
    if "--corpus" in args:
        i = args.index("--corpus")
        corpus = args[i + 1]
        del args[i:i + 2]
    tool, plugin, write_document = (os.path.abspath(a) for a in args)
    for peer, name in (("gst-launch-1.0", "GStreamer"), ("ffmpeg", "ffmpeg")):
        if not shutil.which(peer):
            print(f"({name} is not installed: its column stays empty; "
                  "scripts/install-deps.sh --bench installs it)", file=sys.stderr)

    table = []
    with tempfile.TemporaryDirectory(prefix="sami-e2e-") as directory:
        for name, path, code_page in documents(write_document, corpus, directory):
            listed = commands(tool, plugin, path, code_page, directory)
            times = {label: [] for label, _ in listed}
            # The untimed peak run also warms the page cache and the loader's caches.
            peaks = {label: peak_of(argv) for label, argv in listed}
            for r in range(rounds):
                for k in range(len(listed)):
                    label, argv = listed[(r + k) % len(listed)]
                    times[label].append(run_once(argv))
            size = os.path.getsize(path)
            medians = {label: statistics.median(t) * 1000 for label, t in times.items()}
            table.append((name, size, medians, peaks))

    def ms(medians, label):
        return f"{medians[label]:.1f} ms" if label in medians else "-"

    def mib(peaks, label):
        return f"{peaks[label] / MB:.0f} MiB" if peaks.get(label) else "-"

    print(f"end to end: whole process, median wall time of {rounds} interleaved rounds")
    header = ("input", "kestrel-sami export srt", "peak", "gst subparse", "peak", "ffmpeg srt",
              "ratio gst/ours", "peak/size")
    rows = []
    for name, size, medians, peaks in table:
        ratio = (f"{medians['gstreamer'] / medians['kestrel-sami']:.2f}"
                 if "gstreamer" in medians else "-")
        rows.append((name, ms(medians, "kestrel-sami"), mib(peaks, "kestrel-sami"),
                     ms(medians, "gstreamer"), mib(peaks, "gstreamer"), ms(medians, "ffmpeg"),
                     ratio, f"{peaks['kestrel-sami'] / size:.1f}" if peaks["kestrel-sami"] else "-"))
    widths = [max(len(str(r[c])) for r in rows + [header]) for c in range(len(header))]
    for row in [header] + rows:
        print("  ".join(str(cell).ljust(w) if c == 0 else str(cell).rjust(w)
                        for c, (cell, w) in enumerate(zip(row, widths))))


if __name__ == "__main__":
    main()
