#!/usr/bin/env python3
"""The GStreamer element in real GStreamer pipelines, against the tool's JSON export.

Usage: element_test.py CASE BUILD_DIR EXAMPLES_DIR [valgrind|asan]
CASE is one of: inspect, examples, playbin, player, seeks, leaks. The element is taken from BUILD_DIR's
lib/gstreamer-1.0 with a private registry; the tool from BUILD_DIR/bin. Exits 77 (skipped)
without GStreamer's Python bindings or the elements a case needs.
"""
import atexit
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

case = sys.argv[1]
build, examples_dir = pathlib.Path(sys.argv[2]).resolve(), pathlib.Path(sys.argv[3]).resolve()
checker = sys.argv[4] if len(sys.argv) > 4 else "valgrind"
suppressions = pathlib.Path(__file__).resolve().parent.parent / "valgrind" / "glibc.supp"
scratch = pathlib.Path(tempfile.mkdtemp(prefix="kestrel-gst-"))
atexit.register(shutil.rmtree, scratch, ignore_errors=True)
os.environ["GST_PLUGIN_PATH"] = str(build / "lib" / "gstreamer-1.0")
os.environ["GST_REGISTRY"] = str(scratch / "registry.bin")
os.environ.pop("KESTREL_SAMI_PLUGIN", None)
try:
    import gi
    gi.require_version("Gst", "1.0")
    gi.require_version("GstApp", "1.0")
    gi.require_version("Pango", "1.0")
    from gi.repository import Gst, GstApp, Pango  # noqa: F401 (GstApp gives appsink's methods)
except (ImportError, ValueError) as error:
    print(f"GStreamer's Python bindings are missing ({error}); scripts/install-deps.sh "
          "installs them: skipped")
    sys.exit(77)
Gst.init(None)
examples = sorted(examples_dir.glob("*.smi"))
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def exported(path):
    """The tool's JSON export of every stream of path, in the tool's order."""
    out = subprocess.run([str(build / "bin" / "kestrel-sami"), "export", str(path), "--format",
                          "json"], check=True, capture_output=True, text=True).stdout
    return json.loads(out)["streams"]


def styles(markup):
    """The text of Pango markup and the styles (b, i, u, s) it sets; None if Pango refuses it."""
    try:
        ok, attributes, text, _ = Pango.parse_markup(markup, -1, "\0")
    except Exception:  # GLib.Error: the markup is not valid
        return None
    kinds = {Pango.AttrType.WEIGHT: "b", Pango.AttrType.STYLE: "i",
             Pango.AttrType.UNDERLINE: "u", Pango.AttrType.STRIKETHROUGH: "s"}
    found = {kinds[a.klass.type] for a in attributes.get_attributes() if a.klass.type in kinds}
    return text, found


def raw_styles(markup):
    """The styles the tool's markup opens around some text."""
    return {m.group(1).lower() for m in re.finditer(r"<([bius])>(?=(.*?)(?:</\1>|$))", markup,
                                                      re.I | re.S)
            if re.sub(r"<[^>]*>", "", m.group(2)).strip()}


def collect(pipeline, pads):
    """Runs pipeline to its end, an appsink on each new pad; (pad name, caps, tags, samples)."""
    streams = {}

    def on_sample(sink, name):
        sample = sink.pull_sample()
        buffer = sample.get_buffer()
        data = buffer.extract_dup(0, buffer.get_size()).decode("utf-8")
        streams[name]["samples"].append((buffer.pts, buffer.duration, data))
        return Gst.FlowReturn.OK

    def on_event(pad, info, name):
        event = info.get_event()
        if event.type == Gst.EventType.TAG:
            tags = event.parse_tag()
            for tag in (Gst.TAG_LANGUAGE_CODE, Gst.TAG_TITLE):
                ok, value = tags.get_string(tag)
                if ok:
                    streams[name]["tags"][tag] = value
        elif event.type == Gst.EventType.STREAM_START:
            streams[name]["flags"] = event.parse_stream_flags()
        return Gst.PadProbeReturn.OK

    def on_pad(element, pad):
        # A queue per stream, as behind any demuxer: its one streaming thread must not wait
        # in one sink's preroll while another sink waits for its first buffer.
        name = pad.get_name()
        streams[name] = {"tags": {}, "samples": [], "flags": 0}
        queue = Gst.ElementFactory.make("queue")
        sink = Gst.ElementFactory.make("appsink")
        sink.set_property("sync", False)
        sink.set_property("emit-signals", True)
        sink.connect("new-sample", on_sample, name)
        sink.get_static_pad("sink").add_probe(Gst.PadProbeType.EVENT_DOWNSTREAM, on_event, name)
        pipeline.add(queue)
        pipeline.add(sink)
        queue.link(sink)
        sink.sync_state_with_parent()
        queue.sync_state_with_parent()
        pad.link(queue.get_static_pad("sink"))

    pads.connect("pad-added", on_pad)
    pipeline.set_state(Gst.State.PLAYING)
    message = pipeline.get_bus().timed_pop_filtered(
        30 * Gst.SECOND, Gst.MessageType.EOS | Gst.MessageType.ERROR)
    error = message.parse_error()[0].message if message and \
        message.type == Gst.MessageType.ERROR else None
    pipeline.set_state(Gst.State.NULL)
    return streams, error if message else "no end in 30 s"


