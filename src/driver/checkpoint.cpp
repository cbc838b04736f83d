// SPDX-License-Identifier: GPL-3.0-or-later
#include "driver/checkpoint.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>

#include "config.h"
#include "core/output_file.h"
#include "core/output_names.h"
#include "driver/run_record.h"
#include "errors.h"
#include "observed_data.h"
#include "predictive_draws.h"
#include "reference_table.h"
#include "run_state.h"

namespace {

// The first bytes of every checkpoint, then the format version. A change of the layout
// below takes a new format version.
const char MAGIC[] = "bandstat checkpoint\n";
constexpr size_t MAGIC_SIZE = sizeof MAGIC - 1;
constexpr uint32_t FORMAT_VERSION = 2;

constexpr uint64_t FNV_OFFSET = 14695981039346656037ULL;
constexpr uint64_t FNV_PRIME = 1099511628211ULL;

uint64_t fnv1a(const char* data, size_t size, uint64_t sum = FNV_OFFSET) {
  for (size_t i = 0; i < size; ++i) {
    sum ^= static_cast<unsigned char>(data[i]);
    sum *= FNV_PRIME;
  }
  return sum;
}

// Values in the byte order of the machine: a checkpoint goes on on the same kind of
// machine (a cluster's nodes), not across architectures.
struct Writer {
  std::string bytes;
  template <typename T>
  void put(T v) {
    bytes.append(reinterpret_cast<const char*>(&v), sizeof v);
  }
  template <typename T>
  void put_array(const T* v, size_t n) {
    put<uint64_t>(n);
    bytes.append(reinterpret_cast<const char*>(v), n * sizeof(T));
  }
  template <typename T>
  void put_vector(const std::vector<T>& v) {
    put_array(v.data(), v.size());
  }
  void put_string(const std::string& s) { put_array(s.data(), s.size()); }
};

struct Reader {
  const std::string& bytes;
  size_t at;
  const std::string& path;
  [[noreturn]] void damaged() const {
    fail("Cannot resume from %s: its contents do not hold together (a damaged checkpoint)",
         path.c_str());
  }
  template <typename T>
  T get() {
    T v;
    if (bytes.size() - at < sizeof v) damaged();
    std::memcpy(&v, bytes.data() + at, sizeof v);
    at += sizeof v;
    return v;
  }
  template <typename T>
  std::vector<T> get_vector() {
    const uint64_t n = get<uint64_t>();
    if (n > (bytes.size() - at) / sizeof(T)) damaged();
    std::vector<T> v(n);
    if (n) std::memcpy(v.data(), bytes.data() + at, n * sizeof(T));
    at += n * sizeof(T);
    return v;
  }
  std::string get_string() {
    const std::vector<char> v = get_vector<char>();
    return std::string(v.begin(), v.end());
  }
};

long long now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

const char ROWS_MAGIC[] = "bandstat checkpoint rows\n";
constexpr size_t ROWS_MAGIC_SIZE = sizeof ROWS_MAGIC - 1;
// What a segment of the rows file holds, after its first row and its row count.
constexpr uint8_t HOLDS_DISTANCES = 1;
constexpr uint8_t HOLDS_TABLE = 2;

// Every column of the rows [first, first + count) that a segment holds, in the file's order:
// the distances (Fis then Fst, by population), then the table's parameters and statistics.
// `visit(pointer, bytes)` sees each contiguous piece once.
template <typename Visit>
void for_each_piece(Run& run, uint8_t holds, long long first, long long count, Visit visit) {
  const Job& job = run.job;
  const size_t a = static_cast<size_t>(first), n = static_cast<size_t>(count);
  if (holds & HOLDS_DISTANCES)
    for (auto* v : {&run.v_dist_fis, &run.v_dist_fst})
      for (int p = 0; p < job.J; ++p) visit((*v)[p].data() + a, n * sizeof(double));
  if (holds & HOLDS_TABLE) {
    ReferenceTable& t = run.reference_table;
    const size_t size = static_cast<size_t>(t.size);
    for (int k = 0; k < 2 * t.npop; ++k)
      visit(t.parameters.data() + k * size + a, n * sizeof(float));
    for (int p = 0; p < t.npop; ++p)
      visit(t.stats_fis.data() + (p * size + a) * t.nc_fis, n * t.nc_fis * sizeof(float));
    for (int p = 0; p < t.npop; ++p)
      visit(t.stats_fst.data() + (p * size + a) * t.nc_fst, n * t.nc_fst * sizeof(float));
  }
}

uint64_t file_size(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

}  // namespace

// One job being checkpointed, under `lock`. The main thread holds the lock while it moves
// from one stage to the next; a checkpoint is written under it.
struct CheckpointState {
  explicit CheckpointState(Run& run) : job(run.job), run_of_job(&run) {}

