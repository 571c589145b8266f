#!/usr/bin/env python3
"""Time from pipeline start to the first subtitle buffer: our GStreamer element against
subparse, on the same document, side by side.

Usage: bench/gst-first-buffer.py BUILD_DIR DOCUMENT [ROUNDS]   (bench/run-gst.sh runs it)
Each measurement is a fresh process (as a player opening a file), with a registry that was
filled beforehand; rounds alternate which parser goes first. Prints each side's median wall
time and the median of the per-round ratios.
"""
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time


def child(parser, document):
    import gi
    gi.require_version("Gst", "1.0")
    from gi.repository import Gst
    Gst.init(None)
    if parser == "subparse":
        pipeline = Gst.parse_launch(f"filesrc name=src ! subparse ! appsink name=sink "
                                    "sync=false emit-signals=true")
        sinks = [pipeline.get_by_name("sink")]
    else:
        pipeline = Gst.parse_launch("filesrc name=src ! kestrelsamiparse name=parse")
        sinks = []

        def on_pad(element, pad):  # the first stream to the appsink, the others away
            sink = Gst.ElementFactory.make("appsink" if not sinks else "fakesink")
            sink.set_property("sync", False)
            if not sinks:
                sink.set_property("emit-signals", True)
                sink.connect("new-sample", on_sample)
            sinks.append(sink)
            pipeline.add(sink)
            sink.sync_state_with_parent()
            pad.link(sink.get_static_pad("sink"))

        pipeline.get_by_name("parse").connect("pad-added", on_pad)
    pipeline.get_by_name("src").set_property("location", document)

    def on_sample(sink):
        print(f"{(time.monotonic() - start) * 1000:.1f}", flush=True)
        os._exit(0)  # tearing the pipeline down is not part of the measurement

    for sink in sinks:
        sink.connect("new-sample", on_sample)
    start = time.monotonic()
    pipeline.set_state(Gst.State.PLAYING)
    pipeline.get_bus().timed_pop_filtered(60 * Gst.SECOND, Gst.MessageType.ERROR |
                                          Gst.MessageType.EOS)
    print("no buffer", flush=True)
    os._exit(1)


def main():
    build, document = pathlib.Path(sys.argv[1]).resolve(), pathlib.Path(sys.argv[2]).resolve()
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 9
    registry = tempfile.NamedTemporaryFile(suffix=".bin", delete=False).name
    env = dict(os.environ, GST_PLUGIN_PATH=str(build / "lib" / "gstreamer-1.0"),
               GST_REGISTRY=registry, LANG="C", LC_ALL="", LC_MESSAGES="", KESTREL_LOG="")
    subprocess.run(["gst-inspect-1.0", "kestrelsamiparse"], env=env, check=True,
                   capture_output=True)

    def measure(parser):
        out = subprocess.run([sys.executable, __file__, "--child", parser, str(document)],
                             env=env, capture_output=True, text=True).stdout.strip()
        return float(out)

    times = {"kestrelsamiparse": [], "subparse": []}
    ratios = []
    for number in range(rounds):
        order = ["kestrelsamiparse", "subparse"][:: 1 if number % 2 == 0 else -1]
        got = {parser: measure(parser) for parser in order}
        for parser, ms in got.items():
            times[parser].append(ms)
        ratios.append(got["kestrelsamiparse"] / got["subparse"])
    os.unlink(registry)
    size = document.stat().st_size / 1e6
    print(f"{document.name} ({size:.1f} MB), {rounds} interleaved rounds, medians of wall time "
          "from PLAYING to the first buffer:")
    for parser, values in times.items():
        print(f"  {parser:16} {statistics.median(values):8.1f} ms")
    print(f"  ratio kestrelsamiparse / subparse: {statistics.median(ratios):.1f} "
          "(median of the rounds' ratios)")


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        child(sys.argv[2], sys.argv[3])
    else:
        main()
