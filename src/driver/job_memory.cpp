// SPDX-License-Identifier: GPL-3.0-or-later
#include "driver/job_memory.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "errors.h"
#include "job.h"
#include "observed_data.h"

namespace {

// A number of bytes from a cgroup file ("max" and unreadable files give a negative value).
double read_cgroup_bytes(const std::string& path) {
  std::ifstream in(path);
  std::string word;
  if (!(in >> word) || word.empty() || word.find_first_not_of("0123456789") != std::string::npos)
    return -1.0;
  return std::stod(word);
}

// The directory of this process's cgroup (v2 unified hierarchy), or an empty string.
std::string own_cgroup_directory() {
  std::ifstream in("/proc/self/cgroup");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("0::", 0) == 0) return "/sys/fs/cgroup" + line.substr(3);
  return std::string();
}

}  // namespace

JobMemory estimate_job_memory(const Job& job, long long pilot_size, long long accepted) {
  const double record = sizeof(LocusRecord);
  const double loci = job.I, pops = job.J,
               stats = static_cast<double>(job.nb_class_fis) + job.nb_class_fst;
  const double draws = static_cast<double>(accepted);
  JobMemory m;
  // pop_target, the observed statistics, and the reader's totals of each locus.
  m.observed = pops * loci * record + pops * stats * sizeof(double) + loci * 3 * sizeof(int);
  m.pilot_distances = 2.0 * pops * static_cast<double>(pilot_size) * sizeof(double);
  // Per worker: the simulated data set; per locus its slot and totals (3 ints), the sort
  // space, pooled frequencies and radix keys (4 doubles); per population the draws,
  // distances and ranks, and the statistics.
  const double worker = pops * loci * record + loci * (3 * sizeof(int) + 4 * sizeof(double)) +
                        pops * (5 * sizeof(double) + 2 * sizeof(int) + stats * sizeof(double));
  m.worker_states = std::max(job.nb_procs, 1) * worker;
  // Per population and accepted draw: the adjusted and unadjusted Fis and Fst (floats), the
  // regression designs kept for the diagnostics (the statistics as floats, the response and
  // weight as doubles, for both parameters); plus the least-squares system of one population.
  m.posterior_samples =
      pops * draws * (4 * sizeof(float) + stats * sizeof(float) + 4 * sizeof(double)) +
      draws * (std::max(job.nb_class_fis, job.nb_class_fst) + 3) * sizeof(double);
  // With -gof: the parameter vectors (2J + 1 values) that its predictive check simulates again.
  if (job.gof_count > 0)
    m.posterior_samples +=
        pops * std::min(job.gof_count, job.nb_final) * (2 * pops + 1) * sizeof(double);
  return m;
}

double available_memory() {
  double available = -1.0;
  {
    std::ifstream in("/proc/meminfo");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("MemAvailable:", 0) != 0) continue;
      std::istringstream fields(line.substr(13));
      double kib = 0.0;
      if (fields >> kib) available = kib * 1024.0;
      break;
    }
  }
  if (available < 0.0) {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && page_size > 0) available = static_cast<double>(pages) * page_size;
  }
  const std::string group = own_cgroup_directory();
  for (const std::string& dir : {group, std::string("/sys/fs/cgroup")}) {
    if (dir.empty()) continue;
    const double limit = read_cgroup_bytes(dir + "/memory.max");
    if (limit < 0.0) continue;
    const double used = std::max(0.0, read_cgroup_bytes(dir + "/memory.current"));
    const double left = std::max(0.0, limit - used);
    available = available < 0.0 ? left : std::min(available, left);
    break;
  }
  return available;
}

std::string format_bytes(double bytes) {
  static const char* const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  int u = 0;
  while (bytes >= 1024.0 && u < 6) {
    bytes /= 1024.0;
    ++u;
  }
  char text[64];
  if (u == 0)
    std::snprintf(text, sizeof text, "%.0f bytes", bytes);
  else
    std::snprintf(text, sizeof text, "%.1f %s", bytes, units[u]);
  return text;
}

void check_job_memory(const Job& job, const JobMemory& need, double available) {
  // Nothing to compare with when the machine does not say.
  if (available < 0.0 || need.total() <= available) return;
  fail(
      "Not enough memory for the job on \"%s\" (%d loci, %d populations): it needs about %s "
      "(observed data %s, pilot distances %s, worker states %s, posterior samples %s), but "
      "%s are available. Reduce -n, raise -ar or use fewer threads (-nprocs).",
      job.file_name.c_str(), job.I, job.J, format_bytes(need.total()).c_str(),
      format_bytes(need.observed).c_str(), format_bytes(need.pilot_distances).c_str(),
      format_bytes(need.worker_states).c_str(), format_bytes(need.posterior_samples).c_str(),
      format_bytes(available).c_str());
}
