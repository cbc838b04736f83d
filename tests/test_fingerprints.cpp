// SPDX-License-Identifier: GPL-3.0-or-later
// Fingerprints of a table of seeded jobs: a checksum of every output file and of the
// console, held here, so that a change of structure that should change no output is seen
// to change none, byte for byte, whatever the number of workers. The jobs cover every input
// layout (counts, GenAlEx, DArT with a pops file), both estimation methods and every output
// (-keep -s -convert -cv -gof -plot). A change that is meant to change an output updates its line
// here, and says why in its commit; BANDSTAT_PRINT_FINGERPRINTS=1 prints the table as the code now
// gives it.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "support.h"

namespace {

uint64_t fnv1a(const std::string& bytes) {
  uint64_t sum = 14695981039346656037ULL;
  for (unsigned char c : bytes) {
    sum ^= c;
    sum *= 1099511628211ULL;
  }
  return sum;
}

std::string hex(uint64_t v) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
  return text;
}

// The console without its clock: the durations it reports are the one thing in it that
// changes from run to run.
std::string without_durations(std::string out) {
  for (const char* lead : {"made in ", "take about "}) {
    for (size_t at = out.find(lead); at != std::string::npos; at = out.find(lead, at + 1)) {
      const size_t digits = at + std::strlen(lead);
      size_t end = digits;
      while (end < out.size() && std::isdigit(static_cast<unsigned char>(out[end]))) ++end;
      out.replace(digits, end - digits, "N");
    }
  }
  return out;
}

struct Job {
  const char* name;
  std::vector<std::string> inputs;  // copied into the job's folder: the input, then others
  std::vector<std::string> args;    // before the common options and the input
  // Output file (or "console") and its checksum.
  std::map<std::string, std::string> fingerprints;
};

// The files a job left in `dir`, but its inputs and its run record (which holds the date,
// the durations and the command line), and the console, each with its checksum.
std::map<std::string, std::string> fingerprints_of(const TempDir& dir, const Job& job,
                                                   const std::string& console) {
  std::map<std::string, std::string> got;
  got["console"] = hex(fnv1a(without_durations(console)));
  const CommandResult ls = run_shell("ls", dir.path());
  size_t at = 0;
  while (at < ls.out.size()) {
    const size_t end = ls.out.find('\n', at);
    const std::string name = ls.out.substr(at, end - at);
    at = end == std::string::npos ? ls.out.size() : end + 1;
    bool input = false;
    for (const std::string& in : job.inputs) input = input || name == in.substr(in.rfind('/') + 1);
    if (input || name.empty() || name.find("_run.txt") != std::string::npos) continue;
    got[name] = hex(fnv1a(read_file(dir.file(name))));
  }
  return got;
}

const std::vector<std::string> COMMON = {"-n",  "300",   "-ar",  "0.05",   "-seed",
                                         "11",  "-keep", "-s",   "st.txt", "-convert",
                                         "-cv", "20",    "-gof", "20",     "-plot"};