  const Job& job;
  std::mutex lock;
  Stage stage = Stage::none;
  int job_index = 0;
  std::vector<Stage> resumes;
  // A resumed job that has not yet restored its state: its checkpoint is still the one to
  // keep, as it is.
  bool resuming = false;
  std::vector<std::string> command_words_of_job;
  std::string directory_of_job;
  uint64_t input_checksum = 0;
  std::string pops_of_job;  // the -pops file, whose bytes are the input too
  uint64_t pops_checksum = 0;
  // The state of the job's simulation runs, owned by the driver, which outlives the
  // JobCheckpoints; null once the job has ended. The signal path reaches it only through here.
  Run* run_of_job;
  long long committed_blocks = 0;  // production: the blocks committed so far
  // Pilot: which blocks are complete, and how many from block 0 without a gap.
  std::unique_ptr<std::atomic<bool>[]> pilot_done;
  long long pilot_size_of_job = 0;  // kept: the driver frees the distances before the job ends
  long long pilot_blocks_total = 0;
  long long pilot_prefix = 0;
  // The rows file (STEM_checkpoint_rows): the pilot distances and the reference table's rows,
  // each row appended once, so that a checkpoint does not write again what does not change.
  // Rows [0, rows_written) are in its first rows_length bytes, whose checksum is rows_sum; a
  // checkpoint keeps these three, and bytes beyond rows_length (a killed run's) do not count.
  long long rows_written = 0;
  uint64_t rows_length = 0;
  uint64_t rows_sum = FNV_OFFSET;
  // Whether a checkpoint of this job is on disk: one written by this process, or the one a
  // resumed job started from. Read by a failure, which may come while `lock` is held.
  std::atomic<bool> checkpoint_on_disk{false};
  // When the next periodic checkpoint is due, in steady-clock milliseconds (0: never).
  std::atomic<long long> due_ms{0};
  // The checkpoints of this job written by this process.
  int written_count = 0;
  double written_seconds = 0.0;
  uint64_t written_bytes = 0;

  void schedule_next() {
    due_ms = job.checkpoint_seconds > 0 ? now_ms() + 1000LL * job.checkpoint_seconds : 0;
  }

  // Appends the rows [rows_written, rows) to the rows file, from the arrays themselves (no
  // copy in memory), and flushes it to disk before any checkpoint points to it. The pilot run
  // appends its distances; the table's rows go whenever the job keeps a table. False when the
  // file could not be written (the checkpoints then stay as they were).
  bool append_rows(Run& run, long long rows, bool distances) {
    uint8_t holds = 0;
    if (distances && !run.v_dist_fis.empty()) holds |= HOLDS_DISTANCES;
    if (run.reference_table.kept()) holds |= HOLDS_TABLE;
    if (rows <= rows_written || holds == 0) return true;
    const std::string name = checkpoint_rows_file_name(job);
    // After a resume the file was cut back to rows_length; writing goes on from there.
    std::FILE* f = std::fopen(name.c_str(), rows_length == 0 ? "wb" : "r+b");
    if (!f) return false;
    bool ok = fseeko(f, static_cast<off_t>(rows_length), SEEK_SET) == 0;
    uint64_t sum = rows_sum, length = rows_length;
    auto put = [&](const void* data, size_t size) {
      if (!ok || size == 0) return;
      ok = std::fwrite(data, 1, size, f) == size;
      sum = fnv1a(static_cast<const char*>(data), size, sum);
      length += size;
    };
    if (length == 0) {
      put(ROWS_MAGIC, ROWS_MAGIC_SIZE);
      put(&FORMAT_VERSION, sizeof FORMAT_VERSION);
    }
    const int64_t first = rows_written, count = rows - rows_written;
    put(&first, sizeof first);
    put(&count, sizeof count);
    put(&holds, sizeof holds);
    for_each_piece(run, holds, first, count, put);
    ok = std::fflush(f) == 0 && ok;
    ok = fsync(fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) return false;
    rows_written = rows;
    rows_length = length;
    rows_sum = sum;
    return true;
  }

