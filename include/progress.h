// SPDX-License-Identifier: GPL-3.0-or-later
// What a caller of the library learns of a job's progress while it runs.
#pragma once

class ProgressObserver {
 public:
  virtual ~ProgressObserver() = default;
  // Stage `stage` ("pilot", "production", "reference table") has reached `percent` (1 to
  // 100, each value once, rising). Called from whichever worker thread got there, under the
  // gauge's lock: it must return quickly and must not call back into the job.
  virtual void on_progress(const char* stage, int percent) = 0;
};