std::vector<Job> jobs() {
  const std::string data = test_data_dir() + "/";
  const std::string examples = source_dir() + "/examples/";
  return {
      {"counts, 4 populations",
       {examples + "example.txt"},
       {},
       {
           {"console", "ca3b4e2c5a6212df"},
           {"example_Fis1.txt", "b420a51e311b0865"},
           {"example_Fis2.txt", "758f54ed73b3fb1b"},
           {"example_Fis3.txt", "7acb1cfcaaffcdc3"},
           {"example_Fis4.txt", "dc64c6834b345d89"},
           {"example_Fst1.txt", "c5d507b9df7d2da9"},
           {"example_Fst2.txt", "c15959bef604a953"},
           {"example_Fst3.txt", "067bd005af0948fa"},
           {"example_Fst4.txt", "bd36a74fc89cbe3d"},
           {"example_check-input.txt", "5c7e354dbd10d6a3"},
           {"example_codominant.txt", "0c827f859d24cbce"},
           {"example_cv.svg", "092c758dd9e81898"},
           {"example_cv.txt", "fcd43780b18159a0"},
           {"example_cv_summary.txt", "e06984398582c2fb"},
           {"example_diagnostics.txt", "48d7dc7b498e10dd"},
           {"example_gof.svg", "ecddd1273aba1945"},
           {"example_gof.txt", "52e28ac47cb9e278"},
           {"example_gof_null.txt", "68cc02326de1ce88"},
           {"example_no_regression.txt", "2973376df420ea99"},
           {"example_posterior.svg", "d59cdbfbec9cc7ce"},
           {"example_ppc.txt", "1ef2630a34a299ac"},
           {"example_regression.txt", "b8af24b7e75fce8b"},
           {"st.txt", "9c79f4da59867dc5"},
       }},
      {"GenAlEx, 18 populations",
       {data + "rootrot.csv"},
       {},
       {
           {"console", "7fc494913b748db8"},
           {"rootrot_Fis1.txt", "d698a20ff14b4c40"},
           {"rootrot_Fis10.txt", "10d02898b710ed14"},
           {"rootrot_Fis11.txt", "811ec4b31c1a3e4d"},
           {"rootrot_Fis12.txt", "9f81db2e7830f2a5"},
           {"rootrot_Fis13.txt", "692a365a9ac6797e"},
           {"rootrot_Fis14.txt", "a9cdadf28c952f84"},
           {"rootrot_Fis15.txt", "c3c9fe7f0e957c30"},
           {"rootrot_Fis16.txt", "e56dbcf1568e3d53"},
           {"rootrot_Fis17.txt", "604252746189c2a8"},
           {"rootrot_Fis18.txt", "ad1fe0f34baef98a"},
           {"rootrot_Fis2.txt", "2f7771ad959c69bc"},
           {"rootrot_Fis3.txt", "404fc580fc78cc98"},
           {"rootrot_Fis4.txt", "16ccd3617c466ca1"},
           {"rootrot_Fis5.txt", "2880ba925a66d231"},
           {"rootrot_Fis6.txt", "765a56a8d45bcf4f"},
           {"rootrot_Fis7.txt", "50565fa60d9cb07b"},
           {"rootrot_Fis8.txt", "ded4d7609f8ab03c"},
           {"rootrot_Fis9.txt", "6919d2fc1c92e563"},
           {"rootrot_Fst1.txt", "2f583d1742b6e25f"},
           {"rootrot_Fst10.txt", "1de04bde75934775"},
           {"rootrot_Fst11.txt", "bd1a08812f821e05"},
           {"rootrot_Fst12.txt", "51990cca430846a7"},
           {"rootrot_Fst13.txt", "a05d9847a5c860b2"},
           {"rootrot_Fst14.txt", "10be8b0ebad39fdb"},
           {"rootrot_Fst15.txt", "5c45ce651adf64cb"},
           {"rootrot_Fst16.txt", "c5f170bbf42a92bd"},
           {"rootrot_Fst17.txt", "789890d2c95e67a0"},
           {"rootrot_Fst18.txt", "ca27b74d84118cfd"},
           {"rootrot_Fst2.txt", "c6e7b53a13c2f532"},
           {"rootrot_Fst3.txt", "686d341a9a954b86"},
           {"rootrot_Fst4.txt", "6a180bbd4e58b573"},
           {"rootrot_Fst5.txt", "068288042b2f5109"},
           {"rootrot_Fst6.txt", "9bd46b823a0809b0"},
           {"rootrot_Fst7.txt", "2cc362560a1a360a"},
           {"rootrot_Fst8.txt", "ab09b07d3d50728e"},
           {"rootrot_Fst9.txt", "1ca0abe75c306422"},
           {"rootrot_check-input.txt", "146f24bacc69f7b7"},
           {"rootrot_codominant.txt", "06eda593c0ad6947"},
           {"rootrot_counts.txt", "cc4d765c89f6e4be"},
           {"rootrot_cv.svg", "ba6ae2e86c916b1e"},
           {"rootrot_cv.txt", "120818e4e005d6b1"},
           {"rootrot_cv_summary.txt", "b10edea3032af349"},
           {"rootrot_diagnostics.txt", "68f685fe3904d152"},
           {"rootrot_gof.svg", "2c926d6b32a0514b"},
           {"rootrot_gof.txt", "d34132a67b49488a"},
           {"rootrot_gof_null.txt", "759f7178e1ea60e2"},
           {"rootrot_no_regression.txt", "01b6a06a287fb314"},
           {"rootrot_posterior.svg", "70ca4acbfd16ba53"},
           {"rootrot_ppc.txt", "7218804cc217af99"},
           {"rootrot_regression.txt", "c7d26a745988a1ea"},
           {"st.txt", "fa5b8ccc1083d88f"},
       }},
      {"DArT report with a pops file",
       {examples + "dart.csv", examples + "dart_pops.csv"},
       {"-pops", "dart_pops.csv"},
       {
           {"console", "3f19a53cd1caba15"},
           {"dart_Fis1.txt", "23928c48471f05fe"},
           {"dart_Fis2.txt", "e1e1b176f25fdf50"},
           {"dart_Fst1.txt", "636c68d5b9a90faf"},
           {"dart_Fst2.txt", "e11978a1b5c3b645"},
           {"dart_check-input.txt", "15a38bc1c45c3bce"},
           {"dart_codominant.txt", "3a293c582fc558a5"},
           {"dart_counts.txt", "50c97e70e643a01d"},
           {"dart_cv.svg", "0b786512baac8477"},
           {"dart_cv.txt", "dfbc63641e393416"},
           {"dart_cv_summary.txt", "bd29f4bce3d2a2e6"},
           {"dart_diagnostics.txt", "55219ce3b012d14a"},
           {"dart_gof.svg", "3f362cf8a04a48f6"},
           {"dart_gof.txt", "45df7cdd4adb43bd"},
           {"dart_gof_null.txt", "36bea2588e3817a2"},
           {"dart_no_regression.txt", "c009c88e36db9d3e"},
           {"dart_posterior.svg", "4999d9e035f67633"},
           {"dart_ppc.txt", "9efd5a960c31efc1"},
           {"dart_regression.txt", "8f694643a6b22e8b"},
           {"st.txt", "b2e7970b8536a83b"},
       }},
      {"counts, 4 populations, -method joint",
       {examples + "example.txt"},
       {"-method", "joint", "-sims", "20000"},
       {
           {"console", "15535c97c11519e6"},
           {"example_Fis1.txt", "44e1f368885b194a"},
           {"example_Fis2.txt", "69f8e3e390ec0930"},
           {"example_Fis3.txt", "1d2f226a29c6830a"},
           {"example_Fis4.txt", "93f94236ba06b4f3"},
           {"example_Fst1.txt", "78908e1592759b0f"},
           {"example_Fst2.txt", "c99e8fa461202be5"},
           {"example_Fst3.txt", "91843da8c7c2b486"},
           {"example_Fst4.txt", "5bd310d32a54b04f"},
           {"example_check-input.txt", "5c7e354dbd10d6a3"},
           {"example_codominant.txt", "7b8fa982572062c5"},
           {"example_cv.svg", "d0429188465d3a2d"},
           {"example_cv.txt", "d555aa0076491399"},
           {"example_cv_summary.txt", "35f8810bfd823879"},
           {"example_diagnostics.txt", "358b7ccd62bf290c"},
           {"example_gof.svg", "d861854f274d9352"},
           {"example_gof.txt", "ec9ea07fb8a06ca5"},
           {"example_gof_null.txt", "15862310f837e7f5"},
           {"example_no_regression.txt", "5f9a9c9e56cdb4a9"},
           {"example_posterior.svg", "c26dc35f9d940f76"},
           {"example_regression.txt", "fcaed6971554e53b"},
           {"st.txt", "38d23b34ff070cf2"},
       }},
      {"counts, 2 populations",
       {data + "rootrot_2pops.txt"},
       {},
       {
           {"console", "73c23c88a029a0bc"},
           {"rootrot_2pops_Fis1.txt", "99f0560601d3207e"},
           {"rootrot_2pops_Fis2.txt", "0fbd0b785e4b9948"},
           {"rootrot_2pops_Fst1.txt", "f59646caea7120aa"},
           {"rootrot_2pops_Fst2.txt", "2a661ce8d6bd9c29"},
           {"rootrot_2pops_check-input.txt", "fea5eb1b6cd0a37c"},
           {"rootrot_2pops_codominant.txt", "816a87d077f1856b"},
           {"rootrot_2pops_cv.svg", "a162bd21ba1737b4"},
           {"rootrot_2pops_cv.txt", "21be5c5f3e829f9f"},
           {"rootrot_2pops_cv_summary.txt", "4b4f8213d383ca37"},
           {"rootrot_2pops_diagnostics.txt", "11b0e534b5649550"},
           {"rootrot_2pops_gof.svg", "bb09c9df2584527c"},
           {"rootrot_2pops_gof.txt", "82b58acd915faf44"},
           {"rootrot_2pops_gof_null.txt", "47cc05c5a34489ff"},
           {"rootrot_2pops_no_regression.txt", "bf3d5df1c04d93ae"},
           {"rootrot_2pops_posterior.svg", "9695341cfd340bc8"},
           {"rootrot_2pops_ppc.txt", "bcb781a4de21508e"},
           {"rootrot_2pops_regression.txt", "e83b6290946114bb"},
           {"st.txt", "d64729469310c864"},
       }},
  };
}