def case_inspect():
    for name, klass in (("kestrelsamiparse", "Parser/Subtitle"),
                        ("kestrelsamidemux", "Demuxer/Subtitle")):
        result = subprocess.run(["gst-inspect-1.0", name], capture_output=True, text=True)
        check(result.returncode == 0, f"gst-inspect-1.0 finds {name}: {result.stderr}")
        for expected in ("application/x-subtitle-sami", "format: pango-markup", "language",
                         "subtitle-encoding", klass):
            check(expected in result.stdout, f"gst-inspect-1.0 {name} shows {expected}")
    # subtitleoverlay takes the best "Parser/Subtitle" element, decoding bins parsers first:
    # the parser must win both, and the demuxer, whose pads subtitleoverlay can't link, neither.
    parse, demux, theirs = (Gst.ElementFactory.find(name) for name in
                            ("kestrelsamiparse", "kestrelsamidemux", "subparse"))
    check(parse is not None and (theirs is None or parse.get_rank() > theirs.get_rank()),
          "the parser ranked above subparse")
    check(demux is not None and "Parser" not in demux.get_metadata("klass"),
          "no player takes the demuxer")


# Inline markup as real files get it wrong: misnested, unclosed, stray closings, markup
# characters as text, colours Pango does not know, sizes out of range.
MISNESTED = """<SAMI><HEAD><STYLE TYPE="text/css"><!--
.ENCC { Name: English; lang: en-US; } --></STYLE></HEAD><BODY>
<SYNC Start=1000><P Class=ENCC><b><i>bold italic</b> italic</i> plain
<SYNC Start=2000><P Class=ENCC><font color=red><b>never closed
<SYNC Start=3000><P Class=ENCC></u>stray</s> closings</font>
<SYNC Start=4000><P Class=ENCC>a &lt; b &amp;&amp; c > d "q" 'a'<br>next
<SYNC Start=5000><P Class=ENCC><font color="javascript:x" face="A&quot;B" size=+99999>odd</font>
<SYNC Start=6000><P Class=ENCC><s><u>x<b>y</u>z</s>w</b>
<SYNC Start=7000><P Class=ENCC><b></b><i> </i>&nbsp;
</BODY></SAMI>
"""


