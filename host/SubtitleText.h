#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace KestrelTool {

/// One piece of a subtitle's inline markup as the engine receives it.
struct MarkupToken {
  enum class Kind { Text, Space, LineBreak, Open, Close };
  enum class Style { Bold, Italic, Underline, Strike, Font };
  Kind kind = Kind::Text;
  Style style = Style::Bold;
  std::string text;  // Text: the characters, as received
  std::string color; // Open Font: the colour, normalised ("#rrggbb" or a lower-case name)
  std::string face;  // Open Font: the font family, as written
  std::string size;  // Open Font: the size, as written ("+2", "-1", "5")
};

/// Splits sample text into text, collapsible white space, line breaks ("<**>", "<br>",
/// "<br/>", "<br />" with the line end written after them) and the style tags b, i, u, s and
/// font. Anything else that starts with "<" is text.
[[nodiscard]] std::vector<MarkupToken> tokenizeMarkup(std::string_view markup);

/// One piece of markup as MarkupScanner finds it: the text, a font's face and its size point
/// into the markup scanned, so nothing is copied but a font's normalised colour.
struct MarkupPiece {
  MarkupToken::Kind kind = MarkupToken::Kind::Text;
  MarkupToken::Style style = MarkupToken::Style::Bold;
  std::string_view text;
  std::string color;
  std::string_view face;
  std::string_view size;
};

class TagMemory;

/// The pieces of tokenizeMarkup one at a time, in the same order and with the same values.
/// With joinWords, words that one space (U+0020) separates come as one text piece, space
/// included, where tokenizeMarkup has a text, a space and a text: a renderer that writes a
/// single space for white space between words writes the same for both. The markup must
/// outlive the scanner and the pieces it fills.
class MarkupScanner {
public:
  /// With memory, tags it has seen are not read again.
  explicit MarkupScanner(std::string_view markup, bool joinWords = false,
                         TagMemory* memory = nullptr)
      : markup_(markup), joinWords_(joinWords), memory_(memory) {}
  /// Fills piece with the next piece; false after the last.
  bool next(MarkupPiece& piece);

private:
  std::string_view markup_;
  bool joinWords_;
  TagMemory* memory_;
  size_t at_ = 0;
  // A tag found where a text ended, handed out by the next call.
  MarkupPiece tag_;
  size_t tagAt_ = SIZE_MAX;
  size_t tagLength_ = 0;
};

/// A colour attribute value as "#rrggbb" or a lower-case colour name; empty when it is
/// neither (so nothing unsafe reaches an output file).
[[nodiscard]] std::string normalizeColor(std::string_view value);

/// A markup dialect a host defines for itself (the element's Pango markup): b, i, u and s
/// are written as they are, text is escaped by escape, and a font opens with what
/// fontOpening makes of its normalised colour, face and size (nothing: the font is not
/// written) and closes with fontClosing.
struct CustomDialect {
  void (*escape)(std::string& out, std::string_view text);
  std::string (*fontOpening)(std::string_view color, std::string_view face, std::string_view size);
  std::string_view fontClosing;
};

/// Markup in a custom dialect, nested and lazily opened as in the other dialects.
[[nodiscard]] std::string customText(std::string_view markup, const CustomDialect& dialect);

/// The text alone, lines separated by "\n", white space collapsed.
[[nodiscard]] std::string plainText(std::string_view markup);

/// SubRip cue text: <b>, <i>, <u> and <font color> kept; no empty lines.
[[nodiscard]] std::string srtText(std::string_view markup);

/// WebVTT cue text: <b>, <i>, <u>; a colour becomes a class (<c.red>), and classes outside the
/// format's default colours are added to colorClasses so that the file can define them.
/// "&", "<" and ">" are escaped.
[[nodiscard]] std::string vttText(std::string_view markup, std::set<std::string>& colorClasses);

/// The class a WebVTT cue uses for a normalised colour ("red", "color_ff8000").
[[nodiscard]] std::string vttColorClass(const std::string& color);

struct Cue {
  uint32_t start = 0;    // milliseconds, as the sample's timestamp
  uint32_t duration = 0; // milliseconds
  std::string markup;    // the sample text, valid UTF-8
};

struct StreamCues {
  uint64_t id = 0;
  std::string name;
  std::string language;
  std::string region;
  bool selected = false;
  std::vector<Cue> cues;
};

/// Whether a cue would ever be seen: a duration, and visible text (a no-break space alone is
/// SAMI's way of clearing the screen).
[[nodiscard]] bool isShown(const Cue& cue);

/// The values of a font tag's colour, face and size attributes (in the text after "font"),
/// as written, quoted or bare, names in any case; each the first of its name, nothing for a
/// name not there.
struct FontValues {
  std::optional<std::string_view> color;
  std::optional<std::string_view> face;
  std::optional<std::string_view> size;
};
[[nodiscard]] FontValues fontValues(std::string_view attributes);

/// Writes value in decimal, at least minDigits digits, ending just before end; returns
/// where the digits start.
char* digitsBefore(char* end, uint64_t value, std::size_t minDigits = 1);

/// Appends "HH:MM:SS.mmm" (formatTime's text) to out.
void appendTime(std::string& out, uint64_t ms, char separator = '.');

class Renderer;

/// SubRip written cue by cue into one growing buffer; cues nobody would see are left out and
/// the others numbered from 1, as writeSrt does.
class SrtWriter {
public:
  explicit SrtWriter(std::string& out);
  ~SrtWriter();
  SrtWriter(const SrtWriter&) = delete;
  SrtWriter& operator=(const SrtWriter&) = delete;
  /// markup must be valid UTF-8, as Cue::markup is.
  void add(uint32_t start, uint32_t duration, std::string_view markup);

private:
  std::string& out_;
  std::unique_ptr<Renderer> renderer_;
  uint32_t number_ = 0;
};

/// WebVTT written cue by cue: the cues go to body() as they come; header() is what goes
/// before them once all are in (the STYLE block names the colours the cues used).
class VttWriter {
public:
  explicit VttWriter(bool styleBlock = true);
  ~VttWriter();
  VttWriter(const VttWriter&) = delete;
  VttWriter& operator=(const VttWriter&) = delete;
  void add(uint32_t start, uint32_t duration, std::string_view markup);
  [[nodiscard]] std::string header() const;
  [[nodiscard]] std::string& body() { return body_; }

private:
  bool styleBlock_;
  std::string body_;
  std::set<std::string> colorClasses_;
  std::unique_ptr<Renderer> renderer_;
};

/// Whole files. Cues that would never be seen (duration 0, or no visible text) are left out
/// of SubRip and WebVTT; JSON keeps every sample.
[[nodiscard]] std::string writeSrt(const std::vector<Cue>& cues);
/// With styleBlock false, colours outside WebVTT's built-in classes keep their class but the
/// file has no STYLE block defining it (some players drop every cue of a file that has one).
[[nodiscard]] std::string writeVtt(const std::vector<Cue>& cues, bool styleBlock = true);
/// Advanced SubStation: one style, named after the stream, from what every shown cue shares;
/// override tags for the rest of the inline markup; line breaks as \N.
[[nodiscard]] std::string writeAss(const std::vector<Cue>& cues, std::string_view styleName);
[[nodiscard]] std::string writeJson(std::string_view source,
                                    const std::vector<StreamCues>& streams);

/// "HH:MM:SS.mmm" with the given separator before the milliseconds; hours grow past 99.
[[nodiscard]] std::string formatTime(uint64_t ms, char separator = '.');

} // namespace KestrelTool
