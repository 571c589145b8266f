#include "support/HostObjects.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace KestrelTest {

uint8_t TestPluginHost::checkFormat(const Kestrel::BufferString* format) {
  std::lock_guard<std::mutex> guard(mutex_);
  checkedFormats_.emplace_back(format != nullptr ? format->text() : "(null)");
  return checkFormatAnswer.load();
}

void TestPluginHost::pluginDestroying(Kestrel::Plugin* plugin) {
  std::lock_guard<std::mutex> guard(mutex_);
  notices_.push_back({NoticeKind::Destroying, plugin});
}

void TestPluginHost::pluginDestroyed(Kestrel::Plugin* plugin) {
  std::lock_guard<std::mutex> guard(mutex_);
  notices_.push_back({NoticeKind::Destroyed, plugin});
}

std::vector<TestPluginHost::Notice> TestPluginHost::notices() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return notices_;
}

std::vector<std::string> TestPluginHost::checkedFormats() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return checkedFormats_;
}

TestContainerHost::~TestContainerHost() { deleteStreams(); }

void TestContainerHost::startIdentifiersAt(uint64_t first) {
  std::lock_guard<std::mutex> guard(mutex_);
  nextIdentifier_ = first;
}

void TestContainerHost::setPreferredLanguage(std::string language) {
  std::lock_guard<std::mutex> guard(mutex_);
  preferredLanguage_ = std::move(language);
}

uint64_t TestContainerHost::newIdentifier() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (recordQueries)
    issued_.push_back(nextIdentifier_);
  return repeatIdentifiers ? nextIdentifier_ : nextIdentifier_++;
}

Kestrel::BufferString TestContainerHost::getPreferredLanguage() {
  std::lock_guard<std::mutex> guard(mutex_);
  ++languageQueries_;
  // On this module's own allocator: the plug-in frees it through the string's allocator.
  return Kestrel::BufferString(preferredLanguage_.c_str(),
                               static_cast<int32_t>(preferredLanguage_.size()));
}

int32_t TestContainerHost::getSetting(const Kestrel::Setting* setting,
                                      Kestrel::SettingValue* value) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (setting == nullptr) {
    if (recordQueries)
      settingQueries_.push_back({-1, "(null setting)", ""});
    return 0;
  }
  if (recordQueries)
    settingQueries_.push_back(
        {setting->kind, setting->section.toStdString(), setting->key.toStdString()});
  if (value == nullptr || setting->section.view() != "CodePage")
    return 0;
  if (setting->key.view() == "OverrideEmbedded" && overrideEmbedded.has_value()) {
    value->tag = wrongTag.value_or(Kestrel::kSettingBoolean);
    value->payload.boolean = overrideEmbeddedByte.value_or(*overrideEmbedded ? 1 : 0);
  } else if (setting->key.view() == "Name" && codePageName.has_value()) {
    answers_.push_back(std::make_unique<Kestrel::BufferString>(
        codePageName->c_str(), static_cast<int32_t>(codePageName->size())));
    value->tag = wrongTag.value_or(Kestrel::kSettingString);
    value->payload.string = answers_.back().get();
  }
  return 0;
}

void TestContainerHost::addStream(Kestrel::StreamInterface* stream) {
  if (onAddStream)
    onAddStream();
  std::lock_guard<std::mutex> guard(mutex_);
  streamEvents_.push_back({EventKind::Added, stream, stream != nullptr ? stream->streamId : 0, 0});
  if (stream == nullptr)
    return;
  for (Kestrel::StreamInterface* owned : owned_)
    if (owned == stream)
      return; // announced again by a second selectProgram
  owned_.push_back(stream);
}

void TestContainerHost::removeStream(uint64_t streamId) {
  std::lock_guard<std::mutex> guard(mutex_);
  streamEvents_.push_back({EventKind::Removed, nullptr, streamId, 0});
}

void TestContainerHost::selectStream(uint64_t streamId, int32_t selected) {
  std::lock_guard<std::mutex> guard(mutex_);
  streamEvents_.push_back({EventKind::Selected, nullptr, streamId, selected});
}

std::vector<TestContainerHost::SettingQuery> TestContainerHost::settingQueries() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return settingQueries_;
}

std::vector<TestContainerHost::StreamEvent> TestContainerHost::streamEvents() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return streamEvents_;
}

std::vector<Kestrel::StreamInterface*> TestContainerHost::added() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<Kestrel::StreamInterface*> streams;
  for (const StreamEvent& event : streamEvents_)
    if (event.kind == EventKind::Added)
      streams.push_back(event.stream);
  return streams;
}

std::vector<uint64_t> TestContainerHost::removed() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<uint64_t> ids;
  for (const StreamEvent& event : streamEvents_)
    if (event.kind == EventKind::Removed)
      ids.push_back(event.id);
  return ids;
}

std::vector<std::pair<uint64_t, int32_t>> TestContainerHost::selected() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<std::pair<uint64_t, int32_t>> selections;
  for (const StreamEvent& event : streamEvents_)
    if (event.kind == EventKind::Selected)
      selections.emplace_back(event.id, event.flag);
  return selections;
}

int TestContainerHost::languageQueries() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return languageQueries_;
}

std::vector<Kestrel::StreamInterface*> TestContainerHost::streams() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return owned_;
}

std::vector<uint64_t> TestContainerHost::issuedIdentifiers() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return issued_;
}

void TestContainerHost::deleteStreams() {
  std::vector<Kestrel::StreamInterface*> doomed;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    doomed.swap(owned_);
  }
  // Outside our lock: a stream's destructor may take the container's lock.
  for (Kestrel::StreamInterface* stream : doomed)
    delete stream;
}

void TestContainerHost::clearRecords() {
  std::lock_guard<std::mutex> guard(mutex_);
  languageQueries_ = 0;
  settingQueries_.clear();
  streamEvents_.clear();
  issued_.clear();
}

std::string fileUrl(const std::string& path) {
  std::error_code ignored;
  const std::string absolute = std::filesystem::absolute(path, ignored).string();
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : absolute) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = (base != nullptr && *base != '\0') ? base : "/tmp";
  pattern += "/kestrel-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) != nullptr)
    path_ = buffer.data();
}

TempDir::~TempDir() {
  if (path_.empty())
    return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, std::string_view bytes) {
  const std::string file = path_ + "/" + name;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return file;
}

namespace {

const char* recordPath() {
  const char* path = std::getenv("KESTREL_LOG_RECORD");
  return (path != nullptr && *path != '\0') ? path : nullptr;
}

} // namespace

bool isRecordingLog() { return recordPath() != nullptr; }

std::vector<std::string> recordedLog() {
  std::vector<std::string> lines;
  const char* path = recordPath();
  if (path == nullptr)
    return lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

void clearRecordedLog() {
  const char* path = recordPath();
  if (path == nullptr)
    return;
  // The recording library appends with O_APPEND, so a truncated file is simply refilled.
  std::ofstream truncate(path, std::ios::binary | std::ios::trunc);
}

} // namespace KestrelTest