  // Reads back the rows file of checkpoint `c` up to the length it recorded, into the
  // distances (when `distances`) and the table, checking that it holds its rows from row 0
  // without a gap; cuts the file back to that length, so that appending goes on there.
  // Returns the number of rows, for the caller to check against its stage.
  long long restore_rows(Run& run, const Checkpoint& c, Reader& r, bool distances) {
    const long long written = r.get<int64_t>();
    const uint64_t length = r.get<uint64_t>();
    const uint64_t sum = r.get<uint64_t>();
    // Never more rows than the arrays the segments are read into.
    if (written < 0 || written > pilot_size_of_job || (length == 0) != (written == 0)) r.damaged();
    rows_written = 0;
    rows_length = 0;
    rows_sum = FNV_OFFSET;
    if (length == 0) return 0;
    const std::string name = checkpoint_rows_file_name(job);
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f)
      fail("Cannot resume from %s: the file %s it needs is missing", c.path.c_str(), name.c_str());
    uint64_t left = length, got_sum = FNV_OFFSET;
    auto get = [&](void* data, size_t size) {
      if (size > left || std::fread(data, 1, size, f) != size) {
        std::fclose(f);
        fail("Cannot resume from %s: the file %s is shorter than its checkpoint says",
             c.path.c_str(), name.c_str());
      }
      got_sum = fnv1a(static_cast<const char*>(data), size, got_sum);
      left -= size;
    };
    char magic[ROWS_MAGIC_SIZE];
    uint32_t format = 0;
    get(magic, sizeof magic);
    get(&format, sizeof format);
    if (std::memcmp(magic, ROWS_MAGIC, ROWS_MAGIC_SIZE) != 0 || format != FORMAT_VERSION)
      r.damaged();
    std::vector<char> skipped(1 << 20);
    long long covered = 0;
    while (left > 0) {
      int64_t first = 0, count = 0;
      uint8_t holds = 0;
      get(&first, sizeof first);
      get(&count, sizeof count);
      get(&holds, sizeof holds);
      // Every segment holds the table if the job keeps one; the pilot run's hold its distances.
      if (first != covered || count <= 0 || first + count > written ||
          (holds & ~(HOLDS_DISTANCES | HOLDS_TABLE)) != 0 ||
          ((holds & HOLDS_TABLE) != 0) != run.reference_table.kept() ||
          (distances && !(holds & HOLDS_DISTANCES)))
        r.damaged();
      if ((holds & HOLDS_DISTANCES) && !distances) {
        // Distances that a later stage has no use for: read past them (they count in the
        // checksum all the same).
        for (uint64_t bytes = 2ULL * job.J * static_cast<uint64_t>(count) * sizeof(double);
             bytes > 0;) {
          const size_t piece = static_cast<size_t>(std::min<uint64_t>(bytes, skipped.size()));
          get(skipped.data(), piece);
          bytes -= piece;
        }
        holds &= ~HOLDS_DISTANCES;
      }
      for_each_piece(run, holds, first, count, get);
      covered = first + count;
    }
    std::fclose(f);
    if (covered != written) r.damaged();
    if (got_sum != sum)
      fail("Cannot resume from %s: the file %s does not match it (it was truncated or edited)",
           c.path.c_str(), name.c_str());
    if (truncate(name.c_str(), static_cast<off_t>(length)) != 0)
      fail("Cannot resume from %s: the file %s cannot be cut back to %llu bytes", c.path.c_str(),
           name.c_str(), static_cast<unsigned long long>(length));
    rows_written = written;
    rows_length = length;
    rows_sum = sum;
    return written;
  }

