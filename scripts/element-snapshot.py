#!/usr/bin/env python3
"""Every buffer the GStreamer demuxer pushes for every SAMI file of the corpus and of
examples/, one file per input: each stream's buffers as "pad pts+duration text". Two snapshots
made before and after a change are compared with `diff -r`.

Usage: scripts/element-snapshot.py BUILD_DIR OUT_DIR [CORPUS_DIR]   (default ../shared/corpus)
"""
import os
import pathlib
import sys
import tempfile

build = pathlib.Path(sys.argv[1]).resolve()
out = pathlib.Path(sys.argv[2])
root = pathlib.Path(__file__).resolve().parent.parent
corpus = pathlib.Path(sys.argv[3]) if len(sys.argv) > 3 else root.parent / "shared" / "corpus"
os.environ["GST_PLUGIN_PATH"] = str(build / "lib" / "gstreamer-1.0")
os.environ["GST_REGISTRY"] = os.path.join(tempfile.mkdtemp(), "registry.bin")
import gi  # noqa: E402
gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402

Gst.init(None)
out.mkdir(parents=True, exist_ok=True)
inputs = sorted(p for top in (corpus, root / "examples") if top.is_dir() for p in top.rglob("*")
                if p.suffix.lower() in (".smi", ".sami"))
for path in inputs:
    lines = []
    pipeline = Gst.parse_launch(f'filesrc location="{path}" ! kestrelsamidemux name=d')
    demux = pipeline.get_by_name("d")

    def added(element, pad):
        sink = Gst.ElementFactory.make("fakesink")
        sink.set_property("signal-handoffs", True)
        sink.set_property("sync", False)
        name = pad.get_name()

        def handoff(_sink, buffer, _pad):
            ok, info = buffer.map(Gst.MapFlags.READ)
            text = bytes(info.data).decode("utf-8", "replace") if ok else "?"
            if ok:
                buffer.unmap(info)
            lines.append(f"{name} {buffer.pts}+{buffer.duration} {text!r}")

        sink.connect("handoff", handoff)
        # A queue per stream, as behind any demuxer: the one streaming thread must not wait
        # in one sink's preroll while another sink waits for its first buffer.
        queue = Gst.ElementFactory.make("queue")
        pipeline.add(queue)
        pipeline.add(sink)
        queue.link(sink)
        sink.sync_state_with_parent()
        queue.sync_state_with_parent()
        pad.link(queue.get_static_pad("sink"))

    demux.connect("pad-added", added)
    pipeline.set_state(Gst.State.PLAYING)
    message = pipeline.get_bus().timed_pop_filtered(
        10 * Gst.SECOND, Gst.MessageType.EOS | Gst.MessageType.ERROR)
    if message is None:
        lines.append("no end within 10 s")
    elif message.type == Gst.MessageType.ERROR:
        lines.append("error: " + message.parse_error()[0].message)
    pipeline.set_state(Gst.State.NULL)
    name = str(path.relative_to(corpus if corpus in path.parents else root)).replace("/", "_")
    (out / (name + ".txt")).write_text("\n".join(sorted(lines, key=lambda l: l.split(" ")[0]))
                                       + "\n")
