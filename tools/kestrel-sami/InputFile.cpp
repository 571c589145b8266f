#include "InputFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace KestrelTool {

bool InputFile::inspect(const std::string& path, std::string& error) {
  path_ = path;
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) {
    error = "cannot read " + path + ": no such file.";
    return false;
  }
  if (std::filesystem::is_directory(status)) {
    error = path + " is a directory, not a SAMI file.";
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    error = path + " is not a regular file.";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path + ": " + std::strerror(errno) + ".";
    return false;
  }
  size_ = std::filesystem::file_size(path, ec);
  if (ec)
    size_ = 0;
  char head[kHeadBytes];
  in.read(head, kHeadBytes);
  if (in.bad()) {
    error = "cannot read " + path + ": " + std::strerror(errno) + ".";
    return false;
  }
  head_.assign(head, static_cast<size_t>(in.gcount()));
  return true;
}

EncodingChoice chooseFromEveryByte(EncodingChoice choice, const std::string& path,
                                   InputFile& file) {
  const std::string_view bytes = file.whole();
  const bool overrideEmbedded = choice.settings.overrideEmbedded;
  choice = isWellFormedUtf8(bytes) ? asUtf8() : detected(bytes);
  choice.settings.overrideEmbedded = overrideEmbedded;
  if (choice.settings.name)
    std::cerr << "kestrel-sami: " << path << " has no Unicode signature and is not UTF-8; "
              << "reading it as " << choice.description
              << "; name another code page with --code-page.\n";
  return choice;
}

EncodingChoice chooseEncoding(const Options& options, const std::string& path, InputFile& file) {
  EncodingChoice choice;
  if (!options.ignoreSignature) {
    if (auto signature = bySignature(file.head())) {
      choice = std::move(*signature);
      // A signature decides before "Name" is asked for; answer it anyway if the user gave one.
      choice.settings.name = options.codePage;
      return choice;
    }
  }
  if (options.codePage) {
    choice = byName(*options.codePage, "--code-page");
    choice.settings.overrideEmbedded = options.ignoreSignature;
    return choice;
  }
  choice.settings.overrideEmbedded = options.ignoreSignature;
  // Only here does the tool need every byte. A file whose start is UTF-8 is handed on as
  // UTF-8 while the rest is checked beside the open; any other is decided on every byte now.
  constexpr size_t kStart = size_t{64} << 10;
  if (file.size() > kStart) {
    std::string start = file.start(kStart);
    const size_t good = wellFormedUtf8Prefix(start);
    // A character cut by the end of the start is no fault.
    if (start.size() - good < 4 && start.size() == kStart) {
      EncodingChoice utf8 = asUtf8(/*provisional=*/true);
      utf8.settings.overrideEmbedded = options.ignoreSignature;
      return utf8;
    }
  }
  return chooseFromEveryByte(choice, path, file);
}

} // namespace KestrelTool