  // The rows a checkpoint of the job needs: those of the pilot blocks complete from block 0
  // without a gap, then every row once the pilot run is over.
  long long rows_needed(const Run& run) {
    if (stage != Stage::pilot) return run.reference_table.kept() ? run.reference_table.size : 0;
    while (pilot_prefix < pilot_blocks_total && pilot_done[pilot_prefix].load()) ++pilot_prefix;
    return std::min(pilot_prefix * run.block_size, pilot_size_of_job);
  }

  // The checkpoint of the job as it stands, once the rows file holds the rows it needs; in
  // the production run the caller holds mutex_outfile.
  std::string serialise(Run& run) {
    Writer w;
    w.bytes.append(MAGIC, MAGIC_SIZE);
    w.put<uint32_t>(FORMAT_VERSION);
    w.put_string(PROGRAM_VERSION);
    w.put<uint64_t>(command_words_of_job.size());
    for (const std::string& word : command_words_of_job) w.put_string(word);
    w.put_string(directory_of_job);
    w.put<int32_t>(job_index);
    w.put<uint64_t>(resumes.size());
    for (Stage s : resumes) w.put<uint32_t>(static_cast<uint32_t>(s));
    w.put_string(job.file_name);
    w.put<uint64_t>(input_checksum);
    w.put_string(pops_of_job);
    w.put<uint64_t>(pops_checksum);
    w.put<uint32_t>(run.job_seed);
    w.put<uint32_t>(static_cast<uint32_t>(stage));
    w.put<int32_t>(run.block_size);
    w.put<int64_t>(pilot_size_of_job);
    // After the pilot run a job without a table needs nothing of the rows file.
    const bool rows_kept = stage == Stage::pilot || run.reference_table.kept();
    w.put<int64_t>(rows_kept ? rows_written : 0);
    w.put<uint64_t>(rows_kept ? rows_length : 0);
    w.put<uint64_t>(rows_kept ? rows_sum : FNV_OFFSET);
    if (stage == Stage::pilot) {
      w.put<int64_t>(pilot_prefix);
    } else {
      w.put_vector(run.quantile_fis);
      w.put_vector(run.quantile_fst);
      w.put<int64_t>(committed_blocks);
      w.put<int64_t>(committed_blocks * run.block_size);
      std::vector<int> counts(static_cast<size_t>(2 * job.J));
      for (int p = 0; p < job.J; ++p) {
        counts[p] = run.nb_fis[p].load();
        counts[job.J + p] = run.nb_fst[p].load();
      }
      w.put_vector(counts);
      // The files' committed lengths: the streams still open in the production run, the
      // files themselves once they are closed and renamed.
      std::vector<uint64_t> lengths;
      for (int k = 0; k < 2; ++k)
        for (int p = 0; p < job.J; ++p) {
          if (stage == Stage::production) {
            std::ofstream& out = k ? run.outfile_fst[p] : run.outfile_fis[p];
            out.flush();
            lengths.push_back(static_cast<uint64_t>(std::max<std::streamoff>(0, out.tellp())));
          } else {
            lengths.push_back(file_size(accepted_draw_file_name(job, k ? "Fst" : "Fis", p + 1)));
          }
        }
      w.put_vector(lengths);
      w.put<uint64_t>(run.predictive_draws.vectors.size());
      for (const std::vector<double>& v : run.predictive_draws.vectors) w.put_vector(v);
    }
    w.put<uint64_t>(fnv1a(w.bytes.data(), w.bytes.size()));
    return std::move(w.bytes);
  }