def case_examples():
    misnested = scratch / "misnested.smi"
    misnested.write_text(MISNESTED, encoding="utf-8")
    # Also read three bytes at a time, so that UTF-8 sequences arrive cut in two: the text
    # must still be taken as UTF-8.
    korean = examples_dir / "two-languages.smi"
    # And through the decoding bins that plug the parser: decodebin (uridecodebin's too) offers
    # every stream as the demuxer does, parsebin (playbin3's) the viewer's alone.
    demux = 'filesrc blocksize={block} location="{path}" ! kestrelsamidemux name=parse'
    rows = [(p, 4096, demux, None) for p in examples + [misnested]] + [
        (korean, 3, demux, None),
        (korean, 4096, 'filesrc location="{path}" ! decodebin name=parse', None),
        (korean, 4096, 'uridecodebin name=parse uri="{uri}"', None),
        (korean, 4096, 'filesrc location="{path}" ! parsebin name=parse', 1)]
    for path, block, description, offered in rows:
        bin_name = description.split(" name=")[0].split()[-1]
        print(path.name, block, bin_name)
        launched = Gst.parse_launch(description.format(block=block, path=path, uri=path.as_uri()))
        pipeline = launched if isinstance(launched, Gst.Pipeline) else Gst.Pipeline()
        if pipeline is not launched:
            pipeline.add(launched)
        streams, error = collect(pipeline, pipeline.get_by_name("parse"))
        # The viewer's stream first (with LANG=C, the container's own choice), then the rest in
        # the document's order.
        want = sorted(exported(path), key=lambda stream: not stream["selected"])[:offered]
        check(error is None, f"{path.name} {bin_name}: {error}")
        check(len(streams) == len(want), f"{path.name} {bin_name}: {len(streams)} pads, "
                                         f"{len(want)} streams")
        for index, stream in enumerate(want):
            got = streams.get(f"src_{index}", {"tags": {}, "samples": [], "flags": 0})
            where = f"{path.name} {bin_name} src_{index} (stream {stream['id']})"
            check(got["tags"].get(Gst.TAG_LANGUAGE_CODE) == (stream["language"] or None),
                  f"{where}: language tag {got['tags']}")
            check(got["tags"].get(Gst.TAG_TITLE) == (stream["name"] or None),
                  f"{where}: title tag {got['tags']}")
            check(offered == 1 or bool(got["flags"] & Gst.StreamFlags.SELECT) == (index == 0),
                  f"{where}: stream flags {got['flags']}")
            check(len(got["samples"]) == len(stream["subtitles"]),
                  f"{where}: {len(got['samples'])} buffers, {len(stream['subtitles'])} subtitles")
            for (pts, duration, markup), cue in zip(got["samples"], stream["subtitles"]):
                parsed = styles(markup)
                check(parsed is not None, f"{where}: Pango refuses {markup!r}")
                check(pts == cue["start"] * Gst.MSECOND and
                      duration == cue["duration"] * Gst.MSECOND,
                      f"{where}: {pts}+{duration} ns, exported {cue['start']}+{cue['duration']}")
                if parsed:
                    check(parsed == (cue["text"], raw_styles(cue["markup"])),
                          f"{where}: {markup!r} reads {parsed}, exported {cue['text']!r} "
                          f"styled {raw_styles(cue['markup'])}")
    # A file nobody can parse is an error message that says why, not a crash.
    for name, content, says in (("empty.smi", b"", "is empty"),
                                ("plain.smi", b"Just some text, no markup at all.\n",
                                 "has no <SAMI> element")):
        path = scratch / name
        path.write_bytes(content)
        pipeline = Gst.parse_launch(f'filesrc location="{path}" ! kestrelsamidemux name=parse')
        _, error = collect(pipeline, pipeline.get_by_name("parse"))
        check(error is not None and says in error, f"{name}: error {error!r}")


def make_video(seconds, caps="width=32,height=24,framerate=5/1", pattern="smpte",
               encoder=""):
    """A short video in Matroska, made with videotestsrc (raw unless an encoder is named)."""
    path = scratch / f"video-{pattern}.mkv"
    rate = int(caps.rsplit("=", 1)[1].split("/")[0])
    pipeline = Gst.parse_launch(
        f"videotestsrc pattern={pattern} num-buffers={seconds * rate} ! video/x-raw,{caps} ! "
        f"{encoder + ' ! ' if encoder else ''}matroskamux ! filesink location={path}")
    pipeline.set_state(Gst.State.PLAYING)
    pipeline.get_bus().timed_pop_filtered(60 * Gst.SECOND, Gst.MessageType.EOS |
                                          Gst.MessageType.ERROR)
    pipeline.set_state(Gst.State.NULL)
    return path


def text_of(sample):
    """(start in ms, plain text) of a text sample; None for no sample."""
    if sample is None:
        return None
    buffer = sample.get_buffer()
    text = buffer.extract_dup(0, buffer.get_size()).decode("utf-8")
    parsed = styles(text)
    return buffer.pts // Gst.MSECOND, parsed[0] if parsed else text


