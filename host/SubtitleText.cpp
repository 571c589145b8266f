#include "SubtitleText.h"

#include "TagMemory.h"
#include "TextEncoding.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <optional>

namespace KestrelTool {
namespace {

using Kind = MarkupToken::Kind;
using Style = MarkupToken::Style;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

/// What one output format keeps of the markup.
struct Dialect {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  enum class Color { Drop, FontTag, VttClass, Custom } color = Color::Drop;
  bool escapeMarkup = false;
  bool strike = false;
  const CustomDialect* custom = nullptr; // with Color::Custom: fonts and escaping
};

constexpr Dialect kPlain;
constexpr Dialect kSrt{true, true, true, Dialect::Color::FontTag, false};
constexpr Dialect kVtt{true, true, true, Dialect::Color::VttClass, true};

void appendNumber(std::string& out, uint64_t value) {
  char digits[24];
  char* const end = digits + sizeof digits;
  const char* start = digitsBefore(end, value);
  out.append(start, static_cast<size_t>(end - start));
}

/// JSON string text of valid UTF-8.
void appendJsonText(std::string& out, std::string_view text) {
  size_t plainFrom = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char* escaped = nullptr;
    switch (c) {
    case '"':
      escaped = "\\\"";
      break;
    case '\\':
      escaped = "\\\\";
      break;
    case '\n':
      escaped = "\\n";
      break;
    case '\r':
      escaped = "\\r";
      break;
    case '\t':
      escaped = "\\t";
      break;
    default:
      if (static_cast<unsigned char>(c) >= 0x20)
        continue;
    }
    out.append(text.substr(plainFrom, i - plainFrom));
    plainFrom = i + 1;
    if (escaped != nullptr) {
      out += escaped;
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[static_cast<unsigned char>(c) >> 4];
      out += kHex[static_cast<unsigned char>(c) & 0x0F];
    }
  }
  out.append(text.substr(plainFrom));
}

void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  if (isWellFormedUtf8(text))
    appendJsonText(out, text);
  else
    appendJsonText(out, repairUtf8(text));
  out += '"';
}

} // namespace

/// Renders markup for one format into a growing buffer. Tags open lazily, just before the
/// text they style, so that empty pairs and tags stranded at line ends are never written; a
/// closing tag closes the tags opened after its partner and opens them again, so the output
/// always nests. It also tells whether the cue has text anyone would see.
class Renderer {
public:
  explicit Renderer(const Dialect& dialect) : dialect_(dialect) {}

  /// Appends the cue text of markup to out; true when some of it is visible (not only white
  /// space and no-break spaces). Colours that need a class of their own are added to
  /// colorClasses, when given (with onlyVisible, only for visible text).
  bool render(std::string_view markup, std::string& out,
              std::set<std::string>* colorClasses = nullptr, bool onlyVisible = true) {
    out_ = &out;
    cueStart_ = out.size();
    lineStart_ = cueStart_;
    lineHasText_ = false;
    pendingSpace_ = false;
    visible_ = false;
    pendingLead_ = false;
    stack_.clear();
    usedClasses_.clear();
    MarkupScanner scanner(markup, /*joinWords=*/true, &tags_);
    while (scanner.next(piece_)) {
      switch (piece_.kind) {
      case Kind::Text:
        if (!lineHasText_)
          startLine();
        if (pendingSpace_ && out.size() > lineStart_)
          out += ' ';
        pendingSpace_ = false;
        openPending();
        appendText(piece_.text);
        see(piece_.text);
        lineHasText_ = true;
        break;
      case Kind::Space:
        pendingSpace_ = lineHasText_;
        seeSeparator();
        break;
      case Kind::LineBreak:
        breakLine();
        seeSeparator();
        break;
      case Kind::Open:
        stack_.push_back({piece_.style, std::move(piece_.color), false, {}});
        piece_.color.clear();
        if (piece_.style == Style::Font && dialect_.custom != nullptr)
          stack_.back().opening =
              dialect_.custom->fontOpening(stack_.back().color, piece_.face, piece_.size);
        break;
      case Kind::Close:
        close(piece_.style);
        break;
      }
    }
    while (!stack_.empty())
      closeTop();
    breakLine();
    seeSeparator();
    if ((visible_ || !onlyVisible) && colorClasses != nullptr)
      for (auto& color : usedClasses_)
        colorClasses->insert(std::move(color));
    return visible_;
  }

private:
  struct Open {
    Style style;
    std::string color;
    bool written;
    std::string opening; // a custom dialect's font tag
  };

  /// Whether the tag of an open item is written at all in this format.
  [[nodiscard]] bool kept(const Open& open) const {
    switch (open.style) {
    case Style::Bold:
      return dialect_.bold;
    case Style::Italic:
      return dialect_.italic;
    case Style::Underline:
      return dialect_.underline;
    case Style::Strike:
      return dialect_.strike;
    case Style::Font:
      if (dialect_.color == Dialect::Color::Custom)
        return !open.opening.empty();
      return !open.color.empty() && dialect_.color != Dialect::Color::Drop;
    }
    return false;
  }