  // Writes the checkpoint of the job under its temporary name, then renames it; false when
  // the file could not be written (the previous checkpoint then stays as it was).
  bool write_checkpoint(Run& run) {
    const auto begin = std::chrono::steady_clock::now();
    const uint64_t length_before = rows_length;
    if (!append_rows(run, rows_needed(run), stage == Stage::pilot)) return false;
    const std::string bytes = serialise(run);
    const std::string name = checkpoint_file_name(job);
    const std::string temp = temporary_name(name);
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fflush(f) == 0 && ok;
    // On disk before the rename: after a node failure the checkpoint is whole or the old one.
    ok = fsync(fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), name.c_str()) != 0) {
      std::remove(temp.c_str());
      return false;
    }
    checkpoint_on_disk = true;
    ++written_count;
    written_seconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    written_bytes += bytes.size() + (rows_length - length_before);
    return true;
  }

  // A periodic checkpoint, if one is due and nobody else is writing one.
  void periodic_checkpoint(Run& run) {
    const long long due = due_ms.load(std::memory_order_relaxed);
    if (due == 0 || now_ms() < due) return;
    std::unique_lock<std::mutex> hold(lock, std::try_to_lock);
    if (!hold.owns_lock() || stage == Stage::none) return;
    if (!write_checkpoint(run))
      std::fprintf(stderr, "Warning: could not write the checkpoint %s\n",
                   checkpoint_file_name(job).c_str());
    schedule_next();
  }

  // Pilot run: block `block` is complete (its distances stored).
  void pilot_block_done(Run& run, long long block) {
    if (block >= 0 && block < pilot_blocks_total) pilot_done[block].store(true);
    periodic_checkpoint(run);
  }

  // Production run, by the committer under mutex_outfile.
  void production_block_committed(Run& run, long long block) {
    committed_blocks = block + 1;
    if (!run.finished.load()) periodic_checkpoint(run);
  }

  // The accepted-draw files of the job leave the incomplete files: a checkpoint needs them.
  void keep_accepted_draw_files_for_checkpoint() {
    for (const char* parameter : {"Fis", "Fst"})
      for (int k = 1; k <= job.J; ++k) {
        const std::string name = accepted_draw_file_name(job, parameter, k);
        release_incomplete_file(name);
        release_incomplete_file(temporary_name(name));
      }
  }

  // A failure (a refused resume, a full disk) leaves the checkpoint on disk as it was, and
  // with it the files it needs.
  void keep_checkpoint_on_failure() {
    if (checkpoint_on_disk.load()) keep_accepted_draw_files_for_checkpoint();
  }
};

namespace {}  // namespace

const char* stage_name(Stage s) {
  switch (s) {
    case Stage::none:
      return "none";
    case Stage::pilot:
      return "pilot run";
    case Stage::production:
      return "production run";
    case Stage::posterior:
      return "posterior analysis";
    case Stage::cross_validation:
      return "cross-validation";
  }
  return "unknown";
}

bool file_checksum(const std::string& path, uint64_t& sum) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return false;
  sum = FNV_OFFSET;
  std::vector<char> buffer(1 << 16);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    sum = fnv1a(buffer.data(), static_cast<size_t>(in.gcount()), sum);
  }
  return in.eof();
}

