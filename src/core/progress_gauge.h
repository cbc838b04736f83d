// SPDX-License-Identifier: GPL-3.0-or-later
// The progress gauges of standard output: " 1% 2% ... 100%" as a share of work rises. One
// class for the simulation runs and the analyses after them, so that every gauge prints
// alike and none prints a percentage twice.
#pragma once

#include <cstdio>
#include <mutex>

#include "progress.h"

class PercentGauge {
 public:
  // Starts over, as if `shown` had been printed already (a resumed run goes on from there).
  void restart(int shown = 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_ = shown;
  }
  // From now on every percentage printed is told to `observer` (none: null) as one of
  // `stage`, which must outlive the gauge's use.
  void observe(ProgressObserver* observer, const char* stage) {
    std::lock_guard<std::mutex> lock(mutex_);
    observer_ = observer;
    stage_ = stage;
  }
  // Prints `percent` if it is beyond the last percentage printed, whichever thread printed
  // that; returns the last percentage printed. Safe from any thread.
  int show(int percent) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (percent > shown_) {
      shown_ = percent;
      std::printf(" %d%%", shown_);
      std::fflush(stdout);
      if (observer_) observer_->on_progress(stage_, shown_);
    }
    return shown_;
  }

 private:
  std::mutex mutex_;
  int shown_ = 0;
  ProgressObserver* observer_ = nullptr;
  const char* stage_ = "";
};
