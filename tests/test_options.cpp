// SPDX-License-Identifier: GPL-3.0-or-later
// The option parser in the mode the program uses it: single-dash long names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/command_line.h"
#include "options/anyoption.h"

namespace {

// A parser set up by the program's own registration, fed the given words after the program
// name.
struct Parsed {
  AnyOption opt;
  std::vector<std::string> words;
  std::vector<char*> argv;

  explicit Parsed(std::vector<std::string> w) : words(std::move(w)) {
    register_options(opt);
    words.insert(words.begin(), "bandstat");
    for (std::string& s : words) argv.push_back(&s[0]);
    opt.processCommandArgs(static_cast<int>(argv.size()), argv.data());
  }

  std::string value(const char* name) {
    const char* v = opt.getValue(name);
    return v ? v : "<unset>";
  }
  std::vector<std::string> extras() {
    std::vector<std::string> out;
    for (int i = 0; i < opt.getArgc(); ++i) out.push_back(opt.getArgv(i));
    return out;
  }
};

struct ParseCase {
  std::vector<std::string> words;
  std::string n;                    // value of "n"
  std::string o;                    // value of "o"
  bool keep;                        // flag "keep"
  std::vector<std::string> extras;  // plain words, in order
};

}  // namespace

TEST(AnyOption, ParsesTheCommandLineAsTheProgramNeedsIt) {
  const std::vector<ParseCase> cases = {
      {{"-n", "100"}, "100", "<unset>", false, {}},
      {{"--n", "100"}, "100", "<unset>", false, {}},
      {{"-n=100"}, "100", "<unset>", false, {}},
      // A value option as the last word stays unset.
      {{"a.txt", "-n"}, "<unset>", "<unset>", false, {"a.txt"}},
      // The next word is the value whatever it looks like.
      {{"-o", "-keep"}, "<unset>", "-keep", false, {}},
      {{"-keep=yes"}, "<unset>", "<unset>", true, {}},
      {{"-keep", "x.txt"}, "<unset>", "<unset>", true, {"x.txt"}},
      // Lone dashes and unknown names are not collected (unknownOption names the first).
      {{"-", "--", "-xyz", "b.txt"}, "<unset>", "<unset>", false, {"b.txt"}},
      {{"a.txt", "-n", "10", "b.txt"}, "10", "<unset>", false, {"a.txt", "b.txt"}},
      {{"-n", "10", "-n", "20"}, "20", "<unset>", false, {}},
      // "=" as the first character does not split the word.
      {{"-=5", "c.txt"}, "<unset>", "<unset>", false, {"c.txt"}},
      {{"-n=", "d.txt"}, "", "<unset>", false, {"d.txt"}},
  };
  for (const ParseCase& c : cases) {
    std::string line;
    for (const std::string& w : c.words) line += w + " ";
    SCOPED_TRACE(line);
    Parsed p(c.words);
    EXPECT_EQ(p.value("n"), c.n);
    EXPECT_EQ(p.value("o"), c.o);
    EXPECT_EQ(p.opt.getFlag("keep"), c.keep);
    EXPECT_EQ(p.extras(), c.extras);
    EXPECT_EQ(p.opt.getArgv(p.opt.getArgc()), nullptr);
  }
}

// The words the program refuses: the first that names no option (as typed), and a value
// option with no word left for its value.
TEST(AnyOption, NamesTheFirstUnknownWordAndTheOptionWithoutValue) {
  const struct {
    std::vector<std::string> words;
    const char* unknown;
    const char* without_value;
  } cases[] = {
      {{"-n", "5", "-keep", "a.txt"}, nullptr, nullptr},
      {{"-nproc", "2", "-xyz"}, "-nproc", nullptr},
      {{"a.txt", "--kep=1", "-nproc"}, "--kep=1", nullptr},
      {{"-", "a.txt"}, "-", nullptr},
      {{"a.txt", "--"}, "--", nullptr},
      {{"-o", "-nothing"}, nullptr, nullptr},  // a value, whatever it looks like
      {{"a.txt", "-s"}, nullptr, "-s"},
      {{"-wrong", "--n"}, "-wrong", "--n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words.front());
    Parsed p(c.words);
    auto text = [](const char* s) { return std::string(s ? s : "<none>"); };
    EXPECT_EQ(text(p.opt.unknownOption()), text(c.unknown));
    EXPECT_EQ(text(p.opt.optionWithoutValue()), text(c.without_value));
  }
}

TEST(AnyOption, HasOptionsCountsAnyWordAfterTheProgramName) {
  Parsed bare({});
  EXPECT_FALSE(bare.opt.hasOptions());
  EXPECT_EQ(bare.opt.getArgc(), 0);
  Parsed only_options({"-n", "5"});
  EXPECT_TRUE(only_options.opt.hasOptions());
  EXPECT_EQ(only_options.opt.getArgc(), 0);
  Parsed unknown({"-whatever"});
  EXPECT_TRUE(unknown.opt.hasOptions());
  EXPECT_FALSE(unknown.opt.getFlag('h'));
}

TEST(AnyOption, UnregisteredNamesHaveNoValue) {
  Parsed p({"-nothing", "3"});
  EXPECT_EQ(p.opt.getValue("nothing"), nullptr);
  EXPECT_FALSE(p.opt.getFlag("nothing"));
  EXPECT_EQ(p.extras(), std::vector<std::string>{"3"});

  AnyOption empty;  // nothing registered: every question answers "not given"
  EXPECT_EQ(empty.getValue("n"), nullptr);
  EXPECT_FALSE(empty.getFlag("keep"));
}

TEST(AnyOption, TablesGrowAndKeepEveryEntryInOrder) {
  // 40 names and 50 usage lines force several doublings of both tables.
  std::vector<std::string> names, lines;
  for (int i = 0; i < 40; ++i) names.push_back("opt" + std::to_string(i));
  for (int i = 0; i < 50; ++i) lines.push_back("line " + std::to_string(i));
  AnyOption opt;
  opt.noPOSIX();
  for (const std::string& l : lines) opt.addUsage(l.c_str());
  for (const std::string& n : names) opt.setOption(n.c_str());
  std::vector<std::string> words = {"prog"};
  for (int i = 0; i < 40; ++i) {
    words.push_back("-" + names[i]);
    words.push_back(std::to_string(i * 7));
  }
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  opt.processCommandArgs(static_cast<int>(argv.size()), argv.data());
  for (int i = 0; i < 40; ++i)
    EXPECT_EQ(std::string(opt.getValue(names[i].c_str())), std::to_string(i * 7));

  testing::internal::CaptureStdout();
  opt.printUsage();
  opt.printUsage();  // only the first call prints
  std::string printed = testing::internal::GetCapturedStdout();
  std::string expected = "\n";
  for (const std::string& l : lines) expected += l + "\n";
  expected += "\n";
  EXPECT_EQ(printed, expected);
}

TEST(AnyOption, NamesRegisteredAfterParsingHaveNoValue) {
  Parsed p({"-n", "5", "-late", "7"});
  p.opt.setOption("late");  // too late: the values were laid out at parsing
  EXPECT_EQ(p.opt.getValue("late"), nullptr);
  EXPECT_EQ(p.value("n"), "5");
}
