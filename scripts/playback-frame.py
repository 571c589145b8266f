#!/usr/bin/env python3
"""One frame of a real playback, as a viewer sees it: playbin plays a dark video made here with
examples/two-languages.smi as its subtitles, drawing them with its own overlay (no text sink),
and the frame at 2 s is written as a PNG.

Usage: scripts/playback-frame.py BUILD_DIR OUT.png [LOCALE [SUBTITLES [SECONDS]]]
(defaults: ko_KR.UTF-8, examples/two-languages.smi, 2)
The elements come from BUILD_DIR/lib/gstreamer-1.0. Korean needs a CJK font (fonts-nanum or
fonts-noto-cjk), as any player does.
"""
import os
import pathlib
import struct
import sys
import tempfile
import zlib

build, out = pathlib.Path(sys.argv[1]).resolve(), pathlib.Path(sys.argv[2])
os.environ["GST_PLUGIN_PATH"] = str(build / "lib" / "gstreamer-1.0")
os.environ["LC_MESSAGES"] = sys.argv[3] if len(sys.argv) > 3 else "ko_KR.UTF-8"
os.environ.pop("LC_ALL", None)
import gi  # noqa: E402 (the plug-in path must be set before GStreamer starts)
gi.require_version("Gst", "1.0")
gi.require_version("GstApp", "1.0")
from gi.repository import Gst, GstApp  # noqa: E402,F401

Gst.init(None)
examples = pathlib.Path(__file__).resolve().parent.parent / "examples"
subtitles = pathlib.Path(sys.argv[4]).resolve() if len(sys.argv) > 4 else \
    examples / "two-languages.smi"
at = float(sys.argv[5]) if len(sys.argv) > 5 else 2.0
with tempfile.TemporaryDirectory() as scratch:
    video = pathlib.Path(scratch) / "dark.mkv"
    maker = Gst.parse_launch(
        "videotestsrc pattern=smpte75 num-buffers=50 ! video/x-raw,width=640,height=360,"
        f"framerate=10/1 ! videobalance brightness=-0.35 ! theoraenc ! matroskamux ! "
        f"filesink location={video}")
    maker.set_state(Gst.State.PLAYING)
    maker.get_bus().timed_pop_filtered(30 * Gst.SECOND, Gst.MessageType.EOS)
    maker.set_state(Gst.State.NULL)

    playbin = Gst.ElementFactory.make("playbin")
    sink = Gst.ElementFactory.make("appsink")
    sink.set_property("caps", Gst.Caps.from_string("video/x-raw,format=RGB"))
    playbin.set_property("uri", video.as_uri())
    playbin.set_property("suburi", subtitles.as_uri())
    playbin.set_property("video-sink", sink)
    playbin.set_property("audio-sink", Gst.ElementFactory.make("fakesink"))
    playbin.set_state(Gst.State.PLAYING)
    playbin.get_state(20 * Gst.SECOND)
    frame = None
    while frame is None:
        sample = sink.try_pull_sample(10 * Gst.SECOND)
        if sample is None:
            sys.exit("no frame reached the sink")
        if sample.get_buffer().pts >= at * Gst.SECOND:
            buffer = sample.get_buffer()
            caps = sample.get_caps().get_structure(0)
            frame = (caps.get_value("width"), caps.get_value("height"),
                     buffer.extract_dup(0, buffer.get_size()))
        del sample
    playbin.set_state(Gst.State.NULL)

width, height, rgb = frame
stride = (width * 3 + 3) & ~3  # GStreamer's RGB rows are padded to four bytes
rows = b"".join(b"\0" + rgb[y * stride:y * stride + width * 3] for y in range(height))


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + \
        struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


out.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height,
                                                                 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))
print(f"{out}: {width}x{height}, the frame at {at} s")
