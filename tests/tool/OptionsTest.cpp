#include "Options.h"

#include <gtest/gtest.h>
#include <vector>

using namespace KestrelTool;

namespace {

ParsedOptions parse(std::vector<const char*> args) {
  args.insert(args.begin(), "kestrel-sami");
  return parseOptions(static_cast<int>(args.size()), args.data());
}

} // namespace

TEST(ToolOptions, OptionsMayComeAnywhereInEitherForm) {
  const auto parsed = parse({"-v", "--plugin=/p.so", "play", "--rate", "-0.5", "f.smi",
                             "--from=1500", "--code-page", "", "--lang", "ko-KR"});
  ASSERT_EQ(parsed.error, "");
  const Options& o = parsed.options;
  EXPECT_EQ(o.command, Command::Play);
  EXPECT_EQ(o.file, "f.smi");
  EXPECT_TRUE(o.verbose);
  EXPECT_EQ(o.pluginPath, "/p.so");
  EXPECT_EQ(o.rate, -500);
  EXPECT_EQ(o.fromMs, 1500u);
  EXPECT_EQ(o.codePage, ""); // given and empty: the bytes are taken as UTF-8
  EXPECT_EQ(o.language, "ko-KR");
}

TEST(ToolOptions, RatesAreExactThousandths) {
  const struct {
    const char* text;
    int32_t rate;
  } cases[] = {{"1", 1000}, {"2.5", 2500}, {"-1", -1000},    {"0.001", 1},
               {".5", 500}, {"+3", 3000},  {"1000", 1000000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto parsed = parse({"play", "f.smi", "--rate", c.text});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.rate, c.rate);
  }
}

TEST(ToolOptions, EveryMistakeIsOneSentence) {
  const struct {
    std::vector<const char*> args;
    const char* error;
  } cases[] = {
      {{}, "no command given; try \"kestrel-sami help\"."},
      {{"show", "f.smi"},
       "unknown command \"show\"; the commands are probe, info, play, export "
       "and help."},
      {{"info"}, "\"info\" needs a SAMI file."},
      {{"info", "a.smi", "b.smi"},
       "only one file can be given, but both \"a.smi\" and \"b.smi\" "
       "were."},
      {{"info", "f.smi", "--bogus"}, "unknown option \"--bogus\"; try \"kestrel-sami help\"."},
      {{"info", "f.smi", "--lang"}, "option --lang needs a value."},
      {{"info", "f.smi", "--rate", "2"}, "option --rate does not apply to \"info\"."},
      {{"--format=srt", "play", "f.smi"}, "option --format does not apply to \"play\"."},
      {{"play", "f.smi", "--rate", "0"},
       "--rate must not be 0: a stopped stream hands out no "
       "subtitles."},
      {{"play", "f.smi", "--rate", "1.2345"},
       "--rate needs a speed factor such as 1, 0.5 or -2 "
       "(at most 1000 and three decimals), not \"1.2345\"."},
      {{"play", "f.smi", "--rate", "1001"},
       "--rate needs a speed factor such as 1, 0.5 or -2 "
       "(at most 1000 and three decimals), not \"1001\"."},
      {{"play", "f.smi", "--from", "-5"},
       "--from needs a time in milliseconds (0 to "
       "4294967295), not \"-5\"."},
      {{"play", "f.smi", "--stream", "x"},
       "--stream needs a stream identifier as \"info\" "
       "lists it, not \"x\"."},
      {{"export", "f.smi"}, "\"export\" needs --format srt, vtt, ass or json."},
      {{"export", "f.smi", "--format", "ssa"},
       "--format must be srt, vtt, ass or json, not \"ssa\"."},
      {{"export", "f.smi", "--format", "srt", "--stream", "1", "--lang", "en"},
       "--stream and --lang both choose a stream; give one of them."},
      {{"info", "f.smi", "-v=1"}, "unknown option \"-v=1\"; try \"kestrel-sami help\"."},
      {{"info", "f.smi", "--verbose=yes"}, "option --verbose takes no value."},
      {{"export", "f.smi", "--format", "srt", "-o", ""}, "option -o needs a file name."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_EQ(parse(c.args).error, c.error);
  }
}

TEST(ToolOptions, HelpWinsOverEverythingElse) {
  EXPECT_EQ(parse({"help"}).options.command, Command::Help);
  const auto parsed = parse({"info", "--rate", "2", "-h"});
  EXPECT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.command, Command::Help);
}