Checkpoint read_checkpoint(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) fail("Cannot resume: the checkpoint %s cannot be opened", path.c_str());
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < MAGIC_SIZE + 4 || bytes.compare(0, MAGIC_SIZE, MAGIC) != 0)
    fail("Cannot resume from %s: it is not a checkpoint of this program", path.c_str());
  uint32_t format = 0;
  std::memcpy(&format, bytes.data() + MAGIC_SIZE, sizeof format);
  if (format != FORMAT_VERSION)
    fail("Cannot resume from %s: its format version is %u, this program reads version %u",
         path.c_str(), format, FORMAT_VERSION);
  uint64_t stored = 0;
  const bool room = bytes.size() >= MAGIC_SIZE + 4 + sizeof stored;
  if (room) std::memcpy(&stored, bytes.data() + bytes.size() - sizeof stored, sizeof stored);
  if (!room || fnv1a(bytes.data(), bytes.size() - sizeof stored) != stored)
    fail("Cannot resume from %s: its checksum does not match (the file is truncated or was edited)",
         path.c_str());

  Checkpoint c;
  c.path = path;
  Reader r{bytes, MAGIC_SIZE + 4, path};
  const std::string version = r.get_string();
  if (version != PROGRAM_VERSION)
    fail("Cannot resume from %s: it was written by bandstat %s, this is bandstat %s", path.c_str(),
         version.c_str(), PROGRAM_VERSION);
  const uint64_t words = r.get<uint64_t>();
  if (words > bytes.size()) r.damaged();
  for (uint64_t i = 0; i < words; ++i) c.command_words.push_back(r.get_string());
  c.directory = r.get_string();
  c.job_index = r.get<int32_t>();
  const uint64_t nresumes = r.get<uint64_t>();
  if (nresumes > bytes.size()) r.damaged();
  for (uint64_t i = 0; i < nresumes; ++i)
    c.resumes.push_back(static_cast<Stage>(r.get<uint32_t>()));
  c.input_name = r.get_string();
  c.input_checksum = r.get<uint64_t>();
  c.pops_name = r.get_string();
  c.pops_checksum = r.get<uint64_t>();
  c.job_seed = r.get<uint32_t>();
  c.stage = static_cast<Stage>(r.get<uint32_t>());
  if (c.stage < Stage::pilot || c.stage > Stage::cross_validation) r.damaged();
  c.block_size = r.get<int32_t>();
  c.pilot_size = r.get<int64_t>();
  // The rest is read by restore_pilot and restore_production once the job has its input
  // (J); it stays here as bytes.
  c.body.assign(bytes, r.at, bytes.size() - sizeof stored - r.at);
  return c;
}

namespace {

// The jobs being checkpointed in this process, for the signal path and the failure path,
// which must find them without being handed them.
std::mutex registry_lock;
std::vector<CheckpointState*> active_jobs;

void keep_checkpoints_on_failure() {
  std::lock_guard<std::mutex> hold(registry_lock);
  for (CheckpointState* s : active_jobs) s->keep_checkpoint_on_failure();
}

void pilot_block_done(void* context, Run& run, long long block) {
  static_cast<CheckpointState*>(context)->pilot_block_done(run, block);
}

void production_block_committed(void* context, Run& run, long long block) {
  static_cast<CheckpointState*>(context)->production_block_committed(run, block);
}

}  // namespace

JobCheckpoints::JobCheckpoints(Run& run, const Checkpoint* resumed)
    : state_(new CheckpointState(run)) {
  const Job& job = run.job;
  CheckpointState& st = *state_;
  {
    std::lock_guard<std::mutex> hold(st.lock);
    st.job_index = job.job_index;
    st.resuming = resumed != nullptr;
    st.checkpoint_on_disk = st.resuming;
    if (resumed) {
      st.resumes = resumed->resumes;
      st.resumes.push_back(resumed->stage);
      st.command_words_of_job = resumed->command_words;
      st.directory_of_job = resumed->directory;
      st.input_checksum = resumed->input_checksum;
      st.pops_of_job = resumed->pops_name;
      st.pops_checksum = resumed->pops_checksum;
    } else {
      st.command_words_of_job = job.command_words;
      char here[4096];
      st.directory_of_job = getcwd(here, sizeof here) ? here : ".";
      if (!file_checksum(job.file_name, st.input_checksum))
        fail("Could not read the input file %s for its checksum", job.file_name.c_str());
      st.pops_of_job = job.pops_file;
      if (!st.pops_of_job.empty() && !file_checksum(st.pops_of_job, st.pops_checksum))
        fail("Could not read the pops file %s for its checksum", st.pops_of_job.c_str());
    }
    st.pilot_size_of_job =
        run.v_dist_fis.empty() ? 0 : static_cast<long long>(run.v_dist_fis[0].size());
    st.pilot_blocks_total =
        run.block_size > 0 ? (st.pilot_size_of_job + run.block_size - 1) / run.block_size : 0;
    st.pilot_done.reset(new std::atomic<bool>[static_cast<size_t>(st.pilot_blocks_total)]);
    for (long long b = 0; b < st.pilot_blocks_total; ++b) st.pilot_done[b] = false;
    run.block_listeners.context = state_.get();
    run.block_listeners.pilot_block_done = pilot_block_done;
    run.block_listeners.block_committed = production_block_committed;
    st.schedule_next();
  }
  std::lock_guard<std::mutex> hold(registry_lock);
  active_jobs.push_back(state_.get());
  before_failure_cleanup = keep_checkpoints_on_failure;
}

