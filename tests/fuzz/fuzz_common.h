// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the fuzz targets: a scratch folder for the files the band-count reader writes,
// the program's default configuration with a fresh job made from it for every input, and the
// checks a reader's result must pass.
//
// A failed check prints what broke and aborts, which libFuzzer records as a finding together
// with the input. Refusals (InputError) are the readers' normal answer to bad bytes and are
// not findings.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "config.h"
#include "core/output_names.h"
#include "data/input_error.h"
#include "data/matrix_input.h"
#include "data/read_input.h"
#include "job.h"

namespace fuzz {

// Standard error as it was at start-up. libFuzzer's -close_fd_mask=2 closes the program's
// standard error (the readers' warnings would flood the log); the messages of a failed check
// still reach the log through this copy.
inline int& report_fd() {
  static int fd = 2;
  return fd;
}

[[noreturn]] inline void broken(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void broken(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  const std::string line = std::string("FUZZ CHECK FAILED: ") + text + "\n";
  (void)!write(report_fd(), line.data(), line.size());
  std::abort();
}

#define FUZZ_CHECK(cond, ...)               \
  do {                                      \
    if (!(cond)) fuzz::broken(__VA_ARGS__); \
  } while (0)

// The scratch folder, made once per process and used as odir: the check and counts files of
// every input land there, replaced by the next input's, and are removed at exit. It lies in
// TMPDIR when that is set, else in /dev/shm where there is one (writing the files to memory
// rather than disk makes the whole-reader targets several times faster), else in /tmp.
inline void remove_scratch();
inline const std::string& scratch_dir() {
  static const std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string root = base && *base ? base : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = root + "/bandstat-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
      broken("cannot make a scratch folder in %s", root.c_str());
    return pattern;
  }();
  return dir;
}
inline void remove_scratch() {
  for (const char* name : {"fuzz_check-input.txt", "fuzz_counts.txt", "pops.csv"})
    std::remove((scratch_dir() + "/" + name).c_str());
  rmdir(scratch_dir().c_str());
}

// The configuration every input's job starts from: the program's defaults, the scratch
// folder as odir, and what a target sets once in its initialisation (the input layout, a
// -pops file). Never changed while inputs run.
inline Config& base_config() {
  static Config config;
  return config;
}

// Once per process: the scratch folder as the configuration's odir.
inline void setup() {
  report_fd() = dup(2);
  if (report_fd() < 0) report_fd() = 2;
  base_config().odir = scratch_dir() + "/";
  std::atexit(remove_scratch);
}

// A job of its own for every input, so that nothing one input left in a job (its data, its
// statistics) can hide or cause a finding on the next.
inline Job fresh_job() {
  Job job(base_config());
  job.file_prefix = "fuzz";
  job.file_name = "fuzz-input.txt";
  return job;
}

// What a successful read of the band-count reader leaves in the job: at least one locus and
// one population, a record for each of them with 0 <= k <= n and n > 0, and a finite
// observed statistic for every class of every population.
inline void check_observed(const Job& job) {
  const int I = job.I, J = job.J;
  const std::vector<LocusRecord>& pop_target = job.pop_target;
  const std::vector<double>& target_fis = job.target_fis;
  const std::vector<double>& target_fst = job.target_fst;
  const int nb_class_fis = job.nb_class_fis, nb_class_fst = job.nb_class_fst;
  FUZZ_CHECK(I >= 1 && J >= 1, "I = %d, J = %d accepted", I, J);
  FUZZ_CHECK(pop_target.size() >= static_cast<size_t>(I) * J, "%zu records for %d x %d",
             pop_target.size(), J, I);
  FUZZ_CHECK(target_fis.size() >= static_cast<size_t>(J) * nb_class_fis &&
                 target_fst.size() >= static_cast<size_t>(J) * nb_class_fst,
             "%zu Fis and %zu Fst statistics for %d populations", target_fis.size(),
             target_fst.size(), J);
  for (int p = 0; p < J; ++p)
    for (int l = 0; l < I; ++l) {
      const LocusRecord& r = pop_target[job.record_index(p, l)];
      FUZZ_CHECK(r.n > 0 && r.k >= 0 && r.k <= r.n,
                 "population %d, locus %d: n = %d, k = %d accepted", p + 1, l + 1, r.n, r.k);
    }
  for (size_t i = 0; i < static_cast<size_t>(J) * nb_class_fis; ++i)
    FUZZ_CHECK(std::isfinite(target_fis[i]), "Fis statistic %zu is %g", i, target_fis[i]);
  for (size_t i = 0; i < static_cast<size_t>(J) * nb_class_fst; ++i)
    FUZZ_CHECK(std::isfinite(target_fst[i]), "Fst statistic %zu is %g", i, target_fst[i]);
}

// What a matrix reader's tally must satisfy: one name, one individual count and one row of
// missing cells per population, as many cells in every population as there are loci, and at
// every cell 0 <= k <= n <= the population's individuals.
inline void check_matrix(const MatrixCounts& m) {
  const size_t pops = m.pop_names.size(), loci = m.locus_names.size();
  FUZZ_CHECK(m.individuals.size() == pops && m.missing.size() == pops,
             "%zu populations but %zu individual counts and %zu missing rows", pops,
             m.individuals.size(), m.missing.size());
  FUZZ_CHECK(m.n.size() == pops * loci && m.k.size() == pops * loci,
             "%zu populations x %zu loci but %zu n and %zu k cells", pops, loci, m.n.size(),
             m.k.size());
  for (size_t p = 0; p < pops; ++p) {
    FUZZ_CHECK(m.individuals[p] >= 1, "population %zu has %d individuals", p + 1, m.individuals[p]);
    long long missing = 0;
    for (long long c : m.missing[p]) {
      FUZZ_CHECK(c >= 0, "population %zu: a negative missing count", p + 1);
      missing += c;
    }
    long long scored = 0;
    for (size_t l = 0; l < loci; ++l) {
      const int n = m.n[p * loci + l], k = m.k[p * loci + l];
      FUZZ_CHECK(n >= 1 && k >= 0 && k <= n && n <= m.individuals[p],
                 "population %zu, locus %zu: n = %d, k = %d with %d individuals", p + 1, l + 1, n,
                 k, m.individuals[p]);
      scored += m.individuals[p] - n;
    }
    // Every unscored cell of a usable locus was counted under some missing code.
    FUZZ_CHECK(scored <= missing, "population %zu: %lld unscored cells but %lld missing", p + 1,
               scored, missing);
  }
}

// The whole band-count reader on `bytes` into `job` (the check file, and for a matrix the
// counts file, written to the scratch folder). Returns false on a refusal.
inline bool read_whole(Job& job, std::string_view bytes) {
  try {
    read_input_bytes(job, bytes);
  } catch (const InputError&) {
    return false;
  }
  check_observed(job);
  return true;
}

// A matrix read through the whole reader into `job` leaves a counts file in the band-count
// format; read back by a job of its own (as band counts, without the -pops file), it must
// give the very counts the matrix gave.
inline void check_counts_round_trip(const Job& job) {
  const int loci = job.I, pops = job.J;
  std::ifstream in(counts_file_name(job), std::ios::binary);
  FUZZ_CHECK(in.is_open(), "no counts file after a matrix input");
  std::stringstream text;
  text << in.rdbuf();
  Job back = fresh_job();
  back.input_format = InputFormat::counts;
  back.pops_file.clear();
  bool ok = true;
  std::string why;
  try {
    read_input_bytes(back, text.str());
  } catch (const InputError& e) {
    ok = false;
    why = e.what();
  }
  FUZZ_CHECK(ok, "the counts file of a matrix input is refused: %s", why.c_str());
  FUZZ_CHECK(back.I == loci && back.J == pops,
             "counts file: %d loci, %d populations; the matrix %d, %d", back.I, back.J, loci, pops);
  for (int p = 0; p < pops; ++p)
    for (int l = 0; l < loci; ++l) {
      const LocusRecord& a = job.pop_target[job.record_index(p, l)];
      const LocusRecord& b = back.pop_target[back.record_index(p, l)];
      FUZZ_CHECK(a.n == b.n && a.k == b.k,
                 "population %d, locus %d: matrix %d %d, counts file %d %d", p + 1, l + 1, a.n, a.k,
                 b.n, b.k);
    }
}

// One matrix input in the given layout, in a fresh job: the tally checked on its own, then
// the whole reader on the same bytes and its counts file read back. `pops_text` is the -pops
// file of a DArT report (already written to the configuration's pops_file).
inline void fuzz_matrix(std::string_view bytes, InputFormat format,
                        std::string_view pops_text = {}) {
  Job job = fresh_job();
  MatrixCounts m;
  try {
    m = read_matrix(usable_text(bytes, job.file_name), format, job.file_name, pops_text,
                    job.pops_file);
  } catch (const InputError&) {
    return;
  }
  check_matrix(m);
  if (read_whole(job, bytes)) check_counts_round_trip(job);
}

}  // namespace fuzz
