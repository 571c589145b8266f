#pragma once

#include "SubtitleText.h"
#include "TagMemory.h"

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace KestrelTool {

// The one renderer of sample markup; the writers and the dialect functions of
// SubtitleText.cpp use it.

inline bool isMarkupSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

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

inline constexpr Dialect kPlain;
inline constexpr Dialect kSrt{true, true, true, Dialect::Color::FontTag, false};
inline constexpr Dialect kVtt{true, true, true, Dialect::Color::VttClass, true};

/// Renders markup for one format into a growing buffer. Tags open lazily, just before the
/// text they style, so that empty pairs and tags stranded at line ends are never written; a
/// closing tag closes the tags opened after its partner and opens them again, so the output
/// always nests. It also tells whether the cue has text anyone would see.
class Renderer {
  using Kind = MarkupToken::Kind;
  using Style = MarkupToken::Style;

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
      if (isMarkupSpace(c))
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

} // namespace KestrelTool