def seek(playbin, position_ms):
    playbin.seek_simple(Gst.Format.TIME, Gst.SeekFlags.FLUSH | Gst.SeekFlags.ACCURATE,
                        position_ms * Gst.MSECOND)
    playbin.get_state(10 * Gst.SECOND)


def case_playbin():
    for factory in ("videotestsrc", "matroskamux", "matroskademux", "playbin", "appsink"):
        if Gst.ElementFactory.find(factory) is None:
            print(f"{factory} is not installed: skipped")
            sys.exit(77)
    subtitles = examples_dir / "two-languages.smi"
    want = {s["language"]: s["subtitles"] for s in exported(subtitles)}
    video = make_video(40)
    playbin = Gst.ElementFactory.make("playbin")
    text_sink = Gst.ElementFactory.make("appsink")  # in step with the clock, as a player's
    playbin.set_property("uri", video.as_uri())
    playbin.set_property("suburi", subtitles.as_uri())
    playbin.set_property("video-sink", Gst.ElementFactory.make("fakesink"))
    playbin.set_property("audio-sink", Gst.ElementFactory.make("fakesink"))
    playbin.set_property("text-sink", text_sink)
    playbin.set_state(Gst.State.PAUSED)
    result, state, _ = playbin.get_state(20 * Gst.SECOND)
    check(state == Gst.State.PAUSED, f"playbin prerolls: {result} {state}")

    inside = []
    playbin.iterate_recurse().foreach(inside.append)
    parsers = {e.get_factory().get_name() for e in inside if e.get_factory() is not None}
    # playbin's decoding bin tries parsers before demuxers: the parser, with every language,
    # the viewer's first.
    check("kestrelsamiparse" in parsers and "subparse" not in parsers,
          f"playbin with a text sink picks the parser over subparse: {sorted(parsers)}")
    check(playbin.get_property("n-text") == len(want), f"n-text {playbin.get_property('n-text')}")
    languages = [tags.get_string(Gst.TAG_LANGUAGE_CODE)[1] if tags else None for tags in
                 (playbin.emit("get-text-tags", i) for i in range(len(want)))]
    check(languages == ["ko", "en"], f"LANG says Korean, the text streams are in {languages}")

    def cue_at(ms, language="ko"):  # the subtitle on screen at ms, or the next one
        return next((c["start"], c["text"]) for c in want[language]
                    if c["start"] + c["duration"] > ms)

    # Paused, each seek prerolls the subtitle on screen at its position; playing, a seek lands
    # on the right one too.
    for playing, position in ((False, 0), (False, 12000), (True, 19000), (True, 3000)):
        if playing:
            playbin.set_state(Gst.State.PLAYING)
        seek(playbin, position)
        # Held no longer than this line: appsink reuses its samples.
        got = text_of(text_sink.try_pull_sample(10 * Gst.SECOND) if playing else
                      text_sink.try_pull_preroll(10 * Gst.SECOND))
        check(got == cue_at(position), f"{'playing' if playing else 'paused'}, seek to "
                                       f"{position} ms: {got}, expected {cue_at(position)}")
    playbin.set_property("current-text", 1)  # the viewer picks the other language
    seek(playbin, 3000)
    got = text_of(text_sink.try_pull_sample(10 * Gst.SECOND))
    check(got == cue_at(3000, "en"), f"current-text 1: {got}, expected {cue_at(3000, 'en')}")
    playbin.set_state(Gst.State.NULL)


def frame(sink):
    """The next video frame: its time and which of its pixels are near white (the subtitle
    text drawn on the black video). The sample is let go at once: appsink reuses it."""
    sample = sink.try_pull_sample(10 * Gst.SECOND)
    if sample is None:
        return None, frozenset()
    buffer = sample.get_buffer()
    data = buffer.extract_dup(0, buffer.get_size())
    return buffer.pts, frozenset(i // 3 for i in range(0, len(data) - 2, 3)
                                 if data[i] > 150 and data[i + 1] > 150 and data[i + 2] > 150)


def lit_after(sink, position):
    """The bright pixels of the frames from 0.3 s to 0.7 s after position (ms)."""
    lit = frozenset()
    for _ in range(40):
        pts, pixels = frame(sink)
        if pts is None or pts >= (position + 700) * Gst.MSECOND:
            break
        if pts >= (position + 300) * Gst.MSECOND:
            lit |= pixels
    return lit