JobCheckpoints::~JobCheckpoints() {
  {
    std::lock_guard<std::mutex> hold(registry_lock);
    active_jobs.erase(std::remove(active_jobs.begin(), active_jobs.end(), state_.get()),
                      active_jobs.end());
  }
  std::lock_guard<std::mutex> hold(state_->lock);
  if (state_->run_of_job) state_->run_of_job->block_listeners = BlockListeners();
}

void JobCheckpoints::enter_stage(Stage next, const std::function<void()>& change) {
  CheckpointState& st = *state_;
  std::lock_guard<std::mutex> hold(st.lock);
  if (change) change();
  st.stage = next;
  st.resuming = false;
  // The production run is over: its last state is the one the analysis needs, so it is
  // saved at once (a later SIGKILL then loses nothing but the analysis).
  if (next == Stage::posterior && st.job.checkpoint_seconds > 0 && st.run_of_job) {
    if (!st.write_checkpoint(*st.run_of_job))
      std::fprintf(stderr, "Warning: could not write the checkpoint %s\n",
                   checkpoint_file_name(st.job).c_str());
    st.schedule_next();
  }
}

void JobCheckpoints::end() {
  CheckpointState& st = *state_;
  std::lock_guard<std::mutex> hold(st.lock);
  st.stage = Stage::none;
  st.due_ms = 0;
  std::remove(checkpoint_file_name(st.job).c_str());
  std::remove(checkpoint_rows_file_name(st.job).c_str());
  st.checkpoint_on_disk = false;
  if (st.run_of_job) st.run_of_job->block_listeners = BlockListeners();
  st.run_of_job = nullptr;
  st.pilot_done.reset();
}

std::string checkpoint_on_signal(std::string* program) {
  // Never released: the process ends after it. Every job in progress is saved; the first
  // one's name goes into the message (the program runs one job at a time).
  registry_lock.lock();
  std::string first;
  for (CheckpointState* st : active_jobs) {
    st->lock.lock();
    if ((st->stage == Stage::none && !st->resuming) || !st->run_of_job) continue;
    // The commits stop here: the files and counts stay those of the last committed block.
    if (st->stage == Stage::production) st->run_of_job->mutex_outfile.lock();
    if (!st->resuming && !st->write_checkpoint(*st->run_of_job)) continue;
    st->keep_accepted_draw_files_for_checkpoint();
    if (first.empty()) {
      first = checkpoint_file_name(st->job);
      if (program && !st->command_words_of_job.empty()) *program = st->command_words_of_job[0];
    }
  }
  return first;
}

std::string JobCheckpoints::resume_summary() const {
  const std::vector<Stage>& resumes = state_->resumes;
  if (resumes.empty()) return "";
  std::string line = "resumed: " + std::to_string(resumes.size()) +
                     (resumes.size() == 1 ? " time, from the " : " times, from the ");
  for (size_t i = 0; i < resumes.size(); ++i)
    line += std::string(i ? ", " : "") + stage_name(resumes[i]);
  return line;
}

