#include "SubtitleText.h"

#include <gtest/gtest.h>

using namespace KestrelTool;

namespace {

std::string vtt(std::string_view markup) {
  std::set<std::string> classes;
  return vttText(markup, classes);
}

} // namespace

TEST(SubtitleText, EveryLineBreakFormBreaksOnce) {
  const struct {
    const char* markup;
    const char* plain;
  } cases[] = {
      {"a<**>b", "a\nb"},
      {"a<br>b", "a\nb"},
      {"a<BR/>b", "a\nb"},
      {"a<br />b", "a\nb"},
      {"a<br>\r\nb", "a\nb"}, // the line end written after a kept <br> is the same break
      {"a<br>\nb", "a\nb"},
      {"a\r\n  b", "a b"}, // a line end in the text is white space, as in HTML
      {"  a \t b  ", "a b"},
      {"<br><**>a<br><br>b<br>", "a\nb"}, // never an empty line: it would end a cue
      {"a <b>", "a"},
      {"a < b <x> c", "a < b <x> c"}, // a "<" that is not markup stays text
      {"<brx>", "<brx>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.markup);
    EXPECT_EQ(plainText(c.markup), c.plain);
  }
}

TEST(SubtitleText, SubRipKeepsItsStylesAndNestsThem) {
  const struct {
    const char* markup;
    const char* srt;
  } cases[] = {
      {"<B>a</B> <I>b</I> <u>c</u> <s>d</s>", "<b>a</b> <i>b</i> <u>c</u> d"},
      {"<font face=\"Arial\" size=\"+2\" color=\"#FF0000\">x</font>",
       "<font color=\"#ff0000\">x</font>"},
      {"<FONT COLOR=FFCC00>x</FONT>", "<font color=\"#ffcc00\">x</font>"},
      {"<font face=Arial>x</font>", "x"}, // no colour, no tag
      {"<font color=\"red\" onclick=\"x\">x</font>", "<font color=\"red\">x</font>"},
      {"<font color=\"red x=1\">x</font>", "x"},       // not a colour: dropped
      {"<font color='\"><i>'>x", "<i>'>x</i>"},        // an item ends at its first ">"
      {"<b><i>x</b>y</i>", "<b><i>x</i></b><i>y</i>"}, // crossed tags re-nested
      {"<font color=red>open to the end", "<font color=\"red\">open to the end</font>"},
      {"a</b>c", "ac"},                         // a closer without opener
      {"<b></b>x<i> </i>", "x"},                // empty pairs vanish
      {"<b>one<br>two</b>", "<b>one\ntwo</b>"}, // tags may span lines
      {"<b>one<br></b>", "<b>one</b>"},         // closer finishes the line
      // Words apart by one space or by more white space, control characters kept as text,
      // a "<" that starts no item, the same tag twice in a cue.
      {"one two<br/>three  four\tfive\r\nsix", "one two\nthree four five six"},
      {"a\x01"
       "b c\x0B"
       "d",
       "a\x01"
       "b c\x0B"
       "d"},
      {"abcdefghij<k l>m nopqrstuvw", "abcdefghij<k l>m nopqrstuvw"},
      {"<font color=red>a</font> <font color=red>b</font>",
       "<font color=\"red\">a</font> <font color=\"red\">b</font>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.markup);
    EXPECT_EQ(srtText(c.markup), c.srt);
  }
}

// Tags read once are remembered, a few at a time: more distinct ones than are kept, taken in
// turn, each still gives its own colour.
TEST(SubtitleText, TagsSeenBeforeGiveWhatTheyGaveThen) {
  std::vector<Cue> cues;
  std::string expected;
  for (uint32_t i = 0; i < 36; ++i) {
    const std::string digits = std::to_string(10 + i % 12);
    cues.push_back({1000 * i, 500, "<font color=#0000" + digits + " size=2>x</font>"});
    expected += std::to_string(i + 1) + "\n" + formatTime(1000 * i, ',') + " --> " +
                formatTime(1000 * i + 500, ',') + "\n<font color=\"#0000" + digits +
                "\">x</font>\n\n";
  }
  EXPECT_EQ(writeSrt(cues), expected);
}

TEST(SubtitleText, WebVttEscapesTextAndTurnsColoursIntoClasses) {
  EXPECT_EQ(vtt("Tom & Jerry <3 a>b --> c"), "Tom &amp; Jerry &lt;3 a&gt;b --&gt; c");
  EXPECT_EQ(vtt("<font color=#FF0000>r</font><font color=aqua>c</font>"),
            "<c.red>r</c><c.cyan>c</c>");
  EXPECT_EQ(vtt("<s>gone</s> <b>b</b>"), "gone <b>b</b>");

  std::set<std::string> classes;
  EXPECT_EQ(vttText("<font color=#ff8000>o</font><font color=#ff8000></font>", classes),
            "<c.color_ff8000>o</c>");
  EXPECT_EQ(classes, std::set<std::string>{"#ff8000"});
  classes.clear();
  (void)vttText("<font color=orange></font>", classes);
  EXPECT_TRUE(classes.empty()) << "a colour no text uses needs no style";
}

TEST(SubtitleText, ColoursAreNormalisedOrRefused) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"#FF0000", "#ff0000"},
               {"FFcc00", "#ffcc00"},
               {"#AbC", "#aabbcc"},
               {" Red ", "red"},
               {"#12", ""},
               {"12345", ""},
               {"red;x", ""},
               {"", ""},
               {"#", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(normalizeColor(c.in), c.out);
  }
}

