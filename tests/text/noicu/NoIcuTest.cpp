// Built with a converter library path that does not exist when the process starts.

#include "support/HostObjects.h"
#include "text/ParserUtilities.h"
#include "text/UCNVLibrary.h"

#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>

using namespace Kestrel;
using VYDSOLD::UCNVLibrary;

namespace {

class WithoutIcu : public testing::Test {
protected:
  void SetUp() override {
    std::error_code ignored;
    std::filesystem::remove(KESTREL_ICU_LIBRARY, ignored);
    ASSERT_FALSE(std::filesystem::exists(KESTREL_ICU_LIBRARY));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove(KESTREL_ICU_LIBRARY, ignored);
  }
};

} // namespace

TEST_F(WithoutIcu, ConversionsFailAndTheLoadIsNeverRetried) {
  UCNVLibrary* library = UCNVLibrary::instance();
  ASSERT_NE(library, nullptr);
  EXPECT_FALSE(library->isAvailable());
  EXPECT_EQ(convertToUtf8("UTF16-LE", "h\0i\0", 4), "");

  // The library appears: the instance keeps reporting error 5 all the same.
  std::filesystem::create_directories(std::filesystem::path(KESTREL_ICU_LIBRARY).parent_path());
  std::filesystem::create_symlink(KESTREL_REAL_ICU, KESTREL_ICU_LIBRARY);
  void* loadable = dlopen(KESTREL_ICU_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(loadable, nullptr) << "the late library should load now";
  dlclose(loadable);

  EXPECT_EQ(UCNVLibrary::instance(), library);
  UCNVLibrary::ErrorCode error = 0;
  EXPECT_EQ(library->openConverter("UTF8", &error), nullptr);
  EXPECT_EQ(error, UCNVLibrary::kUnavailable);
  EXPECT_EQ(library->openConverter("UTF8", nullptr), nullptr);
  error = 0;
  char16_t* target = nullptr;
  const char* source = nullptr;
  library->toUnicode(nullptr, &target, nullptr, &source, nullptr, nullptr, true, &error);
  EXPECT_EQ(error, UCNVLibrary::kUnavailable);
  error = 0;
  char* byteTarget = nullptr;
  const char16_t* unitSource = nullptr;
  library->fromUnicode(nullptr, &byteTarget, nullptr, &unitSource, nullptr, nullptr, true, &error);
  EXPECT_EQ(error, UCNVLibrary::kUnavailable);
  library->closeConverter(nullptr); // does nothing
  EXPECT_EQ(convertToUtf8("UTF16-LE", "h\0i\0", 4), "");
}

TEST_F(WithoutIcu, SignedUtf8IsRejectedUnsignedLoads) {
  KestrelTest::TempDir dir;
  KestrelTest::TestContainerHost host;
  host.overrideEmbedded = false;
  BufferString text("untouched");
  const std::string signedFile = dir.write("signed.smi", "\xEF\xBB\xBF<SAMI>");
  EXPECT_FALSE(ParserUtilities::readTextFile(BufferString(signedFile.c_str()), &host, &text, -1));
  EXPECT_EQ(text, "untouched");
  const std::string plainFile = dir.write("plain.smi", "<SAMI>");
  EXPECT_TRUE(ParserUtilities::readTextFile(BufferString(plainFile.c_str()), &host, &text, -1));
  EXPECT_EQ(text, "<SAMI>");
  // A named code page can't be converted either.
  host.codePageName = "windows-1252";
  EXPECT_FALSE(ParserUtilities::readTextFile(BufferString(plainFile.c_str()), &host, &text, -1));
}
