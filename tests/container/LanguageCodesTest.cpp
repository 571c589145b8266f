#include "container/LanguageCodes.h"

#include <gtest/gtest.h>

namespace {

TEST(LanguageCodes, MapsEachFormToItsCounterpart) {
  const struct {
    const char* code;
    const char* counterpart;
  } cases[] = {{"fre", "fr"},
               {"fr", "fre"},
               {"ger", "de"},
               {"de", "ger"},
               {"tib", "bo"},
               {"bo", "tib"},
               {"wel", "cy"},
               {"aar", "aa"},
               {"zu", "zul"},
               {"eng", "en"},
               // "my" has two partners: the later pair (mya, my) wins the reverse lookup.
               {"my", "mya"},
               {"bur", "my"},
               {"mya", "my"},
               // No case folding, no fallback, no partial matches.
               {"EN", ""},
               {"xx", ""},
               {"", ""},
               {"fr-CA", ""},
               {"e", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(Kestrel::languageCounterpart(c.code), c.counterpart);
  }
}

} // namespace
