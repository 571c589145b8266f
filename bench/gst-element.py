#!/usr/bin/env python3
"""The GStreamer element as a player meets it: the wall time from PLAYING to the first
subtitle buffer and to the end of the stream, for `filesrc ! kestrelsamiparse ! fakesink`
against `filesrc ! subparse ! fakesink`, beside the plug-in's own open of the document.

Usage: bench/gst-element.py BUILD_DIR [--rounds N] [--corpus DIR] [--element NAME]
                                      (bench/run-gst.sh builds BUILD_DIR and runs it)

Documents: the real 204 KB file of the corpus (DIR, default ../shared/corpus/public beside the
project; its row is left out when the file is missing) and the benchmarks' realistic 10 MB
document, which BUILD_DIR/bin/WriteDocument writes.

Every pipeline runs in a fresh process, as a player opening a file, with a GStreamer registry
filled beforehand; the sinks do not sync to the clock, so the end of the stream comes once
every buffer has been consumed. The element's stream is its "src" pad when it has one, else
the first pad it adds (the other pads go to sinks of their own). A round runs every measure
of a document once, starting with a different one each round; a row shows the median of each
measure and the median of the rounds' ratios.

The plug-in's open is the open benchmark's (BUILD_DIR/bin/SamiOpenBench, its case
Open/realistic/10MB, run in a fresh process each round): the container's open alone, from
cold memory, releasing it untimed; the median of its repetitions. The open benchmark writes
its own realistic document from the same generator and seed; where its size differs from
WriteDocument's, the open is taken at the measured rate (bytes per second) for this size.
"""
import argparse
import json
import os
import pathlib
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

PROJECT = pathlib.Path(__file__).resolve().parent.parent
REAL_DOCUMENT = "pycaption_example.sami"  # the corpus's largest real file, 204 KB
OPEN_CASE = "Open/realistic/10MB/"
# The goals: the element's first buffer of the 10 MB document at most this many times the
# plug-in's open of it, and its end of stream no later than subparse's.
FIRST_PER_OPEN = 1.5
EOS_PER_SUBPARSE = 1.0


def child(parser, document):
    """One pipeline, timed from PLAYING; prints one JSON line."""
    import gi
    gi.require_version("Gst", "1.0")
    from gi.repository import Gst
    Gst.init(None)
    pipeline = Gst.Pipeline.new()
    source = Gst.ElementFactory.make("filesrc")
    source.set_property("location", document)
    parse = Gst.ElementFactory.make(parser)
    if parse is None:
        print(json.dumps({"error": f"no element {parser}"}), flush=True)
        os._exit(1)
    sinks = []
    first = []

    def on_first_buffer(pad, info):
        first.append(time.monotonic())
        return Gst.PadProbeReturn.REMOVE

    def new_sink(measured):
        sink = Gst.ElementFactory.make("fakesink")
        sink.set_property("sync", False)  # each buffer is consumed as soon as it comes
        # Nor does a sink wait in preroll: an element that feeds all its pads from one thread
        # would block on its first pad's preroll while the others wait for their first
        # buffer (a player puts a queue per stream there).
        sink.set_property("async", False)
        if measured:
            sink.get_static_pad("sink").add_probe(Gst.PadProbeType.BUFFER, on_first_buffer)
        sinks.append(sink)
        pipeline.add(sink)
        return sink

    for element in (source, parse):
        pipeline.add(element)
    source.link(parse)
    if parse.get_static_pad("src") is not None:
        parse.link(new_sink(measured=True))
    else:
        def on_pad(element, pad):
            sink = new_sink(measured=not sinks)
            sink.sync_state_with_parent()
            pad.link(sink.get_static_pad("sink"))

        parse.connect("pad-added", on_pad)

    bus = pipeline.get_bus()
    start = time.monotonic()
    pipeline.set_state(Gst.State.PLAYING)
    message = bus.timed_pop_filtered(120 * Gst.SECOND,
                                     Gst.MessageType.ERROR | Gst.MessageType.EOS)
    end = time.monotonic()
    if message is None or message.type != Gst.MessageType.EOS or not first:
        why = "no end of stream in 120 s" if message is None else \
            message.parse_error()[0].message if message.type == Gst.MessageType.ERROR else \
            "no buffer"
        print(json.dumps({"error": why}), flush=True)
        os._exit(1)
    rendered = [sink.get_property("stats").get_value("rendered") for sink in sinks]
    print(json.dumps({"first": (first[0] - start) * 1000, "eos": (end - start) * 1000,
                      "buffers": rendered[0], "streams": len(sinks)}), flush=True)
    os._exit(0)  # tearing the pipeline down is not part of the measurement