TEST(SubtitleText, FilesLeaveOutCuesNobodySees) {
  const std::vector<Cue> cues{{1000, 0, "same start, shortened to nothing"},
                              {1000, 2000, "shown"},
                              {3000, 500, "\xC2\xA0"}, // a no-break space clears the screen
                              {3500, 1, "<b></b>"},
                              {UINT32_MAX, UINT32_MAX, "late"}};
  EXPECT_EQ(writeSrt(cues), "1\n00:00:01,000 --> 00:00:03,000\nshown\n\n"
                            "2\n1193:02:47,295 --> 2386:05:34,590\nlate\n\n");
  EXPECT_EQ(writeVtt(cues), "WEBVTT\n\n00:00:01.000 --> 00:00:03.000\nshown\n\n"
                            "1193:02:47.295 --> 2386:05:34.590\nlate\n\n");
  EXPECT_EQ(writeVtt({{0, 1000, "<font color=#010203>x</font>"}}),
            "WEBVTT\n\nSTYLE\n::cue(.color_010203) { color: #010203; }\n\n"
            "00:00:00.000 --> 00:00:01.000\n<c.color_010203>x</c>\n\n");
}

// The writers render each cue straight into the file and take it back when nothing in it
// would be seen: the numbering skips it, and a colour only it used gets no STYLE rule.
TEST(SubtitleText, CuesTakenBackLeaveNoTrace) {
  const std::vector<Cue> cues{{0, 1000, "<b>\xC2\xA0</b>"},
                              {1000, 1000, "<font color=#010203>a</font>"},
                              {2000, 1000, " <i> </i><font color=#040506>\xC2\xA0</font>"},
                              {3000, 1000, "<i>b</i>"}};
  EXPECT_EQ(writeSrt(cues), "1\n00:00:01,000 --> 00:00:02,000\n<font color=\"#010203\">a</font>\n\n"
                            "2\n00:00:03,000 --> 00:00:04,000\n<i>b</i>\n\n");
  EXPECT_EQ(writeVtt(cues), "WEBVTT\n\nSTYLE\n::cue(.color_010203) { color: #010203; }\n\n"
                            "00:00:01.000 --> 00:00:02.000\n<c.color_010203>a</c>\n\n"
                            "00:00:03.000 --> 00:00:04.000\n<i>b</i>\n\n");
  // Visible means a byte other than white space or a no-break space in the text alone, its
  // pieces joined across tags but kept apart by white space and line breaks.
  const struct {
    const char* markup;
    bool shown;
  } visible[] = {{"\xC2\xA0 \xC2\xA0<br>\xC2\xA0", false},
                 {"\xC2<b>\xA0</b>", false},
                 {"\xC2 \xA0", true},
                 {"\xC2<br>\xA0", true},
                 {"<b></b> \xC2", true},
                 {"\xC2\xA0\xA0", true}};
  for (const auto& c : visible) {
    SCOPED_TRACE(c.markup);
    EXPECT_EQ(isShown({0, 1, c.markup}), c.shown);
  }
  // A line that starts with tags closing the line before keeps them ahead of its break.
  EXPECT_EQ(srtText("<b>x<br></b>y"), "<b>x\n</b>y");
}

