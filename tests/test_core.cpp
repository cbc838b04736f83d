// SPDX-License-Identifier: GPL-3.0-or-later
// Output files written under a temporary name, and the clean-up of incomplete files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/output_file.h"
#include "errors.h"
#include "support.h"

TEST(OutputFile, AppearsUnderItsNameOnlyWhenCommitted) {
  TempDir dir;
  const std::string name = dir.file("out.txt");
  OutputFile out(name);
  ASSERT_TRUE(out.is_open());
  out.stream() << "line 1\nline 2\n";
  out.stream().flush();
  EXPECT_FALSE(file_exists(name));
  EXPECT_EQ(read_file(temporary_name(name)), "line 1\nline 2\n");
  ASSERT_TRUE(out.commit());
  EXPECT_EQ(read_file(name), "line 1\nline 2\n");
  EXPECT_FALSE(file_exists(temporary_name(name)));
}

TEST(OutputFile, AbandonedOrFailedFilesLeaveNothing) {
  TempDir dir;
  const std::string name = dir.file("out.txt");
  {
    OutputFile out(name);
    out.stream() << "half a file";
  }
  EXPECT_FALSE(file_exists(name));
  EXPECT_FALSE(file_exists(temporary_name(name)));

  // Names that cannot become a file are refused at once, as opening them would be.
  const std::string folder = dir.file("folder");
  ASSERT_EQ(std::system(("mkdir " + folder).c_str()), 0);
  for (const std::string& name : {folder, folder + "/", std::string(), dir.file("no/such/x.txt")}) {
    SCOPED_TRACE(name);
    OutputFile out(name);
    EXPECT_FALSE(out.is_open());
    EXPECT_FALSE(out.commit());
    EXPECT_FALSE(file_exists(temporary_name(name)));
  }

  // The final name becomes a folder while the file is written: the rename fails, and the
  // written text goes too.
  const std::string blocked = dir.file("blocked");
  OutputFile out(blocked);
  ASSERT_TRUE(out.is_open());
  ASSERT_EQ(std::system(("mkdir " + blocked).c_str()), 0);
  out.stream() << "text";
  EXPECT_FALSE(out.commit());
  EXPECT_FALSE(file_exists(temporary_name(blocked)));
}

// Registers a, c (created) and b (never created), creates and releases `kept`, then runs
// the clean-up of a process that is ending and exits with the number of files it removed.
void clean_up_and_exit(const std::string& a, const std::string& b, const std::string& c,
                       const std::string& kept) {
  std::ofstream fa;
  std::ofstream fk;
  open_incomplete_file(fa, a);
  open_incomplete_file(fk, kept);
  release_incomplete_file(kept);
  track_incomplete_file(b);
  OutputFile fc(c);
  std::_Exit(static_cast<int>(remove_incomplete_files_at_exit().size()));
}

TEST(OutputFile, ExitCleanUpRemovesEveryRegisteredFile) {
  TempDir dir;
  const std::string c = dir.file("c.txt");
  EXPECT_EXIT(clean_up_and_exit(dir.file("a.txt"), dir.file("b.txt"), c, dir.file("kept.txt")),
              ::testing::ExitedWithCode(2), "");
  EXPECT_FALSE(file_exists(dir.file("a.txt")));
  EXPECT_FALSE(file_exists(temporary_name(c)));
  EXPECT_TRUE(file_exists(dir.file("kept.txt")));
}

// The error module is the one way out: each ending prints on its own streams and ends with
// status 1. Both streams are sent to files in the
// child so that standard output can be checked too.
TEST(ErrorsDeathTest, EachEndingPrintsOnItsStreamsAndExitsWithOne) {
  struct Case {
    const char* name;
    void (*end)();
    const char* out;
    const char* err;
  } cases[] = {
      // Progress printed before the error must not be lost in the buffer.
      {"fail",
       [] {
         std::printf("progress ");
         fail("Input file \"%s\", line %d: bad", "in.txt", 3);
       },
       "progress ", "Input file \"in.txt\", line 3: bad\n"},
      {"fail_with_notice",
       [] { fail_with_notice("Error opening file", "Could not open %s for reading", "x.txt"); },
       "Error opening file\n", "Could not open x.txt for reading\n"},
      // A file name is data, never a format.
      {"fail_on_stdout", [] { fail_on_stdout("Could not open file %s\n", "a%d.txt"); },
       "Could not open file a%d.txt\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string out = dir.file("stdout");
    const std::string err = dir.file("stderr");
    EXPECT_EXIT(
        {
          if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(err.c_str(), "w", stderr))
            std::_Exit(2);
          c.end();
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(read_file(out), c.out);
    EXPECT_EQ(read_file(err), c.err);
  }
}
