#pragma once

// SAMI documents for benchmarks, made deterministically from a seed: the same kind, size
// and seed give the same bytes on every machine (the generator uses only the raw output of
// std::mt19937_64, which the standard fixes, never a distribution).

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace SamiBench {

enum class Kind {
  Realistic,           // two language classes, a style sheet, entities, line breaks, fonts
  UnclosedElements,    // hundreds of thousands of open elements before and between paragraphs
  LongRun,             // one text run of the whole size, no line breaks
  LongRunBreaks,       // one text run of the whole size with "<br>", "<br/>" and CR LF
  SameStart,           // SYNC blocks that all start at the same time
  InlineTags,          // a few paragraphs holding millions of inline tags
  Attributes,          // one tag with a huge number of attributes without "="
  ManyClasses,         // one style sheet with tens of thousands of classes, all used
  Ampersands,          // runs of "&" with no ";"
  AmpersandsSemicolon, // the same with one ";" at the far end
};

inline constexpr Kind kHostileKinds[] = {
    Kind::UnclosedElements, Kind::LongRun,    Kind::LongRunBreaks,
    Kind::SameStart,        Kind::InlineTags, Kind::Attributes,
    Kind::ManyClasses,      Kind::Ampersands, Kind::AmpersandsSemicolon};

inline const char* kindName(Kind kind) {
  switch (kind) {
  case Kind::Realistic:
    return "realistic";
  case Kind::UnclosedElements:
    return "unclosed-elements";
  case Kind::LongRun:
    return "long-run";
  case Kind::LongRunBreaks:
    return "long-run-breaks";
  case Kind::SameStart:
    return "same-start";
  case Kind::InlineTags:
    return "inline-tags";
  case Kind::Attributes:
    return "attributes";
  case Kind::ManyClasses:
    return "many-classes";
  case Kind::Ampersands:
    return "ampersands";
  case Kind::AmpersandsSemicolon:
    return "ampersands-semicolon";
  }
  return "?";
}

class Generator {
public:
  explicit Generator(uint64_t seed) : random_(seed) {}

  /// A document of about bytes bytes (never less), UTF-8 without a signature.
  std::string document(Kind kind, std::size_t bytes) {
    out_.clear();
    out_.reserve(bytes + 4096);
    switch (kind) {
    case Kind::Realistic:
      realistic(bytes);
      break;
    case Kind::UnclosedElements:
      unclosedElements(bytes);
      break;
    case Kind::LongRun:
      longRun(bytes, false);
      break;
    case Kind::LongRunBreaks:
      longRun(bytes, true);
      break;
    case Kind::SameStart:
      sameStart(bytes);
      break;
    case Kind::InlineTags:
      inlineTags(bytes);
      break;
    case Kind::Attributes:
      attributes(bytes);
      break;
    case Kind::ManyClasses:
      manyClasses(bytes);
      break;
    case Kind::Ampersands:
      ampersands(bytes, false);
      break;
    case Kind::AmpersandsSemicolon:
      ampersands(bytes, true);
      break;
    }
    return std::move(out_);
  }

private:
  uint64_t next(uint64_t bound) { return random_() % bound; }

  void put(std::string_view text) { out_.append(text); }
  void put(uint64_t number) { out_.append(std::to_string(number)); }

  void head(std::string_view extraRules = {}) {
    put("<SAMI>\r\n<HEAD>\r\n<TITLE>Generated subtitles</TITLE>\r\n"
        "<STYLE TYPE=\"text/css\">\r\n<!--\r\n"
        "P { margin-left: 8pt; margin-right: 8pt; margin-bottom: 2pt; margin-top: 2pt;\r\n"
        "    text-align: center; font-size: 20pt; font-family: Arial; font-weight: normal;\r\n"
        "    color: white; background-color: black; }\r\n"
        ".ENCC { Name: English; lang: en-US; SAMIType: CC; }\r\n"
        ".KRCC { Name: Korean; lang: ko-KR; SAMIType: CC; }\r\n"
        "#Source { margin-bottom: 20pt; font-size: 12pt; }\r\n");
    put(extraRules);
    put("-->\r\n</STYLE>\r\n</HEAD>\r\n<BODY>\r\n");
  }
  void tail() { put("</BODY>\r\n</SAMI>\r\n"); }

  void englishWords(int count) {
    static constexpr std::string_view kWords[] = {
        "the", "night", "was",  "cold", "and", "we",   "had", "nowhere", "to",   "go",
        "I",   "don't", "know", "what", "you", "mean", "by",  "that",    "café", "again"};
    for (int i = 0; i < count; ++i) {
      if (i > 0)
        put(" ");
      put(kWords[next(std::size(kWords))]);
    }
  }
  void koreanWords(int count) {
    static constexpr std::string_view kWords[] = {"안녕하세요", "우리는", "어디로",     "가야",
                                                  "하나요",     "정말",   "모르겠어요", "다시",
                                                  "한국어",     "자막"};
    for (int i = 0; i < count; ++i) {
      if (i > 0)
        put(" ");
      put(kWords[next(std::size(kWords))]);
    }
  }
  void entity() {
    static constexpr std::string_view kEntities[] = {"&amp;", "&quot;", "&eacute;", "&#39;",
                                                     "&lt;",  "&gt;",   "&#x2014;"};
    put(kEntities[next(std::size(kEntities))]);
  }

  void realistic(std::size_t bytes) {
    head();
    uint64_t time = 1000;
    while (out_.size() < bytes) {
      const uint64_t shown = 1000 + next(4000);
      put("<SYNC Start=");
      put(time);
      put("><P Class=ENCC>");
      englishWords(3 + static_cast<int>(next(6)));
      if (next(3) == 0) {
        put(" ");
        entity();
        put(" ");
      }
      put(next(4) == 0 ? "<br>\r\n" : "<br>");
      englishWords(2 + static_cast<int>(next(5)));
      put("\r\n<SYNC Start=");
      put(time);
      put("><P Class=KRCC>");
      if (next(2) == 0) {
        put("<font color=\"#ffff00\">");
        koreanWords(2);
        put("</font> ");
      }
      koreanWords(2 + static_cast<int>(next(3)));
      if (next(3) == 0) {
        put("<br>");
        koreanWords(2);
      }
      put("\r\n");
      time += shown;
      if (next(3) == 0) {
        put("<SYNC Start=");
        put(time);
        put("><P Class=ENCC>&nbsp;\r\n<SYNC Start=");
        put(time);
        put("><P Class=KRCC>&nbsp;\r\n");
        time += 200 + next(2000);
      }
    }
    tail();
  }

  void unclosedElements(std::size_t bytes) {
    head();
    // Half the budget opens elements before the first paragraph, the rest alternates
    // paragraphs with more open elements; nothing ever closes them.
    while (out_.size() < bytes / 2)
      put(next(2) == 0 ? "<DIV>" : "<SPAN ID=s>");
    uint64_t time = 1000;
    while (out_.size() < bytes) {
      put("<SYNC Start=");
      put(time);
      put("><P Class=ENCC>");
      englishWords(6);
      put("</P></SYNC>\r\n");
      for (int i = 0; i < 200; ++i)
        put("<DIV>");
      time += 1500;
    }
    tail();
  }

  void longRun(std::size_t bytes, bool breaks) {
    head();
    put("<SYNC Start=1000><P Class=ENCC>");
    int words = 0;
    while (out_.size() < bytes) {
      englishWords(1);
      if (breaks && ++words % 8 == 0) {
        static constexpr std::string_view kBreaks[] = {"<br>", "<br>\r\n", "<br/>", "\r\n"};
        put(kBreaks[next(std::size(kBreaks))]);
      } else {
        put(" ");
      }
    }
    put("\r\n");
    tail();
  }

  void sameStart(std::size_t bytes) {
    head();
    while (out_.size() < bytes) {
      put("<SYNC Start=1000><P Class=ENCC>");
      englishWords(1);
      put("\r\n");
    }
    tail();
  }

  void inlineTags(std::size_t bytes) {
    head();
    static constexpr std::string_view kTags[] = {
        "<b>",     "</b>",  "<i>", "</i>", "<u>", "</u>", "<font color=red>",
        "</font>", "<br/>", "<br>"};
    uint64_t time = 1000;
    const std::size_t paragraph = bytes / 4 + 1;
    while (out_.size() < bytes) {
      put("<SYNC Start=");
      put(time);
      put("><P Class=ENCC>");
      const std::size_t end = out_.size() + paragraph;
      while (out_.size() < end) {
        put(kTags[next(std::size(kTags))]);
        put("a");
      }
      put("\r\n");
      time += 2000;
    }
    tail();
  }

  void attributes(std::size_t bytes) {
    head();
    put("<SYNC Start=1000><P Class=ENCC");
    while (out_.size() < bytes)
      put(" a");
    put(">text\r\n");
    tail();
  }

  void manyClasses(std::size_t bytes) {
    // Half the budget declares classes, the other half uses them in turn.
    std::string rules;
    uint64_t classes = 0;
    while (rules.size() < bytes / 2) {
      rules += ".C" + std::to_string(classes) + " { Name: Track " + std::to_string(classes) +
               "; lang: en-US; color: #" + std::to_string(100000 + next(800000)) +
               "; font-weight: bold; }\r\n";
      ++classes;
    }
    head(rules);
    uint64_t time = 1000;
    while (out_.size() < bytes) {
      put("<SYNC Start=");
      put(time);
      put("><P Class=C");
      put(next(classes));
      put(">");
      englishWords(5);
      put("\r\n");
      time += 1000;
    }
    tail();
  }

  void ampersands(std::size_t bytes, bool semicolonAtEnd) {
    head();
    put("<SYNC Start=1000><P Class=ENCC>");
    out_.append(bytes > out_.size() ? bytes - out_.size() : 0, '&');
    if (semicolonAtEnd)
      put(";");
    put("\r\n");
    tail();
  }

  std::mt19937_64 random_;
  std::string out_;
};

} // namespace SamiBench