  void writeOpening(const Open& open) {
    std::string& out = *out_;
    switch (open.style) {
    case Style::Bold:
      out += "<b>";
      return;
    case Style::Italic:
      out += "<i>";
      return;
    case Style::Underline:
      out += "<u>";
      return;
    case Style::Strike:
      out += "<s>";
      return;
    case Style::Font:
      if (dialect_.color == Dialect::Color::Custom) {
        out += open.opening;
      } else if (dialect_.color == Dialect::Color::FontTag) {
        out += "<font color=\"";
        out += open.color;
        out += "\">";
      } else {
        const std::string name = vttColorClass(open.color);
        out += "<c.";
        out += name;
        out += '>';
        // Colours outside WebVTT's defaults need a class the file defines; only those used.
        if (name.starts_with("color_"))
          usedClasses_.push_back(open.color);
      }
      return;
    }
  }

  void writeClosing(const Open& open) {
    std::string& out = *out_;
    switch (open.style) {
    case Style::Bold:
      out += "</b>";
      return;
    case Style::Italic:
      out += "</i>";
      return;
    case Style::Underline:
      out += "</u>";
      return;
    case Style::Strike:
      out += "</s>";
      return;
    case Style::Font:
      if (dialect_.color == Dialect::Color::Custom)
        out += dialect_.custom->fontClosing;
      else
        out += dialect_.color == Dialect::Color::FontTag ? "</font>" : "</c>";
      return;
    }
  }

  void openPending() {
    for (auto& open : stack_) {
      if (open.written)
        continue;
      if (kept(open))
        writeOpening(open);
      open.written = true;
    }
  }

  void closeTop() {
    if (stack_.back().written && kept(stack_.back()))
      writeClosing(stack_.back());
    stack_.pop_back();
  }

  void close(Style style) {
    size_t at = stack_.size();
    while (at > 0 && stack_[at - 1].style != style)
      --at;
    if (at == 0)
      return; // a closing tag without its opening one
    // Closes everything down to the partner, then opens again what was opened after it.
    for (size_t k = stack_.size(); k >= at; --k)
      if (stack_[k - 1].written && kept(stack_[k - 1]))
        writeClosing(stack_[k - 1]);
    stack_.erase(stack_.begin() + static_cast<std::ptrdiff_t>(at - 1));
    for (size_t k = at - 1; k < stack_.size(); ++k)
      stack_[k].written = false;
  }

  void appendText(std::string_view text) {
    std::string& out = *out_;
    if (dialect_.custom != nullptr) {
      dialect_.custom->escape(out, text);
      return;
    }
    if (!dialect_.escapeMarkup) {
      out.append(text);
      return;
    }
    size_t plainFrom = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (c != '&' && c != '<' && c != '>')
        continue;
      out.append(text.substr(plainFrom, i - plainFrom));
      out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : "&gt;";
      plainFrom = i + 1;
    }
    out.append(text.substr(plainFrom));
  }

  // The text alone, pieces joined as the plain format joins them, is visible when it holds
  // a byte that is neither white space nor part of a no-break space (C2 A0). Pieces meet
  // without a separator only across tags; white space and line breaks separate them.
  void see(std::string_view text) {
    if (visible_)
      return; // nothing more to learn
    for (const char c : text) {
      if (pendingLead_) {
        pendingLead_ = false;
        if (c == '\xA0')
          continue;
        visible_ = true;
        return;
      }
      if (isSpace(c))
        continue;
      if (c != '\xC2') {
        visible_ = true;
        return;
      }
      pendingLead_ = true;
    }
  }
  void seeSeparator() {
    if (pendingLead_)
      visible_ = true;
    pendingLead_ = false;
  }

  // An empty line would end the cue in SubRip and WebVTT, so a break without text before it
  // is dropped: a line's break is written with its first text, where the line started.
  // Tags open only with text, so a line without text holds nothing but closing tags: they
  // finish the line before it. Tags still open carry over to the next line.
  void startLine() {
    if (lineStart_ == cueStart_)
      return; // the cue's first line
    std::string& out = *out_;
    if (dialect_.custom != nullptr) {
      // Markup that knows line ends (Pango's) takes the break where the text goes on.
      out += '\n';
      lineStart_ = out.size();
      return;
    }
    if (lineStart_ == out.size())
      out += '\n';
    else
      out.insert(lineStart_, 1, '\n'); // before the closing tags that ended the line before
    ++lineStart_;
  }
  void breakLine() {
    pendingSpace_ = false;
    lineStart_ = out_->size();
    lineHasText_ = false;
  }

  const Dialect& dialect_;
  TagMemory tags_;
  std::string* out_ = nullptr;
  std::vector<Open> stack_;
  std::vector<std::string> usedClasses_;
  MarkupPiece piece_;
  size_t cueStart_ = 0;
  size_t lineStart_ = 0;
  bool lineHasText_ = false;
  bool pendingSpace_ = false;
  bool visible_ = false;
  bool pendingLead_ = false;
};

