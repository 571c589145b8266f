// Text input as the engine meets it: the file URL, the settings asked through getSetting,
// and the files the reader refuses, through the loaded plug-in.

#include "support/HostPlugin.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using KestrelTest::OpenedContainer;
using KestrelTest::Source;
using KestrelTest::TempDir;
using Query = KestrelTest::TestContainerHost::SettingQuery;

namespace {

const std::string kDocument =
    "<SAMI><BODY><SYNC Start=1000><P>Hello</BODY></SAMI>" + std::string(1024, ' ');

/// probe through a URL (0: not recognised, or recognised and accepted).
uint8_t probeUrl(OpenedContainer& c, const std::string& url) {
  Source source(url);
  std::vector<Kestrel::StreamFormat> formats;
  return c.container->probe(source.descriptor(), 0, 0, &formats);
}

/// The document in UTF-16 with the given byte order, signature first.
std::string utf16(const std::string& ascii, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) {
    bytes.push_back(bigEndian ? '\0' : c);
    bytes.push_back(bigEndian ? c : '\0');
  }
  return bytes;
}

std::string sparseFile(const TempDir& dir, off_t size) {
  const std::string path = dir.path() + "/huge.smi";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::ftruncate(fd, size), 0);
  ::close(fd);
  return path;
}

} // namespace

TEST(TextInput, SettingsAskedAsTheEngineSeesThem) {
  TempDir dir;
  const std::string signedFile = dir.write("be.smi", utf16(kDocument, /*bigEndian=*/true));
  const Query overrideQuery{4, "CodePage", "OverrideEmbedded"};
  const Query nameQuery{4, "CodePage", "Name"};
  const struct {
    const char* name;
    std::optional<bool> overrideEmbedded;
    std::optional<std::string> codePage;
    bool recognised;
    std::vector<Query> queries;
  } cases[] = {
      {"signature decides", false, std::nullopt, true, {overrideQuery}},
      {"signature ignored, no name: FE is no UTF-8",
       true,
       std::nullopt,
       false,
       {overrideQuery, nameQuery}},
      {"signature ignored, named", true, "UTF-16BE", true, {overrideQuery, nameQuery}},
      {"no answer counts as ignored", std::nullopt, "UTF-16BE", true, {overrideQuery, nameQuery}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OpenedContainer container;
    ASSERT_TRUE(container.isValid());
    container.containerHost.overrideEmbedded = c.overrideEmbedded;
    container.containerHost.codePageName = c.codePage;
    EXPECT_EQ(probeUrl(container, KestrelTest::fileUrl(signedFile)), 0);
    EXPECT_EQ(container.containerHost.settingQueries(), c.queries);
    // The engine is asked about the format only when the marker was found.
    EXPECT_EQ(container.pluginHost.checkedFormats().size(), c.recognised ? 1u : 0u);
  }
}

TEST(TextInput, EverySignatureOpensTheDocument) {
  TempDir dir;
  const std::string le = utf16(kDocument, /*bigEndian=*/false);
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"utf-16 be", utf16(kDocument, /*bigEndian=*/true)},
      {"utf-16 le", le},
      {"utf-32 le",
       [&] {
         std::string bytes("\xFF\xFE\x00\x00", 4);
         for (char c : kDocument)
           bytes += std::string(1, c) + std::string(3, '\0');
         return bytes;
       }()},
      {"utf-8", "\xEF\xBB\xBF" + kDocument},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OpenedContainer container;
    container.containerHost.overrideEmbedded = false;
    EXPECT_EQ(container.openFile(dir.write("doc.smi", c.bytes)), Kestrel::kResultOk);
    EXPECT_FALSE(container.container->getProgramIds().head == nullptr);
  }
}

TEST(TextInput, UrlsNamingNoRegularFileFailAtOnce) {
  TempDir dir;
  const std::string fifo = dir.path() + "/pipe.smi";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ::mkdir((dir.path() + "/folder.smi").c_str(), 0700);
  const std::string urls[] = {
      KestrelTest::fileUrl(fifo),
      KestrelTest::fileUrl(dir.path() + "/folder.smi"),
      KestrelTest::fileUrl(sparseFile(dir, off_t{1} << 31)),
      "file:///dev/zero",
      "file://otherhost" + dir.path() + "/a.smi",
      "file:///tmp/%zz.smi",
  };
  for (const std::string& url : urls) {
    SCOPED_TRACE(url);
    OpenedContainer container;
    Source source(url);
    EXPECT_EQ(container.container->open(source.descriptor()), Kestrel::kResultFailure);
    EXPECT_EQ(probeUrl(container, url), 0);
  }
}

TEST(TextInputLog, RefusedFilesAreLogged) {
  if (!KestrelTest::isRecordingLog())
    GTEST_SKIP() << "runs under the recording logging library only";
  TempDir dir;
  const std::string fifo = dir.path() + "/pipe.smi";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge = sparseFile(dir, off_t{3} << 30);
  OpenedContainer c;
  KestrelTest::clearRecordedLog();
  EXPECT_NE(c.openFile(fifo), Kestrel::kResultOk);
  EXPECT_NE(c.openFile(huge), Kestrel::kResultOk);
  const std::string function = "Utilities|Kestrel::ParserUtilities::readTextFile|";
  EXPECT_EQ(KestrelTest::recordedLog(),
            (std::vector<std::string>{function + "284|Failed to open file " + fifo + "\\n",
                                      function + "298|Couldn't allocate 3221225473 bytes\\n"}));
}