def case_player():
    """playbin's own overlay path, as desktop players use it: no text-sink, so the subtitles
    are drawn on the video. Played in step with the clock, as a viewer sees it: the overlay
    draws a subtitle only once it has arrived."""
    for factory in ("videotestsrc", "theoraenc", "matroskamux", "playbin", "playbin3",
                    "textoverlay"):
        if Gst.ElementFactory.find(factory) is None:
            print(f"{factory} is not installed: skipped")
            sys.exit(77)
    # Black, so that only subtitles are bright; Theora, as a real file is encoded.
    video = make_video(25, "width=640,height=480,framerate=10/1", "black", "theoraenc")
    subtitles = examples_dir / "two-languages.smi"
    frames = {}
    for player in ("playbin", "playbin3"):
        for locale in ("ko_KR.UTF-8", "en_US.UTF-8"):
            os.environ["LC_MESSAGES"] = locale  # the element takes the viewer's language from it
            where = f"{player} {locale}"
            for attempt in (1, 2, 3):
                playbin = Gst.ElementFactory.make(player)
                sink = Gst.ElementFactory.make("appsink")
                sink.set_property("caps", Gst.Caps.from_string("video/x-raw,format=RGB"))
                playbin.set_property("uri", video.as_uri())
                playbin.set_property("suburi", subtitles.as_uri())
                playbin.set_property("video-sink", sink)
                playbin.set_property("audio-sink", Gst.ElementFactory.make("fakesink"))
                playbin.set_state(Gst.State.PLAYING)
                result, state, _ = playbin.get_state(20 * Gst.SECOND)
                error = playbin.get_bus().pop_filtered(Gst.MessageType.ERROR)
                source = error.src.get_name() if error else ""
                # playbin3 of GStreamer 1.22 races its inputs' stream collections: on a busy
                # machine it now and then selects the subtitles alone (playsink: no video) or
                # not the video (matroskademux: not linked), with subparse as well. Not ours,
                # and tried again.
                # The same race can leave the text stream unselected: nothing is drawn at the
                # first subtitle, which is looked at before anything is judged.
                first = lit_after(sink, 1000) if state == Gst.State.PLAYING else frozenset()
                if (state == Gst.State.PLAYING and first) or attempt == 3 or \
                        "kestrel" in source or player != "playbin3":
                    break
                print(f"note: {where} did not start or selected no text ({source}: "
                      f"{error.parse_error()[0].message if error else result}); again")
                playbin.set_state(Gst.State.NULL)
            check(state == Gst.State.PLAYING, f"{where}: plays ({result} {state} {source})")
            # A subtitle, the blank one that clears the screen, a subtitle after it and the
            # first one again, the later ones reached by seeks as a viewer's jumps are.
            for position, shown in ((1000, True), (11200, False), (13000, True), (2500, True)):
                if position != 1000:
                    seek(playbin, position)
                lit = first if position == 1000 else lit_after(sink, position)
                check(bool(lit) == shown, f"{where}: {len(lit)} bright pixels after {position} ms")
                frames[(player, locale, position)] = lit
            bus = playbin.get_bus()
            while (message := bus.pop_filtered(Gst.MessageType.ERROR)) is not None:
                check(False, f"{where}: {message.parse_error()[0].message}")
            playbin.set_state(Gst.State.NULL)
        korean, english = (frames.get((player, locale, 1000)) for locale in
                           ("ko_KR.UTF-8", "en_US.UTF-8"))
        check(korean and english and korean != english,
              f"{player}: Korean and English viewers see different lines")


