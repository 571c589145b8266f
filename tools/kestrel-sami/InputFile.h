#pragma once

#include "Encoding.h"
#include "Host.h"
#include "Options.h"
#include "TextEncoding.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

namespace KestrelTool {

/// The file as the tool sees it before the plug-in reads it: a regular file it can open, its
/// size and its first bytes. The whole of it is read only when something needs every byte
/// (telling UTF-8 from a code page, or looking for "<SAMI" once an open found nothing).
class InputFile {
public:
  /// Checks that path is a readable regular file, or says in one sentence why it is not.
  bool inspect(const std::string& path, std::string& error);

  [[nodiscard]] uint64_t size() const { return size_; }
  /// The first bytes, enough for any Unicode signature.
  [[nodiscard]] std::string_view head() const { return head_; }

  /// Every byte, read on first use; what could be read when reading fails half way.
  std::string_view whole() {
    if (!whole_) {
      // Uninitialised: the read writes every byte kept.
      whole_.reset(new char[size_ + 1]);
      std::ifstream in(path_, std::ios::binary);
      in.read(whole_.get(), static_cast<std::streamsize>(size_));
      wholeLength_ = in ? size_ : static_cast<uint64_t>(std::max<std::streamsize>(in.gcount(), 0));
    }
    return {whole_.get(), wholeLength_};
  }
  /// Gives the bytes back (whole() reads them again if it must).
  void forget() { whole_.reset(); }

  /// The first bytes, at most count of them (all there are for a shorter file).
  [[nodiscard]] std::string start(size_t count) const {
    std::string bytes(static_cast<size_t>(std::min<uint64_t>(count, size_)), '\0');
    std::ifstream in(path_, std::ios::binary);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return bytes;
  }

private:
  static constexpr size_t kHeadBytes = 4; // the longest signature
  std::string path_;
  uint64_t size_ = 0;
  std::string head_;
  std::unique_ptr<char[]> whole_;
  uint64_t wholeLength_ = 0;
};

/// The choice for a file without signature or named code page, from all of its bytes: the
/// plug-in takes unnamed text as UTF-8, and text that is not UTF-8 gets its code page detected.
EncodingChoice chooseFromEveryByte(EncodingChoice choice, const std::string& path, InputFile& file);

/// The encoding the tool answers the plug-in's "CodePage" settings with for the file: its
/// signature, the code page the user named, UTF-8 (on the start alone, when the start is
/// UTF-8: provisional), or what every byte says.
EncodingChoice chooseEncoding(const Options& options, const std::string& path, InputFile& file);

} // namespace KestrelTool
