#include "sami/DocumentScan.h"

#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using Kestrel::DocumentScan;

namespace {

// Every filed subtitle as "key start+duration text", tracks in key order, each track in
// document order. The scan gives back whatever it still holds when it goes.
std::vector<std::string> scanned(std::string document) {
  DocumentScan scan;
  scan.scan(document.data());
  std::vector<std::string> out;
  for (const DocumentScan::Track& track : scan.tracks()) {
    const std::string key(track.key);
    for (const Kestrel::StoredEntry& entry : *track.entries) {
      out.push_back(key + " " + std::to_string(entry.start) + "+" + std::to_string(entry.duration) +
                    " " + scan.texts()->textAt(entry.stored));
    }
  }
  return out;
}

using Lines = std::vector<std::string>;

std::string sheet(const std::string& rules) {
  return "<STYLE TYPE=\"text/css\"><!--\n" + rules + "\n--></STYLE>";
}

std::string repeated(const std::string& piece, int count) {
  std::string out;
  for (int i = 0; i < count; ++i)
    out += piece;
  return out;
}

} // namespace

TEST(Scan, SyncBlocksParagraphsAndTheDurationRule) {
  const struct {
    const char* name;
    std::string document;
    Lines expected;
  } cases[] = {
      {"next subtitle of the track ends the last",
       "<SYNC Start=1000><P Class=ENCC>Hello<SYNC Start=3000><P Class=ENCC>World",
       {".encc 1000+2000 Hello", ".encc 3000+10000 World"}},
      {"other tracks end nothing",
       "<SYNC Start=1000><P Class=ENCC>Hello<SYNC Start=3000><P Class=KRCC>World",
       {".encc 1000+10000 Hello", ".krcc 3000+10000 World"}},
      {"text outside SYNC blocks is not filed",
       "<SAMI><HEAD><TITLE>Title</TITLE></HEAD><BODY>lead<SYNC Start=1><P>a</P></SYNC>between"
       "<SYNC Start=2><P>b</BODY>",
       {"-unknown- 1+1 a", "-unknown- 2+10000 b"}},
      {"same start: one subtitle, a line per paragraph",
       "<SYNC Start=1><P>a<SYNC Start=1><P>b",
       {"-unknown- 1+10000 a<**>b"}},
      {"an earlier start shortens nothing",
       "<SYNC Start=5000><P>a<SYNC Start=3000><P>b<SYNC Start=4000><P>c",
       {"-unknown- 5000+10000 a", "-unknown- 3000+1000 b", "-unknown- 4000+10000 c"}},
      {"unreadable start drops the block",
       "<SYNC Start=5><P>a<SYNC Start=abc><P>b<SYNC><P>c",
       {"-unknown- 5+10000 a"}},
      {"a SYNC without start keeps the last one",
       "<SYNC Start=5><P>a<SYNC><P>c",
       {"-unknown- 5+10000 a<**>c"}},
      {"unless </SYNC> came between",
       "<SYNC Start=5><P>a</SYNC><SYNC><P>c",
       {"-unknown- 5+10000 a"}},
      {"start read like %u, quoted either way",
       "<SYNC Start=12abc><P>a<SYNC Start=\"2000\"><P>b<SYNC Start='9'><P>c",
       {"-unknown- 12+1988 a", "-unknown- 2000+10000 b", "-unknown- 9+10000 c"}},
      {"start wraps like %u",
       "<SYNC Start=-2><P>a<SYNC Start=4294967296><P>b<SYNC Start=-18446744073709551615><P>c",
       {"-unknown- 4294967294+2 a", "-unknown- 0+1 b", "-unknown- 1+10000 c"}},
      {"uppercase markup", "<SYNC START=500><P CLASS=EnCC>x", {".encc 500+10000 x"}},
      {"blanks around = are no part of the name",
       "<SYNC Start = 1><P Class = ENCC>x",
       {".encc 1+10000 x"}},
      {"the outermost class decides the track",
       "<BODY Class=Outer><SYNC Start=1><P Class=Inner>t",
       {".outer 1+10000 t"}},
      {"a closing item pops only a matching innermost element",
       "<SYNC Start=1><P><DIV Class=X>a</P>b</DIV>c",
       {"-unknown- 1+10000 c", ".x 1+10000 ab"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(scanned(c.document), c.expected);
  }
}

TEST(Scan, TextRunsTrimmingLineBreaksAndInlineMarkup) {
  const struct {
    const char* name;
    std::string document;
    Lines expected;
  } cases[] = {
      {"<br> not followed by a line end",
       "<SYNC Start=1><P>Line one<br>Line two",
       {"-unknown- 1+10000 Line one<**>Line two"}},
      {"<br> followed by CR LF stays",
       "<SYNC Start=1><P>Line one<BR>\r\nLine two\r\n",
       {"-unknown- 1+10000 Line one<BR>\r\nLine two"}},
      {"self-closing breaks follow the same rule",
       "<SYNC Start=1><P>a<br/>b<BR />c<br/>\nd<br />\re",
       {"-unknown- 1+10000 a<**>b<**>c<br/>\nd<br />\re"}},
      {"inline fonts stay in the one subtitle",
       "<SYNC Start=1><P>a <font color=red>b</font> c<SYNC Start=2><P><FONT Color=\"Red\" "
       "Face=x>d</FONT>",
       {"-unknown- 1+1 a <font color=red>b</font> c",
        "-unknown- 2+10000 <FONT Color=\"Red\" Face=x>d</FONT>"}},
      {"style tags kept as written",
       "<SYNC Start=1><P><B>b</B> <i>i</i><u>u</u><S>s</S>",
       {"-unknown- 1+10000 <B>b</B> <i>i</i><u>u</u><S>s</S>"}},
      {"look-alikes are elements",
       "<SYNC Start=1><P>a<fontx>b<br clear=all>c<bb>d",
       {"-unknown- 1+10000 abcd"}},
      {"blank paragraphs file nothing; &nbsp; is text",
       "<SYNC Start=1><P>a<SYNC Start=2><P> \r\n\t <SYNC Start=3><P>&nbsp;",
       {"-unknown- 1+2 a", "-unknown- 3+10000 \xC2\xA0"}},
      {"inside blanks stay; entities decode after trimming",
       "<SYNC Start=1><P>  Tom  &amp;\r\n Jerry &lt;3 \r\n",
       {"-unknown- 1+10000 Tom  &\r\n Jerry <3"}},
      {"a comment ends at its first >",
       "<SYNC Start=1><P>a<!-- x > y -->b",
       {"-unknown- 1+10000 a y -->b"}},
      {"an unterminated item ends the scan",
       "<SYNC Start=1><P>a<SYNC Start=2><P>b<P Class=x",
       {"-unknown- 1+1 a", "-unknown- 2+10000 b"}},
      {"a final < is dropped", "<SYNC Start=1><P>a<", {"-unknown- 1+10000 a"}},
      {"an unterminated font ends the scan too",
       "<SYNC Start=1><P>a<font color=red",
       {"-unknown- 1+10000 a"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(scanned(c.document), c.expected);
  }
}

TEST(Scan, StyleRulesWrapTheTextInStackOrder) {
  const struct {
    const char* name;
    std::string document;
    Lines expected;
  } cases[] = {
      {"element, class and id rules",
       sheet("P { color: red; } .A { font-weight: bold; } #I { font-style: italic; }") +
           "<SYNC Start=1><P Class=A ID=I>t",
       {".a 1+10000 <font color=\"red\"><b><i>t</i></b></font>"}},
      {"the innermost element's rules outermost",
       sheet(".A { font-weight: bold; } .B { font-style: italic; } DIV { text-decoration: "
             "underline; } SPAN { text-decoration: line-through; }") +
           "<DIV Class=A><SPAN Class=B><DIV Class=A><SYNC Start=1>t",
       {".a 1+10000 <u><b><s><i><u><b>t</b></u></i></s></b></u>"}},
      {"an id counts only on the innermost element",
       sheet("#I { font-weight: bold }") + "<DIV ID=I><SYNC Start=1><P>t",
       {"-unknown- 1+10000 t"}},
      {"a comment outside STYLE or of another type defines nothing",
       "<!-- .A { color: red } --><STYLE><!-- .A { color: red } --></STYLE>"
       "<STYLE TYPE=text/javascript><!-- .A { color: red } --></STYLE>"
       "<SYNC Start=1><P Class=A>t",
       {".a 1+10000 t"}},
      {"Text/CSS qualifies",
       "<STYLE Type=\"Text/CSS\"><!-- .A { color: red; } --></STYLE><SYNC Start=1><P Class=A>t",
       {".a 1+10000 <font color=\"red\">t</font>"}},
      {"a later sheet restyles elements already open",
       "<BODY>" + sheet("BODY { color: red; }") + "<SYNC Start=1><P>a" +
           sheet("BODY { font-weight: bold; }") + "<SYNC Start=2><P>b" + sheet("BODY { name: x }") +
           "<SYNC Start=3><P>c",
       {"-unknown- 1+1 <font color=\"red\">a</font>", "-unknown- 2+1 <b>b</b>",
        "-unknown- 3+10000 c"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(scanned(c.document), c.expected);
  }
}

TEST(Scan, WhatStartsTogetherInATrackIsShownTogether) {
  const std::string korean = sheet(".KRCC { lang: kr-KR; } .ENCC { color: red; }");
  const struct {
    const char* name;
    std::string document;
    Lines expected;
  } cases[] = {
      {"elements inside a paragraph join it, a blank where the document had one",
       korean + "<SYNC Start=1><P Class=KRCC>\xEC\x9D\xB4 <ruby>\xED\x9E\x88<rt>(x)</rt></ruby>!",
       {".krcc 1+10000 \xEC\x9D\xB4 \xED\x9E\x88(x)!"}},
      {"spans and a line break",
       "<SYNC Start=1><P><span a=\"b\">NOVA</span> is <span foo=\"bar\">a</span> "
       "production<br/>of WGBH Boston.",
       {"-unknown- 1+10000 NOVA is a production<**>of WGBH Boston."}},
      {"a blank between two elements",
       "<SYNC Start=1><P><i>a</i><x>b</x> <x>c</x>",
       {"-unknown- 1+10000 <i>a</i>b c"}},
      {"paragraphs of one start, one under the other",
       korean + "<SYNC Start=1><P>a</P><P>b<SYNC Start=1><P>c<P Class=ENCC>d",
       {"-unknown- 1+10000 a<**>b<**>c", ".encc 1+10000 <font color=\"red\">d</font>"}},
      {"a font around a paragraph is no subtitle and ends none",
       "<SYNC Start=1000><FONT color=red><P>Hello</P></FONT><SYNC Start=2000><P>World",
       {"-unknown- 1000+1000 Hello", "-unknown- 2000+10000 World"}},
      {"markup and blanks alone file nothing",
       "<SYNC Start=1><P>a<SYNC Start=2><P><b> </b><br>",
       {"-unknown- 1+10000 a"}},
      {"a font with a class picks the track and its rules",
       korean + "<SYNC Start=1><P><FONT Class=ENCC>Hello</FONT><SYNC Start=2><P>x",
       {"-unknown- 2+10000 x", ".encc 1+10000 <font color=\"red\">Hello</font>"}},
      {"a font with an id picks its rule",
       sheet("#T { font-weight: bold; }") + "<SYNC Start=1><P><font id='t' color=red>a</font>",
       {"-unknown- 1+10000 <b>a</b>"}},
      {"attribute values quoted either way, blanks around =",
       "<SYNC Start = 1000><P>hello<SYNC Start='3000'><P>hello",
       {"-unknown- 1000+2000 hello", "-unknown- 3000+10000 hello"}},
      {"a clear before a line at its start adds no line",
       korean + "<SYNC Start=1><P Class=KRCC>&nbsp;<SYNC Start=1><P Class=KRCC>a<br>b",
       {".krcc 1+10000 a<**>b"}},
      {"nor a clear after it, with its markup",
       sheet(".A { color: red; }") + "<SYNC Start=1><P Class=A>a<P Class=A><i> &nbsp; </i>",
       {".a 1+10000 <font color=\"red\">a</font>"}},
      {"nor one between two lines",
       "<SYNC Start=1><P>a<P>&nbsp;<span>&nbsp;</span><P>&nbsp;<span>b</span>",
       {"-unknown- 1+10000 a<**>\xC2\xA0"
        "b"}},
      {"a start of clears alone stays one clear",
       "<SYNC Start=1><P>&nbsp;<P> &nbsp;<br>&nbsp;",
       {"-unknown- 1+10000 \xC2\xA0<**>\xC2\xA0<**>\xC2\xA0"}},
      {"inline tags continue across a cut under the class's rules",
       sheet(".K { color: white; }") +
           "<SYNC Start=1><P Class=K>aa <font color=\"#808080\"><ruby>bb<rt>(cc)</rt></ruby>dd"
           "</font> ee",
       {".k 1+10000 <font color=\"white\">aa <font color=\"#808080\">bb(cc)dd</font> "
        "ee</font>"}},
      {"a class inside an inline tag styles inside it",
       sheet(".A { font-weight: bold; } .B { color: red; }") +
           "<SYNC Start=1><P Class=A>x <i><span class=B>y</span>z</i>",
       {".a 1+10000 <b>x <i></i></b><b><i><font color=\"red\">y</font></i></b><b><i>z</i></b>"}},
      {"an inline tag opened in a class element goes on after it",
       sheet(".B { color: red; }") + "<SYNC Start=1><P>x<span class=B><i>y</span>z</i>",
       {"-unknown- 1+10000 x<i>z</i>", ".b 1+10000 <font color=\"red\"><i>y</i></font>"}},
      {"markup around a cut stays in place",
       "<SYNC Start=1><P><i><span>x</span>y</i><SYNC Start=2><P><font color=yellow><ruby>k"
       "<rt>kan</rt></ruby></font><SYNC Start=3><P><i>Hello<span>x</span></i>",
       {"-unknown- 1+1 <i>xy</i>", "-unknown- 2+1 <font color=yellow>kkan</font>",
        "-unknown- 3+10000 <i>Hellox</i>"}},
      {"one start is one subtitle wherever its pieces lie",
       "<SYNC Start=1000><P>one<SYNC Start=2000><P>x<SYNC Start=1000><P>two",
       {"-unknown- 1000+1000 one<**>two", "-unknown- 2000+10000 x"}},
      {"also in a track whose starts fall",
       "<SYNC Start=5><P>a<SYNC Start=3><P>b<SYNC Start=5><P>c<SYNC Start=3><P>d<SYNC Start=4><P>e",
       {"-unknown- 5+10000 a<**>c", "-unknown- 3+1 b<**>d", "-unknown- 4+10000 e"}},
      {"an unclosed tag stays as written, closed only inside rules",
       sheet(".A { color: red; }") + "<SYNC Start=1><P>a<i>b<P Class=A><b>c",
       {"-unknown- 1+10000 a<i>b", ".a 1+10000 <font color=\"red\"><b>c</b></font>"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(scanned(c.document), c.expected);
  }
}

TEST(Scan, LaterStyleSheetEmptiesTheTracksOfItsClasses) {
  // The first paragraphs' chunks are given back (the sanitizer run checks nothing leaks);
  // the unknown track and classes without a rule keep theirs.
  const std::string document = sheet(".A { name: A }") +
                               "<SYNC Start=1><P Class=A>one<P Class=B>two<P Class=C>keep<P>three" +
                               sheet(".B { name: B }") + "<SYNC Start=2><P Class=A>four";
  const Lines expected = {"-unknown- 1+10000 three", ".a 2+10000 four", ".c 1+10000 keep"};
  EXPECT_EQ(scanned(document), expected);
}

TEST(Scan, DeepStacksStyleEverySubtitle) {
  // Unclosed elements before and between paragraphs: every later subtitle sits under all
  // of them, and closing items take them off again.
  const int depth = 2000;
  const std::string document = sheet("DIV { font-style: italic; }") + repeated("<DIV>", depth) +
                               "<SYNC Start=1><P>a</P></SYNC>" + repeated("<DIV>", depth) +
                               "<SYNC Start=2><P>b</P></SYNC>" + repeated("</DIV>", depth) +
                               "<SYNC Start=3><P>c";
  const Lines expected = {
      "-unknown- 1+1 " + repeated("<i>", depth) + "a" + repeated("</i>", depth),
      "-unknown- 2+1 " + repeated("<i>", 2 * depth) + "b" + repeated("</i>", 2 * depth),
      "-unknown- 3+10000 " + repeated("<i>", depth) + "c" + repeated("</i>", depth)};
  const Lines got = scanned(document);
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i)
    EXPECT_TRUE(got[i] == expected[i]) << "subtitle " << i << " starts " << got[i].substr(0, 40);
}

TEST(Scan, StopsAtTheFirstNul) {
  std::string document = "<SYNC Start=1><P>a";
  document += '\0';
  document += "<SYNC Start=2><P>b";
  EXPECT_EQ(scanned(document), Lines{"-unknown- 1+10000 a"});
}

TEST(Scan, TracksInByteOrderOfKeysOfEveryLength) {
  // Keys sharing their first eight bytes, one the start of another, one past the short-key
  // room, and a byte above ASCII, which orders after every ASCII byte.
  const std::string longClass = "abcdefghijklmnopqrstuvwxyz";
  const std::string document = sheet("." + longClass + " { color: red; name: Long; }") +
                               "<SYNC Start=1><P Class=abcdefgh2>a<P Class=abcdefgh1>b"
                               "<P Class=abcdefg>c<P Class=\xC3\xA9>d<P Class=" +
                               longClass + ">e<P>f";
  const Lines expected = {"-unknown- 1+10000 f",
                          ".abcdefg 1+10000 c",
                          ".abcdefgh1 1+10000 b",
                          ".abcdefgh2 1+10000 a",
                          "." + longClass + " 1+10000 <font color=\"red\">e</font>",
                          ".\xC3\xA9 1+10000 d"};
  EXPECT_EQ(scanned(document), expected);

  DocumentScan scan;
  std::string text = document;
  scan.scan(text.data());
  const auto tracks = scan.tracks();
  ASSERT_EQ(tracks.size(), 6u);
  EXPECT_EQ(tracks[4].name, std::optional<std::string_view>("Long"));
  EXPECT_EQ(tracks[3].name, std::nullopt);
}

TEST(Scan, SheetsAreReadInPlaceUpToTheirLastBrace) {
  // The unfinished rule after the last "}" defines nothing, and the scan goes on after the
  // sheet. A value larger than the text blocks rules are kept in still reaches the markup.
  const std::string face(40000, 'f');
  const std::string document =
      sheet(".A { color: red; } .BIG { font-family: " + face + "; } .B { color: blue") +
      "<SYNC Start=1><P Class=A>a<P Class=B>b<P Class=BIG>c";
  const Lines expected = {".a 1+10000 <font color=\"red\">a</font>", ".b 1+10000 b",
                          ".big 1+10000 <font face=\"" + face + "\">c</font>"};
  EXPECT_EQ(scanned(document), expected);
}

TEST(Scan, AClassNestedInItselfStylesOncePerLevel) {
  const std::string document = sheet(".A { font-weight: bold; }") +
                               "<SYNC Start=1><P Class=A><SPAN Class=A><SPAN Class=A>t</SPAN>"
                               "</SPAN>u<SPAN Class=A>v</SPAN>w";
  const Lines expected = {".a 1+10000 <b><b><b>t</b></b></b><b>u</b><b><b>v</b></b><b>w</b>"};
  EXPECT_EQ(scanned(document), expected);
}

TEST(Scan, TracksKnowWhetherTheirStartsRise) {
  // A track whose starts fall somewhere must be sorted by whoever stores it; one emptied by
  // a later sheet starts again in order.
  std::string document = sheet(".C { name: C }") +
                         "<SYNC Start=5><P Class=A>x<SYNC Start=3><P Class=A>y"
                         "<SYNC Start=3><P Class=B>z<SYNC Start=3><P Class=B>w"
                         "<SYNC Start=9><P Class=C>p<SYNC Start=8><P Class=C>q" +
                         sheet(".C { name: C }") + "<SYNC Start=10><P Class=C>r";
  DocumentScan scan;
  scan.scan(document.data());
  const auto tracks = scan.tracks();
  ASSERT_EQ(tracks.size(), 3u);
  EXPECT_EQ(tracks[0].key, ".a");
  EXPECT_FALSE(tracks[0].byStart);
  EXPECT_EQ(tracks[1].key, ".b");
  EXPECT_TRUE(tracks[1].byStart);
  EXPECT_EQ(tracks[2].key, ".c");
  EXPECT_TRUE(tracks[2].byStart);
  EXPECT_EQ(tracks[2].entries->size(), 1u);
}

TEST(Scan, NamesChosenToCollideDoNotPileUpInTheKeyTable) {
  // Class names whose unkeyed hashes all share their low bits would fill one run of an
  // unkeyed table, and every later lookup would walk it: quadratic in the names. Under the
  // scan's keyed hash they spread like any other names.
  constexpr std::size_t kNames = 1000;
  constexpr std::size_t kLowBits = 2048 - 1; // the table's size once it holds them all
  std::vector<std::string> names;
  const std::size_t target = std::hash<std::string_view>()(".k0") & kLowBits;
  for (uint64_t n = 0; names.size() < kNames; ++n) {
    const std::string key = ".k" + std::to_string(n);
    if ((std::hash<std::string_view>()(key) & kLowBits) == target)
      names.push_back(key.substr(1));
  }
  std::string document = "<SYNC Start=1000>";
  for (int pass = 0; pass < 2; ++pass) {
    for (const std::string& name : names)
      document += "<P Class=" + name + ">x";
  }

  DocumentScan scan;
  scan.scan(document.data());
  EXPECT_EQ(scan.tracks().size(), kNames);
  ASSERT_GT(scan.keys().size(), kNames);
  EXPECT_LT(scan.keys().slotsReadFindingEach(), 3 * scan.keys().size());
}

TEST(Scan, StopsWhereItsTextBoundIsReached) {
  // Each subtitle costs its text, its markup and a terminator: "<b>ab</b>" is 10 bytes.
  const std::string document = "<STYLE TYPE=\"text/css\"><!-- p { font-weight: bold; } --></STYLE>"
                               "<SYNC Start=1><P>ab<SYNC Start=2><P>cd<SYNC Start=3><P>ef";
  for (const std::size_t bound : {std::size_t{31}, std::size_t{30}, std::size_t{21}}) {
    DocumentScan scan;
    scan.limitText(bound);
    std::string text = document;
    scan.scan(text.data());
    const std::size_t filed = scan.tracks().empty() ? 0 : scan.tracks()[0].entries->size();
    EXPECT_EQ(scan.exhausted(), bound < 30) << bound;
    EXPECT_EQ(filed, bound < 30 ? 2u : 3u) << bound;
  }
}

TEST(Scan, ASubtitleTakenUpAgainCostsItsTextAgain) {
  // Start 1 comes back after start 2: its "ab" is stored anew with "<**>ef", and that copy
  // counts too (3 + 3 + 2 + 7 bytes), so that documents coming back to one start again and
  // again cannot grow the store past the bound.
  const std::string document = "<SYNC Start=1><P>ab<SYNC Start=2><P>cd<SYNC Start=1><P>ef";
  const struct {
    std::size_t bound;
    bool exhausted;
  } cases[] = {{15, false}, {14, true}};
  for (const auto& c : cases) {
    DocumentScan scan;
    scan.limitText(c.bound);
    std::string text = document;
    scan.scan(text.data());
    EXPECT_EQ(scan.exhausted(), c.exhausted) << c.bound;
  }
  EXPECT_EQ(scanned(document), (Lines{"-unknown- 1+1 ab<**>ef", "-unknown- 2+10000 cd"}));
}
