// The udra command line: strict numbers and what each command must be given.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "Arguments.h"

namespace udra::tool {
namespace {

struct Parsed {
  bool ok;
  std::string command, error;
  Options options;
};

Parsed Parse(std::initializer_list<const char*> args) {
  std::vector<std::string> words{"udra"};
  for (const char* a : args) words.push_back(a);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  Parsed p;
  p.ok = ParseArguments(int(words.size()), argv.data(), p.command, p.options, p.error);
  return p;
}

TEST(UdraArguments, NumbersAreWholeAndInRange) {
  long long v = 0;
  EXPECT_TRUE(ParseNumber("67108864", 1, INT32_MAX, v));
  EXPECT_EQ(v, 67108864);
  EXPECT_TRUE(ParseNumber("-5", -10, 10, v));
  EXPECT_EQ(v, -5);
  for (const char* bad : {"", "abc", "12abc", " 12", "+3", "-", "0x10", "1e3", "99999999999999999999", "2147483648"})
    EXPECT_FALSE(ParseNumber(bad, 1, INT32_MAX, v)) << bad;
  EXPECT_FALSE(ParseNumber("0", 1, 10, v));
}

TEST(UdraArguments, BadValuesAreUsageErrorsThatNameTheOption) {
  for (auto args : {std::initializer_list<const char*>{"sync", "--cache", "abc", "Data"},
                    {"sync", "--cache", "0", "Data"},
                    {"sync", "--timeout", "-1", "Data"},
                    {"sync", "--priority", "high", "Data"}}) {
    const Parsed p = Parse(args);
    EXPECT_FALSE(p.ok);
    EXPECT_NE(p.error.find("--"), std::string::npos) << p.error;
  }
  const Parsed cache = Parse({"sync", "--cache", "abc", "Data"});
  EXPECT_NE(cache.error.find("abc"), std::string::npos) << cache.error;
}

TEST(UdraArguments, EachCommandGetsThePathsItTakes) {
  EXPECT_FALSE(Parse({"sync"}).ok);
  EXPECT_FALSE(Parse({"stat", "--json"}).ok);
  EXPECT_FALSE(Parse({"cat"}).ok);
  EXPECT_FALSE(Parse({"extract"}).ok);
  EXPECT_FALSE(Parse({"init", "Data"}).ok);
  EXPECT_FALSE(Parse({"predownload", "Data"}).ok);
  EXPECT_TRUE(Parse({"ls"}).ok);
  EXPECT_TRUE(Parse({"verify"}).ok);
  EXPECT_FALSE(Parse({"sync", "--repair", "Data"}).ok);
  EXPECT_FALSE(Parse({"frobnicate"}).ok);
  EXPECT_FALSE(Parse({"ls", "--nope"}).ok);
  EXPECT_FALSE(Parse({"ls", "--dir"}).ok);  // the value is missing
}

TEST(UdraArguments, OptionsAndPathsMixInAnyOrder) {
  const Parsed p = Parse({"sync", "Data/Maps", "--json", "--dir=/opt/game", "--cache", "1024", "Single.txt"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.command, "sync");
  EXPECT_EQ(p.options.dir, "/opt/game");
  EXPECT_EQ(p.options.cacheLimit, 1024u);
  EXPECT_TRUE(p.options.json);
  EXPECT_EQ(p.options.paths, (std::vector<std::string>{"Data/Maps", "Single.txt"}));
  // After "--" a path may start with dashes.
  const Parsed dashed = Parse({"stat", "--", "--odd-name"});
  ASSERT_TRUE(dashed.ok) << dashed.error;
  EXPECT_EQ(dashed.options.paths, (std::vector<std::string>{"--odd-name"}));
  EXPECT_TRUE(Parse({"ls"}).options.dir.empty());  // the caller chooses the default
}

}  // namespace
}  // namespace udra::tool
