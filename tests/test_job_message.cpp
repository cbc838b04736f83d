// SPDX-License-Identifier: GPL-3.0-or-later
// The job message that carries a Job to the other processes of a cluster run: what is
// written is read back whole, and a message of another version or cut short is refused.
#include <gtest/gtest.h>

#include <string>

#include "core/job_message.h"

namespace {

Job sample_job() {
  Job job;
  job.nb_class_fis = 7;
  job.ratio = 0.0125;
  job.hpdi_pc = 0.9f;
  job.user_seed_given = true;
  job.user_seed = 4000000000u;
  job.estimation_method = EstimationMethod::joint;
  job.input_format = InputFormat::dart;
  job.odir = "out/";
  job.pops_file = "p.csv";
  job.command_words = {"bandstat", "-seed", "4000000000", "a b.txt"};
  job.I = 2;
  job.J = 3;
  for (int i = 0; i < 6; ++i) job.pop_target.push_back(LocusRecord{10 + i, i, 0.0});
  job.target_fis = {0.1, 0.2, 0.3};
  job.target_fst = {-1.0, 0.5};
  job.job_index = 2;
  job.file_name = "a b.txt";
  job.file_prefix = "a b";
  return job;
}

}  // namespace

TEST(JobMessage, ReadsBackWhatWasWritten) {
  const Job sent = sample_job();
  const std::string bytes = encode_job(sent);
  const Job got = decode_job(bytes);
  EXPECT_EQ(encode_job(got), bytes);
  EXPECT_EQ(got.nb_class_fis, 7);
  EXPECT_EQ(got.nb_class_fst, DEFAULT_NB_CLASS_FST);
  EXPECT_EQ(got.ratio, 0.0125);
  EXPECT_EQ(got.hpdi_pc, 0.9f);
  EXPECT_EQ(got.user_seed, 4000000000u);
  EXPECT_EQ(got.estimation_method, EstimationMethod::joint);
  EXPECT_EQ(got.input_format, InputFormat::dart);
  EXPECT_EQ(got.command_words, sent.command_words);
  EXPECT_EQ(got.pops_file, "p.csv");
  ASSERT_EQ(got.pop_target.size(), 6u);
  EXPECT_EQ(got.pop_target[5].n, 15);
  EXPECT_EQ(got.pop_target[5].k, 5);
  EXPECT_EQ(got.target_fst, sent.target_fst);
  EXPECT_EQ(got.job_index, 2);
  EXPECT_EQ(got.file_prefix, "a b");
}

TEST(JobMessageDeathTest, RefusesAnotherVersionOrAShortMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::string bytes = encode_job(sample_job());
  std::string other = bytes;
  other[0] = static_cast<char>(JOB_MESSAGE_VERSION + 1);
  EXPECT_EXIT(decode_job(other), testing::ExitedWithCode(1),
              "The processes run different versions of bandstat \\(job message 2, expected 1\\)");
  std::string other_build = bytes;
  other_build[4] = static_cast<char>(other_build[4] ^ 1);  // the field list's checksum
  EXPECT_EXIT(decode_job(other_build), testing::ExitedWithCode(1),
              "different builds of bandstat \\(their job options differ\\)");
  for (size_t cut : {size_t(2), size_t(40), bytes.size() - 1}) {
    SCOPED_TRACE(cut);
    EXPECT_EXIT(decode_job(bytes.substr(0, cut)), testing::ExitedWithCode(1), "cut short");
  }
  EXPECT_EXIT(decode_job(bytes + "x"), testing::ExitedWithCode(1), "longer than its fields");
}