def case_seeks():
    """Seeks as an application makes them on the parser's stream: the subtitles of the
    segment, in its direction, and segment-done when a segment seek asks for it."""
    path = examples_dir / "two-languages.smi"
    streams = exported(path)
    starts = [c["start"] for c in streams[0]["subtitles"]]
    end = max(c["start"] + c["duration"] for stream in streams for c in stream["subtitles"])
    flags = Gst.SeekFlags
    cases = [  # rate, flags, start, stop (-1: none), expected first..last, closing message
        (1.0, flags.FLUSH, 5000, -1, (4200, starts[-1]), Gst.MessageType.EOS),
        (1.0, flags.FLUSH, 5000, 13000, (4200, 12000), Gst.MessageType.EOS),
        (-1.0, flags.FLUSH, 0, 13000, (12000, 1000), Gst.MessageType.EOS),
        (2.0, flags.FLUSH | flags.SEGMENT, 4000, 12500, (1000, 12000),
         Gst.MessageType.SEGMENT_DONE),
    ]
    for rate, how, start, stop, (first, last), closing in cases:
        where = f"seek rate {rate} flags {int(how)} {start}..{stop} ms"
        pipeline = Gst.parse_launch(f'filesrc location="{path}" ! kestrelsamiparse ! '
                                    'appsink name=sink sync=false')
        sink = pipeline.get_by_name("sink")
        pipeline.set_state(Gst.State.PAUSED)
        pipeline.get_state(10 * Gst.SECOND)
        duration = pipeline.query_duration(Gst.Format.TIME)
        check(duration == (True, end * Gst.MSECOND), f"duration {duration}, last end {end} ms")
        check(pipeline.seek(rate, Gst.Format.TIME, how, Gst.SeekType.SET, start * Gst.MSECOND,
                            Gst.SeekType.SET if stop >= 0 else Gst.SeekType.NONE,
                            stop * Gst.MSECOND if stop >= 0 else -1), f"{where}: refused")
        pipeline.set_state(Gst.State.PLAYING)
        times = []
        while (sample := sink.try_pull_sample(5 * Gst.SECOND)) is not None:
            times.append(sample.get_buffer().pts // Gst.MSECOND)
            del sample  # appsink reuses its samples
        message = pipeline.get_bus().timed_pop_filtered(
            5 * Gst.SECOND, Gst.MessageType.EOS | Gst.MessageType.SEGMENT_DONE |
            Gst.MessageType.ERROR)
        pipeline.set_state(Gst.State.NULL)
        ordered = times == sorted(times, reverse=rate < 0)
        check(times and (times[0], times[-1]) == (first, last) and ordered,
              f"{where}: subtitles at {times}")
        check(message is not None and message.type == closing,
              f"{where}: ends with {message.type if message else None}")


def our_records(report):
    """The records of a Valgrind or AddressSanitizer report (errors, leaks) whose stack passes
    through our code: the element, the host library, the plug-in, the logging library."""
    records = re.split(r"\n(?:==\d+== ?)?\n", report)
    return [r for r in records if re.search(r"[Kk]estrel", r) and
            re.search(r"lost in loss record|leak of|Invalid|uninitialised|ERROR", r)]


def case_leaks():
    pipeline = []  # one branch per example, a sink on every stream
    for number, path in enumerate(examples):
        pipeline += ["filesrc", f"location={path}", "!", "kestrelsamidemux", f"name=p{number}"]
        for i in range(len(exported(path))):
            pipeline += [f"p{number}.src_{i}", "!", "queue", "!", "fakesink", "sync=false"]
    subprocess.run(["gst-inspect-1.0", "kestrelsamidemux"], check=True, capture_output=True)
    log = scratch / "leaks.log"
    env = dict(os.environ, LANG="C", LC_ALL="", KESTREL_LOG="")
    if checker == "asan":  # the runtime is preloaded (LD_PRELOAD) by whoever runs this
        env["ASAN_OPTIONS"] = f"detect_leaks=1:exitcode=0:log_path={log}"
        command = ["gst-launch-1.0", "-q"]
    else:
        command = ["valgrind", "--quiet", f"--log-file={log}", "--leak-check=full",
                   "--num-callers=40", "--show-leak-kinds=definite,indirect",
                   f"--suppressions={suppressions}", "gst-launch-1.0", "-q"]
    result = subprocess.run(command + pipeline, env=env, capture_output=True, text=True)
    check(result.returncode == 0, f"the pipeline over every example: {result.stderr}")
    report = "".join(p.read_text() for p in scratch.glob("leaks.log*"))
    ours = our_records(report)
    check(not ours, "errors or leaks through our code:\n" + "\n\n".join(ours))


{"inspect": case_inspect, "examples": case_examples, "playbin": case_playbin,
 "player": case_player, "seeks": case_seeks, "leaks": case_leaks}[case]()
print(f"{case}: {len(failures)} failure(s)")
sys.exit(1 if failures else 0)
