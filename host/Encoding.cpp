#include "Encoding.h"

#include "TextEncoding.h"

namespace KestrelTool {

std::optional<EncodingChoice> bySignature(std::string_view head) {
  const auto signature = unicodeSignature(head);
  if (!signature)
    return std::nullopt;
  EncodingChoice choice;
  choice.description = *signature + " (signature)";
  return choice;
}

EncodingChoice byName(const std::string& name, std::string_view source) {
  EncodingChoice choice;
  choice.settings.name = name;
  choice.description = name.empty() ? "UTF-8 (" + std::string(source) + " \"\")"
                                    : name + " (" + std::string(source) + ")";
  return choice;
}

EncodingChoice asUtf8(bool provisional) {
  EncodingChoice choice;
  choice.description = "UTF-8";
  choice.wellFormedUtf8 = true;
  choice.provisional = provisional;
  return choice;
}

EncodingChoice detected(std::string_view bytes) {
  EncodingChoice choice;
  if (const auto found = detectCodePage(bytes)) {
    choice.settings.name = found->converter;
    choice.description = found->converter + " (detected " + found->detected + ")";
  } else {
    choice.description = "UTF-8 (assumed; no code page detected)";
  }
  return choice;
}

} // namespace KestrelTool
