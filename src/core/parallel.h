// SPDX-License-Identifier: GPL-3.0-or-later
// A pool of threads for the analyses after the simulation runs (cross-validation,
// goodness of fit), whose results are written by task index and so do not depend on the
// number of threads.
#pragma once

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

// Runs `work` on `threads` threads, this one among them (at most `tasks` in all), and waits
// for them. `work` takes its tasks from a shared counter; a thread the system refuses leaves
// its share to the others.
template <class Work>
void run_on_threads(int threads, int tasks, Work work) {
  std::vector<std::thread> pool;
  for (int t = 1; t < std::min(threads, tasks); ++t) {
    try {
      pool.emplace_back(work);
    } catch (const std::exception&) {
      break;  // the threads that started, and this one, do the work
    }
  }
  work();
  for (std::thread& t : pool) t.join();
}