def measure_pipeline(parser, document, env):
    """What one child process measured (first, eos in ms; buffers, streams)."""
    result = subprocess.run([sys.executable, __file__, "--child", parser, str(document)],
                            env=env, capture_output=True, text=True)
    lines = result.stdout.strip().splitlines()
    got = json.loads(lines[-1]) if lines else {"error": result.stderr.strip()}
    if "error" in got:
        sys.exit(f"{parser} on {document}: {got['error']}")
    return got


def measure_open(open_bench, scratch):
    """(median ms, median bytes per second) of the open benchmark's realistic 10 MB case."""
    # The program prints its ratio table after its cases; only the case is wanted, so it is
    # stopped once the case's median is out (its documents go to a scratch directory).
    process = subprocess.Popen([str(open_bench), "--benchmark_color=false",
                                f"--benchmark_filter=^{OPEN_CASE}"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                               env=dict(os.environ, TMPDIR=str(scratch)))
    pattern = re.compile(re.escape(OPEN_CASE) + r"\S*_median\s+([\d.]+) ms\s.*"
                         r"bytes_per_second=([\d.]+)([kMGT]?)/s")
    found = None
    for line in process.stdout:
        found = pattern.match(line)
        if found:
            break
    process.send_signal(signal.SIGTERM)
    process.wait()
    for leftover in pathlib.Path(scratch).iterdir():
        shutil.rmtree(leftover, ignore_errors=True)
    if not found:
        sys.exit(f"{open_bench} printed no median for {OPEN_CASE}")
    scale = 1024 ** "_kMGT".index(found.group(3) or "_")  # the library's binary prefixes
    return float(found.group(1)), float(found.group(2)) * scale


def median_text(values, unit=" ms"):
    return f"{statistics.median(values):.1f}{unit}" if values else "-"


def ratio_text(values):
    return f"{statistics.median(values):.2f}" if values else "-"


def main():
    options = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    options.add_argument("build")
    options.add_argument("--rounds", type=int, default=9)
    options.add_argument("--corpus", default=str(PROJECT.parent / "shared" / "corpus" / "public"))
    options.add_argument("--element", default="kestrelsamiparse")
    args = options.parse_args()
    build = pathlib.Path(args.build).resolve()
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="gst-element-bench-"))
    try:
        rows = measure_all(args, build, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print_table(args, rows)


def measure_all(args, build, scratch):
    """(name, size, {measure: [one result per round]}) for every document."""
    ours = args.element
    registry = scratch / "registry.bin"
    env = dict(os.environ, GST_PLUGIN_PATH=str(build / "lib" / "gstreamer-1.0"),
               GST_REGISTRY=str(registry), LANG="C", LC_ALL="", LC_MESSAGES="", KESTREL_LOG="")
    subprocess.run(["gst-inspect-1.0", ours], env=env, check=True, capture_output=True)

    documents = []
    real = pathlib.Path(args.corpus) / REAL_DOCUMENT
    if real.is_file():
        documents.append(("real file", real, False))
    else:
        print(f"(no {real}: the real file's row is left out)", file=sys.stderr)
    generated = scratch / "realistic-10mb.smi"
    subprocess.run([str(build / "bin" / "WriteDocument"), "realistic", "10", str(generated)],
                   check=True)
    documents.append(("realistic", generated, True))
    open_scratch = scratch / "open"
    open_scratch.mkdir()

    rows = []
    for name, document, with_open in documents:
        size = document.stat().st_size
        measures = ["subparse", ours] + (["open"] if with_open else [])
        got = {m: [] for m in measures}
        for r in range(args.rounds):
            this_round = {}
            for k in range(len(measures)):
                which = measures[(r + k) % len(measures)]
                if which == "open":
                    ms, rate = measure_open(build / "bin" / "SamiOpenBench", open_scratch)
                    this_round["open"] = {"ms": size / rate * 1000, "bench_ms": ms,
                                          "bench_bytes": rate * ms / 1000}
                else:
                    this_round[which] = measure_pipeline(which, document, env)
            for which, value in this_round.items():
                got[which].append(value)
        rows.append((name, size, got))
    return rows


def values(got, which, key):
    return [v[key] for v in got.get(which, [])]


def ratios(got, top, top_key, bottom, bottom_key):
    """The rounds' ratios of two measures."""
    if bottom not in got:
        return []
    return [a[top_key] / b[bottom_key] for a, b in zip(got[top], got[bottom])]


def print_table(args, rows):
    ours = args.element
    header = ("document", "sub first", "sub EOS", "ours first", "ours EOS", "open",
              "first/sub", "EOS/sub", "first/open")
    table = []
    verdicts = []
    notes = []
    for name, size, got in rows:
        first_sub = ratios(got, ours, "first", "subparse", "first")
        eos_sub = ratios(got, ours, "eos", "subparse", "eos")
        first_open = ratios(got, ours, "first", "open", "ms")
        table.append((f"{name}, {size / 1e6:.2f} MB",
                      median_text(values(got, "subparse", "first")),
                      median_text(values(got, "subparse", "eos")),
                      median_text(values(got, ours, "first")),
                      median_text(values(got, ours, "eos")),
                      median_text(values(got, "open", "ms")),
                      ratio_text(first_sub), ratio_text(eos_sub), ratio_text(first_open)))
        notes.append(f"{name}: buffers of the measured stream: subparse "
                     f"{got['subparse'][0]['buffers']}, {ours} {got[ours][0]['buffers']} "
                     f"(of {got[ours][0]['streams']} stream(s) linked)")
        if "open" in got:
            bench_bytes = statistics.median(values(got, "open", "bench_bytes"))
            if abs(bench_bytes - size) > size * 0.001:
                notes.append(f"{name}: the open benchmark's document has {bench_bytes / 1e6:.2f} "
                             f"MB (its open {median_text(values(got, 'open', 'bench_ms'))}); "
                             f"the open shown is at its rate for {size / 1e6:.2f} MB")
            first_ratio = statistics.median(first_open)
            eos_ratio = statistics.median(eos_sub)
            verdicts.append(f"{name}: first buffer / plug-in's open {first_ratio:.2f} "
                            f"(goal <= {FIRST_PER_OPEN}): "
                            f"{'ok' if first_ratio <= FIRST_PER_OPEN else 'OVER'}")
            verdicts.append(f"{name}: end of stream / subparse's {eos_ratio:.2f} "
                            f"(goal <= {EOS_PER_SUBPARSE}): "
                            f"{'ok' if eos_ratio <= EOS_PER_SUBPARSE else 'OVER'}")

    print(f"GStreamer element: wall time from PLAYING, median of {args.rounds} interleaved "
          "rounds, each pipeline a fresh process;\n"
          f"ours = {ours}, sub = subparse, open = the plug-in's open; ratios are medians of "
          "the rounds' ratios")
    widths = [max(len(row[c]) for row in table + [header]) for c in range(len(header))]
    for row in [header] + table:
        print("  ".join(cell.ljust(w) if c == 0 else cell.rjust(w)
                        for c, (cell, w) in enumerate(zip(row, widths))))
    for line in notes + verdicts:
        print(f"  {line}")


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        child(sys.argv[2], sys.argv[3])
    else:
        main()