std::string JobCheckpoints::checkpoint_summary() {
  CheckpointState& st = *state_;
  // A signal's checkpoint may be written meanwhile, on the signal thread.
  std::lock_guard<std::mutex> hold(st.lock);
  if (st.written_count == 0) return "";
  char text[160];
  std::snprintf(text, sizeof text, "checkpoints written: %d in %.3f seconds, %llu bytes in all",
                st.written_count, st.written_seconds,
                static_cast<unsigned long long>(st.written_bytes));
  return text;
}

long long JobCheckpoints::restore_pilot(const Checkpoint& c) {
  CheckpointState& st = *state_;
  Run& run = *st.run_of_job;
  Reader r{c.body, 0, c.path};
  const long long rows = st.restore_rows(run, c, r, true);
  const long long blocks = r.get<int64_t>();
  if (blocks < 0 || blocks > st.pilot_blocks_total ||
      rows != std::min(blocks * run.block_size, st.pilot_size_of_job))
    r.damaged();
  std::lock_guard<std::mutex> hold(st.lock);
  for (long long b = 0; b < blocks; ++b) st.pilot_done[b] = true;
  st.pilot_prefix = blocks;
  return blocks;
}

long long JobCheckpoints::restore_production(const Checkpoint& c) {
  CheckpointState& st = *state_;
  Run& run = *st.run_of_job;
  const Job& job = run.job;
  Reader r{c.body, 0, c.path};
  if (st.restore_rows(run, c, r, false) !=
      (run.reference_table.kept() ? run.reference_table.size : 0))
    r.damaged();
  std::vector<double>& quantile_fis = run.quantile_fis;
  std::vector<double>& quantile_fst = run.quantile_fst;
  quantile_fis = r.get_vector<double>();
  quantile_fst = r.get_vector<double>();
  const long long next = r.get<int64_t>();
  const long long done = r.get<int64_t>();
  const std::vector<int> counts = r.get_vector<int>();
  const std::vector<uint64_t> lengths = r.get_vector<uint64_t>();
  const uint64_t populations = r.get<uint64_t>();
  if (quantile_fis.size() != static_cast<size_t>(job.J) ||
      quantile_fst.size() != quantile_fis.size() ||
      counts.size() != static_cast<size_t>(2 * job.J) || lengths.size() != counts.size() ||
      populations != run.predictive_draws.vectors.size() || next < 0 ||
      done != next * run.block_size)
    r.damaged();
  for (std::vector<double>& v : run.predictive_draws.vectors) v = r.get_vector<double>();
  for (int p = 0; p < job.J; ++p) {
    run.nb_fis[p] = counts[p];
    run.nb_fst[p] = counts[job.J + p];
  }
  // The accepted-draw files: back to their committed lengths, whatever a killed run wrote
  // after its last checkpoint.
  for (int k = 0; k < 2; ++k)
    for (int p = 0; p < job.J; ++p) {
      const std::string name = accepted_draw_file_name(job, k ? "Fst" : "Fis", p + 1);
      const std::string path = c.stage == Stage::production ? temporary_name(name) : name;
      const uint64_t length = lengths[static_cast<size_t>(k * job.J + p)];
      struct stat info;
      if (stat(path.c_str(), &info) != 0)
        fail("Cannot resume from %s: the accepted-draw file %s is missing", c.path.c_str(),
             path.c_str());
      if (static_cast<uint64_t>(info.st_size) < length ||
          (c.stage != Stage::production && static_cast<uint64_t>(info.st_size) != length))
        fail("Cannot resume from %s: the accepted-draw file %s is shorter than its checkpoint says",
             c.path.c_str(), path.c_str());
      if (c.stage == Stage::production && truncate(path.c_str(), static_cast<off_t>(length)) != 0)
        fail("Cannot resume from %s: the accepted-draw file %s cannot be cut back to %llu bytes",
             c.path.c_str(), path.c_str(), static_cast<unsigned long long>(length));
    }
  run.replicates_done = done;
  std::lock_guard<std::mutex> hold(st.lock);
  st.committed_blocks = next;
  return next;
}
