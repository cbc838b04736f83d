// SPDX-License-Identifier: GPL-3.0-or-later
// Output files that never look complete before they are.
//
// Every output file of a job is written under a temporary name beside its final name (the
// final name plus ".part", so in the same directory) and renamed once its last byte is
// written and checked. A crash, a full disk or a killed process thus leaves at most a
// ".part" file, never a short file under a name the user expects.
//
// Files that are still incomplete are registered here. An interrupt or a fatal error
// removes every registered file before the process ends (remove_incomplete_files_at_exit).
// Registering and creating a file happen in one hold of the registry lock, and so do a
// rename and its release, so an interrupt that arrives in between sees either no file or a
// registered one.
#pragma once

#include <fstream>
#include <string>
#include <vector>

// The temporary name under which `final_name` is written.
std::string temporary_name(const std::string& final_name);

// Registers `path` as incomplete and creates it (truncated) on `out`, in one hold of the
// registry lock. Returns false, with nothing registered, when the file cannot be created.
// With `append` an existing file keeps its bytes and the writes go after them.
bool open_incomplete_file(std::ofstream& out, const std::string& path, bool append = false);

// Registers a file that is to be removed on an interrupt or a fatal error (one that exists
// already, or may come to exist under another writer).
void track_incomplete_file(const std::string& path);

// The file is complete (or gone): an interrupt leaves it alone from now on.
void release_incomplete_file(const std::string& path);

// Renames `from` to `to` and releases `from`, in one hold of the registry lock. Returns
// false when the rename fails; `from` then stays registered.
bool rename_complete_file(const std::string& from, const std::string& to);

// Removes every registered file and returns the names of those that existed. For the paths
// that end the process: the registry stays locked afterwards, so that no file is created,
// renamed or registered by another thread before the process is gone.
std::vector<std::string> remove_incomplete_files_at_exit();

// One output file written under its temporary name:
//
//   OutputFile out(name);
//   if (!out.is_open()) fail("Cannot create ... %s", name.c_str());
//   out.stream() << ...;
//   if (!out.commit()) fail("Cannot write ... %s", name.c_str());
//
// An OutputFile destroyed without a successful commit removes its temporary file.
class OutputFile {
 public:
  explicit OutputFile(const std::string& final_name);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool is_open() const { return out_.is_open(); }
  std::ofstream& stream() { return out_; }
  const std::string& name() const { return final_name_; }

  // Closes the file, checks that every write succeeded and renames it to its final name.
  // Returns false (and removes the temporary file) when a write or the rename failed.
  bool commit();

 private:
  std::string final_name_;
  std::string temp_name_;
  std::ofstream out_;
  bool settled_ = false;
};
