// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/output_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace {

// The registry outlives every static destructor (it is never freed): the interrupt thread
// may consult it while the process is ending normally.
struct Registry {
  std::mutex lock;
  std::vector<std::string> paths;
};

Registry& registry() {
  static Registry* r = new Registry();
  return *r;
}

void erase_path(std::vector<std::string>& paths, const std::string& path) {
  auto it = std::find(paths.begin(), paths.end(), path);
  if (it != paths.end()) paths.erase(it);
}

}  // namespace

std::string temporary_name(const std::string& final_name) { return final_name + ".part"; }

bool open_incomplete_file(std::ofstream& out, const std::string& path, bool append) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  out.open(path, std::ios::out | (append ? std::ios::app : std::ios::trunc));
  if (!out.is_open()) return false;
  r.paths.push_back(path);
  return true;
}

void track_incomplete_file(const std::string& path) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  r.paths.push_back(path);
}

void release_incomplete_file(const std::string& path) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  erase_path(r.paths, path);
}

bool rename_complete_file(const std::string& from, const std::string& to) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  if (std::rename(from.c_str(), to.c_str()) != 0) return false;
  erase_path(r.paths, from);
  return true;
}

std::vector<std::string> remove_incomplete_files_at_exit() {
  Registry& r = registry();
  // Never released: the caller ends the process, and no other thread may create or rename
  // a file behind this clean-up.
  r.lock.lock();
  std::vector<std::string> removed;
  for (const std::string& path : r.paths) {
    if (std::remove(path.c_str()) == 0) removed.push_back(path);
  }
  r.paths.clear();
  return removed;
}

OutputFile::OutputFile(const std::string& final_name)
    : final_name_(final_name), temp_name_(temporary_name(final_name)) {
  // A name that cannot hold a file (empty, a folder) is refused now, as opening it would
  // be, rather than after the whole file has been written beside it.
  struct stat st;
  const bool folder = final_name.empty() || final_name.back() == '/' ||
                      (stat(final_name.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
  if (!folder) open_incomplete_file(out_, temp_name_);
}

OutputFile::~OutputFile() {
  if (settled_ || temp_name_.empty()) return;
  if (out_.is_open()) {
    out_.close();
    std::remove(temp_name_.c_str());
    release_incomplete_file(temp_name_);
  }
}

bool OutputFile::commit() {
  if (!out_.is_open()) return false;
  out_.close();
  const bool written = !out_.fail();
  if (!written || !rename_complete_file(temp_name_, final_name_)) {
    std::remove(temp_name_.c_str());
    release_incomplete_file(temp_name_);
    settled_ = true;  // the temporary file is gone: nothing left to clean up
    return false;
  }
  settled_ = true;
  return true;
}
