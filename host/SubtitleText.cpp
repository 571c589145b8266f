#include "SubtitleText.h"

#include "Renderer.h"
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