TEST(Fingerprints, SeededJobsGiveTheFilesAndConsoleTheyAlwaysGave) {
  const bool print = std::getenv("BANDSTAT_PRINT_FINGERPRINTS") != nullptr;
  for (const Job& job : jobs()) {
    for (const char* nprocs : {"1", "3"}) {
      SCOPED_TRACE(std::string(job.name) + ", -nprocs " + nprocs);
      TempDir dir;
      for (const std::string& in : job.inputs)
        write_file(dir.file(in.substr(in.rfind('/') + 1)), read_file(in));
      std::vector<std::string> args = job.args;
      args.insert(args.end(), COMMON.begin(), COMMON.end());
      args.insert(args.end(), {"-nprocs", nprocs});
      args.push_back(job.inputs[0].substr(job.inputs[0].rfind('/') + 1));
      const CommandResult r = run_bandstat(args, dir.path());
      ASSERT_EQ(r.status, 0) << r.err;
      const std::map<std::string, std::string> got = fingerprints_of(dir, job, r.out);
      if (print) {
        std::printf("// %s\n", job.name);
        for (const auto& [name, sum] : got)
          std::printf("{\"%s\", \"%s\"},\n", name.c_str(), sum.c_str());
        continue;
      }
      for (const auto& [name, sum] : job.fingerprints) {
        SCOPED_TRACE(name);
        ASSERT_EQ(got.count(name), 1u);
        EXPECT_EQ(got.at(name), sum);
      }
      EXPECT_EQ(got.size(), job.fingerprints.size());
    }
  }
}

}  // namespace
