// SPDX-License-Identifier: GPL-3.0-or-later
// Checkpoints of a job: STEM_checkpoint holds all that a job needs to go on where it
// stopped, and -resume continues from it with the same outputs, byte for byte, as a run
// that was never stopped.
//
// A checkpoint is written at a block boundary: in the pilot run, the distances (and
// reference-table rows) of the blocks completed without a gap from block 0; in the
// production run, the state after the last committed block. Blocks beyond are simply
// simulated again on resume: every block's random stream depends on the job's seed and the
// block's number only. After the production run nothing random is left, so a job resumed
// in the posterior analysis or the cross-validation redoes them from the accepted-draw
// files and the state that the checkpoint keeps.
//
// It is written every checkpoint_seconds of wall time (by a worker after a pilot block, by
// the committer after a production block), once when the production run ends, and on
// SIGTERM or SIGINT. The file is written under a temporary name and renamed, so the last
// complete checkpoint survives a crash or SIGKILL at any moment.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "run_state.h"

// Where a job stands. New stages go at the end; the number is the one in the file.
enum class Stage : uint32_t {
  none = 0,
  pilot = 1,
  production = 2,
  posterior = 3,
  cross_validation = 4
};
const char* stage_name(Stage stage);

// The contents of a checkpoint file, as read back.
struct Checkpoint {
  std::string path;                        // the file it was read from
  std::vector<std::string> command_words;  // the command line of the first run
  std::string directory;                   // its working folder
  int job_index = 0;                       // the input file's place among the command's
  std::vector<Stage> resumes;              // the stage of every earlier resume, in order
  uint32_t job_seed = 0;
  Stage stage = Stage::none;
  int block_size = 0;
  long long pilot_size = 0;
  std::string input_name;
  uint64_t input_checksum = 0;
  std::string pops_name;  // the -pops file (empty: none) and the checksum of its bytes
  uint64_t pops_checksum = 0;
  // The rest, which restore_pilot or restore_production reads once the job has its input.
  std::string body;
};

// A checksum of a file's bytes (64-bit FNV-1a); false when it cannot be read.
bool file_checksum(const std::string& path, uint64_t& sum);

// Reads and checks a checkpoint; a file of another format or version, or whose checksum
// does not match, ends the run with a message (status 1), the file untouched.
Checkpoint read_checkpoint(const std::string& path);

struct CheckpointState;

// The checkpoints of one job in the driver's hands, from before its first stage to its end.
// Made once `run` holds the job's seed, blocks and pilot distances (the run must outlive
// it); from then on the runs tell it of their blocks (run.block_listeners). `resumed`: the
// checkpoint the job goes on from (null for a fresh job).
class JobCheckpoints {
 public:
  JobCheckpoints(Run& run, const Checkpoint* resumed);
  ~JobCheckpoints();
  JobCheckpoints(const JobCheckpoints&) = delete;
  JobCheckpoints& operator=(const JobCheckpoints&) = delete;

  // The main thread enters `stage` (no worker runs). Holding the checkpoint lock meanwhile
  // keeps a checkpoint from seeing the state half changed: `change` runs under it.
  void enter_stage(Stage stage, const std::function<void()>& change = nullptr);
  // The job is done: the checkpoint goes, and with it the job's state stops being saved.
  void end();

  // The run record's line on the resumes of this job ("" for a job never resumed): how
  // many times and from which stages, this one included.
  std::string resume_summary() const;
  // The run record's line on the checkpoints this process wrote for the job ("" for none):
  // their number, the seconds they took and the size of the last.
  std::string checkpoint_summary();

  // Restoring a resumed job's state, by the driver, before the stage it resumes runs: the
  // pilot rows already simulated, or the thresholds, counts, reference table and -gof
  // vectors of the production run.
  // restore_pilot returns the first block the pilot run has left to simulate.
  long long restore_pilot(const Checkpoint& c);
  // Returns the block to commit next; sets the run's replicates_done.
  long long restore_production(const Checkpoint& c);

 private:
  std::unique_ptr<CheckpointState> state_;
};

// Signal path: writes the checkpoint of every job in progress, if any, and returns the
// first one's name (empty when there is none), with the program word of its command line
// in `program`. The accepted-draw files that they need are released from the incomplete
// files, so that the clean-up keeps them. Never returns the locks it takes: the process
// ends after it.
std::string checkpoint_on_signal(std::string* program = nullptr);