TEST(SubtitleText, JsonKeepsEverySampleAndStaysValid) {
  StreamCues stream{7, "Quote \"q\"", "en", "", true, {}};
  stream.cues = {{0, 0, "a\\b\x01<**>c"}, {5, 1, "bad \xFF byte"}};
  EXPECT_EQ(
      writeJson("dir/f.smi", {stream}),
      "{\n  \"source\": \"dir/f.smi\",\n  \"streams\": [\n    {\n      \"id\": 7,\n"
      "      \"name\": \"Quote \\\"q\\\"\",\n      \"language\": \"en\",\n"
      "      \"region\": \"\",\n      \"selected\": true,\n      \"subtitles\": [\n"
      "        {\"start\": 0, \"duration\": 0, \"end\": 0, \"text\": \"a\\\\b\\u0001\\nc\", "
      "\"markup\": \"a\\\\b\\u0001<**>c\"},\n"
      "        {\"start\": 5, \"duration\": 1, \"end\": 6, \"text\": \"bad \xEF\xBF\xBD byte\", "
      "\"markup\": \"bad \xEF\xBF\xBD byte\"}\n      ]\n    }\n  ]\n}\n");
  EXPECT_EQ(writeJson("f", {}), "{\n  \"source\": \"f\",\n  \"streams\": []\n}\n");
}

TEST(SubtitleText, AssStyleIsWhatEveryCueSharesAndTagsTheRest) {
  const auto dialogue = [](const std::string& ass, int n) {
    size_t at = 0;
    for (int i = 0; i <= n; ++i)
      at = ass.find("\nDialogue: ", at + 1);
    const size_t text = ass.find(",,", ass.find(",,", at) + 2) + 2; // after Name and Effect
    return ass.substr(text, ass.find('\n', text) - text);
  };
  const struct {
    std::vector<const char*> markups;
    const char* style; // the Style line after its name
    const char* firstText;
  } cases[] = {
      // A class wrapped around every cue becomes the style: no tags in the text.
      {{"<font face=\"Georgia\" size=\"+2\" color=\"#FF8000\"><b>a</b></font>",
        "<font face=\"Georgia\" size=\"+2\" color=\"#ff8000\"><b>b<**>c</b></font>"},
       "Georgia,24,&H000080FF,&H000000FF,&H00000000,&H80000000,-1,0,0,0,",
       "a"},
      // What only some text has is tagged, and undone where it ends.
      {{"x <i>y</i> <font color=red>z</font>", "w"},
       "Arial,20,&H00FFFFFF,&H000000FF,&H00000000,&H80000000,0,0,0,0,",
       "x{\\i1} y{\\i0\\c&H0000FF&} z"},
      {{"<u>a</u><s>b</s><br>c {d}"},
       "Arial,20,&H00FFFFFF,&H000000FF,&H00000000,&H80000000,0,0,0,0,",
       "{\\u1}a{\\u0\\s1}b\\N{\\s0}c \\{d\\}"},
      // A font list gives its first family, whether it comes as the style or as a tag.
      {{"<font face='\"Times New Roman\", serif'>a</font>"},
       "Times New Roman,20,&H00FFFFFF,&H000000FF,&H00000000,&H80000000,0,0,0,0,",
       "a"},
      {{"<font face=\" arial , sans-serif\">x</font> y"},
       "Arial,20,&H00FFFFFF,&H000000FF,&H00000000,&H80000000,0,0,0,0,",
       "{\\fnarial}x{\\fnArial} y"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.markups.front());
    std::vector<Cue> cues;
    for (const char* markup : c.markups)
      cues.push_back({static_cast<uint32_t>(cues.size() * 1000), 1000, markup});
    const std::string ass = writeAss(cues, "Eng, lish");
    EXPECT_NE(ass.find(std::string("\nStyle: Eng  lish,") + c.style), std::string::npos) << ass;
    EXPECT_EQ(dialogue(ass, 0), c.firstText);
  }
  // Centiseconds: starts and ends cut the same way, so cues that meet still meet; a cue
  // shorter than that gets one where it reaches no further than the next start.
  const struct {
    std::vector<Cue> cues;
    const char* times;
  } timings[] = {
      {{{1005, 5, "a"}}, "0:00:01.00,0:00:01.01;"},
      {{{1005, 1000, "a"}, {2005, 1000, "b"}}, "0:00:01.00,0:00:02.00;0:00:02.00,0:00:03.00;"},
      {{{3001, 3, "a"}, {3004, 1996, "b"}}, "0:00:03.00,0:00:03.00;0:00:03.00,0:00:05.00;"},
      {{{3001, 3, "a"}, {3010, 990, "b"}}, "0:00:03.00,0:00:03.01;0:00:03.01,0:00:04.00;"},
  };
  for (const auto& t : timings) {
    SCOPED_TRACE(t.times);
    const std::string ass = writeAss(t.cues, "");
    std::string times;
    for (size_t at = ass.find("\nDialogue: 0,"); at != std::string::npos;
         at = ass.find("\nDialogue: 0,", at + 1))
      times += ass.substr(at + 13, 21) + ";";
    EXPECT_EQ(times, t.times);
  }
}