bool isShown(const Cue& cue) {
  if (cue.duration == 0)
    return false;
  std::string scratch;
  return Renderer(kPlain).render(cue.markup, scratch);
}

std::string plainText(std::string_view markup) {
  std::string out;
  Renderer(kPlain).render(markup, out);
  return out;
}

std::string customText(std::string_view markup, const CustomDialect& custom) {
  const Dialect dialect{true, true, true, Dialect::Color::Custom, false, true, &custom};
  std::string out;
  Renderer(dialect).render(markup, out);
  return out;
}

std::string srtText(std::string_view markup) {
  std::string out;
  Renderer(kSrt).render(markup, out);
  return out;
}

std::string vttText(std::string_view markup, std::set<std::string>& colorClasses) {
  std::string out;
  Renderer(kVtt).render(markup, out, &colorClasses, /*onlyVisible=*/false);
  return out;
}

SrtWriter::SrtWriter(std::string& out) : out_(out), renderer_(std::make_unique<Renderer>(kSrt)) {}

SrtWriter::~SrtWriter() = default;

void SrtWriter::add(uint32_t start, uint32_t duration, std::string_view markup) {
  if (duration == 0)
    return;
  // Written in place and taken back when nothing in it would be seen.
  const size_t cueStart = out_.size();
  appendNumber(out_, number_ + 1);
  out_ += '\n';
  appendTime(out_, start, ',');
  out_ += " --> ";
  appendTime(out_, uint64_t{start} + duration, ',');
  out_ += '\n';
  if (!renderer_->render(markup, out_)) {
    out_.resize(cueStart);
    return;
  }
  ++number_;
  out_ += "\n\n";
}

VttWriter::VttWriter(bool styleBlock)
    : styleBlock_(styleBlock), renderer_(std::make_unique<Renderer>(kVtt)) {}

VttWriter::~VttWriter() = default;

void VttWriter::add(uint32_t start, uint32_t duration, std::string_view markup) {
  if (duration == 0)
    return;
  const size_t cueStart = body_.size();
  appendTime(body_, start);
  body_ += " --> ";
  appendTime(body_, uint64_t{start} + duration);
  body_ += '\n';
  if (!renderer_->render(markup, body_, &colorClasses_)) {
    body_.resize(cueStart);
    return;
  }
  body_ += "\n\n";
}

std::string VttWriter::header() const {
  std::string out = "WEBVTT\n\n";
  if (styleBlock_ && !colorClasses_.empty()) {
    out += "STYLE\n";
    for (const auto& color : colorClasses_) {
      out += "::cue(.";
      out += vttColorClass(color);
      out += ") { color: ";
      out += color;
      out += "; }\n";
    }
    out += '\n';
  }
  return out;
}

std::string writeSrt(const std::vector<Cue>& cues) {
  std::string out;
  SrtWriter writer(out);
  for (const auto& cue : cues)
    writer.add(cue.start, cue.duration, cue.markup);
  return out;
}

std::string writeVtt(const std::vector<Cue>& cues, bool styleBlock) {
  VttWriter writer(styleBlock);
  for (const auto& cue : cues)
    writer.add(cue.start, cue.duration, cue.markup);
  return writer.header() + writer.body();
}

std::string writeJson(std::string_view source, const std::vector<StreamCues>& streams) {
  std::string out = "{\n  \"source\": ";
  appendJsonString(out, source);
  out += ",\n  \"streams\": [";
  Renderer plain(kPlain);
  std::string text;
  for (size_t s = 0; s < streams.size(); ++s) {
    const auto& stream = streams[s];
    out += s == 0 ? "\n" : ",\n";
    out += "    {\n      \"id\": ";
    appendNumber(out, stream.id);
    out += ",\n      \"name\": ";
    appendJsonString(out, stream.name);
    out += ",\n      \"language\": ";
    appendJsonString(out, stream.language);
    out += ",\n      \"region\": ";
    appendJsonString(out, stream.region);
    out += ",\n      \"selected\": ";
    out += stream.selected ? "true" : "false";
    out += ",\n      \"subtitles\": [";
    for (size_t c = 0; c < stream.cues.size(); ++c) {
      const auto& cue = stream.cues[c];
      out += c == 0 ? "\n" : ",\n";
      out += "        {\"start\": ";
      appendNumber(out, cue.start);
      out += ", \"duration\": ";
      appendNumber(out, cue.duration);
      out += ", \"end\": ";
      appendNumber(out, uint64_t{cue.start} + cue.duration);
      out += ", \"text\": ";
      text.clear();
      plain.render(cue.markup, text);
      appendJsonString(out, text);
      out += ", \"markup\": ";
      appendJsonString(out, cue.markup);
      out += '}';
    }
    out += stream.cues.empty() ? "]\n    }" : "\n      ]\n    }";
  }
  out += streams.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

} // namespace KestrelTool
