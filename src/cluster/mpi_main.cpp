// SPDX-License-Identifier: GPL-3.0-or-later
// bandstat-mpi: the program spread over the ranks of an MPI run. Rank 0 is the whole
// program (command line, input, progress, files, posterior analysis); during each
// simulation run its workers also serve the other ranks between their own blocks. The
// worker threads of the other ranks each simulate one block of replicates at a time and
// send back what the workers of rank 0 would have recorded:
// the pilot distances of the block, or its accepted lines. Rank 0 feeds them into the same
// paths as its own workers' (distances by replicate index, commits in block order), so the
// outputs do not depend on which rank simulated which block.
//
// Messages (rank 0 <-> rank r):
//   RUN     0 -> r  the job and run state a rank needs to simulate (sent at each run start)
//   REQUEST r -> 0  a first request for a block (REQUESTS_PER_WORKER per thread and run)
//   BLOCK   0 -> r  the block index to simulate
//   RESULT  r -> 0  the results of that block, which also ask for the next one
//   END_RUN 0 -> r  no more blocks in this run
//   QUIT    0 -> r  the program is over
//   ERROR   r -> 0  rank r has printed an error and stops: rank 0 ends the run
#include <mpi.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "config.h"
#include "core/job_message.h"
#include "driver/command_line.h"
#include "errors.h"
#include "observed_data.h"
#include "predictive_draws.h"
#include "random/block_seed.h"
#include "reference_table.h"
#include "run_state.h"
#include "simulation/worker.h"

namespace {

// Requests each worker thread of a rank keeps open: the next blocks are already on their way
// while the worker simulates one, so that it does not wait a round trip between blocks, nor
// for rank 0's workers to finish the blocks during which they do not serve. Four matches the
// waiting room on rank 0 (four blocks per worker); more leaves requests parked there.
constexpr int REQUESTS_PER_WORKER = 4;

// How long rank 0 sleeps between two services once its own workers are done and it waits
// for the last blocks of the other ranks.
constexpr auto IDLE_POLL = std::chrono::microseconds(300);

int my_rank() {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  return rank;
}

enum Tag { TAG_RUN = 1, TAG_REQUEST, TAG_BLOCK, TAG_RESULT, TAG_END_RUN, TAG_QUIT, TAG_ERROR };

// A byte buffer written and read in the same order on both sides (same program, same
// machine type: plain copies of the values).
struct Buffer {
  std::vector<char> bytes;
  size_t at = 0;
  template <class T>
  void put(const T& v) {
    const char* p = reinterpret_cast<const char*>(&v);
    bytes.insert(bytes.end(), p, p + sizeof v);
  }
  template <class T>
  void put_array(const std::vector<T>& v) {
    put(static_cast<long long>(v.size()));
    const char* p = reinterpret_cast<const char*>(v.data());
    bytes.insert(bytes.end(), p, p + v.size() * sizeof(T));
  }
  template <class T>
  T get() {
    T v;
    if (at + sizeof v > bytes.size()) fail("Bug detected: a short message between MPI ranks");
    std::memcpy(&v, bytes.data() + at, sizeof v);
    at += sizeof v;
    return v;
  }
  template <class T>
  void get_array(std::vector<T>& v) {
    const long long n = get<long long>();
    if (n < 0 || at + static_cast<size_t>(n) * sizeof(T) > bytes.size())
      fail("Bug detected: a short message between MPI ranks");
    v.resize(static_cast<size_t>(n));
    if (n > 0) std::memcpy(static_cast<void*>(v.data()), bytes.data() + at, v.size() * sizeof(T));
    at += v.size() * sizeof(T);
  }
};

// The two directions of run_state_fields: rank 0 puts the fields into a message, the other
// ranks take them out, in the same order since it is the same list.
struct Sending {
  Buffer& b;
  template <class T>
  void operator()(T& v) {
    b.put(v);
  }
  template <class T>
  void array(std::vector<T>& v) {
    b.put_array(v);
  }
};
struct Receiving {
  Buffer& b;
  template <class T>
  void operator()(T& v) {
    v = b.get<T>();
  }
  template <class T>
  void array(std::vector<T>& v) {
    b.get_array(v);
  }
};

// The version of the run-state message; a new field takes a new version.
constexpr uint32_t RUN_STATE_VERSION = 2;

// What the other ranks need of a run, beyond its job (which travels before it as a job
// message, core/job_message.h), to simulate its blocks exactly as rank 0 would, listed once
// for both directions: a field added here is sent and received alike.
template <class Io>
void run_state_fields(Io& io, Run& run) {
  uint32_t version = RUN_STATE_VERSION;
  io(version);
  if (version != RUN_STATE_VERSION)
    fail("The MPI ranks run different versions of bandstat (run-state message %u, expected %u)",
         version, RUN_STATE_VERSION);
  io(run.job_seed);
  io(run.block_size);
  io(run.pilot);
  io(run.pilot_stream);
  io(run.nbreps);
  // With -gof the other ranks send the parameter vectors of their Fis acceptances too.
  io(run.predictive_draws.wanted);
  io(run.predictive_draws.width);
  io.array(run.quantile_fis);
  io.array(run.quantile_fst);
}

// The byte count of a message, which MPI takes as an int.
int message_size(const Buffer& b) {
  if (b.bytes.size() > static_cast<size_t>(INT32_MAX))
    fail("A message of %zu bytes is too large for MPI", b.bytes.size());
  return static_cast<int>(b.bytes.size());
}

void send(const Buffer& b, int to, int tag) {
  MPI_Send(b.bytes.data(), message_size(b), MPI_BYTE, to, tag, MPI_COMM_WORLD);
}

// Receives a message already probed (status) into b.
void receive(Buffer& b, const MPI_Status& status) {
  int count = 0;
  MPI_Get_count(&status, MPI_BYTE, &count);
  b.bytes.resize(static_cast<size_t>(count));
  b.at = 0;
  MPI_Recv(b.bytes.data(), count, MPI_BYTE, status.MPI_SOURCE, status.MPI_TAG, MPI_COMM_WORLD,
           MPI_STATUS_IGNORE);
}

void abort_all(int status) { MPI_Abort(MPI_COMM_WORLD, status); }

// An error on another rank: rank 0 is told, so that it removes the job's incomplete files
// before it ends every rank. Should rank 0 not answer, this rank ends them itself.
void report_to_rank_0(int status) {
  MPI_Send(&status, sizeof status, MPI_BYTE, 0, TAG_ERROR, MPI_COMM_WORLD);
  std::this_thread::sleep_for(std::chrono::seconds(30));
  MPI_Abort(MPI_COMM_WORLD, status);
}

// ---- rank 0 -------------------------------------------------------------------------

void send_run_state(Run& run, int to) {
  Buffer b;
  const std::string job = encode_job(run.job);
  b.put_array(std::vector<char>(job.begin(), job.end()));
  Sending io{b};
  run_state_fields(io, run);
  send(b, to, TAG_RUN);
}

// What rank 0 knows of the other ranks during one run. It is served by whichever thread
// holds the mutex: a worker between two of its blocks, or the driver after the workers.
struct Service {
  std::mutex mutex;
  bool local_only = false;  // every request is answered with the end of the run
  std::deque<int> pending;  // one entry per request received and not yet answered
  // Requests not yet answered (the first ones of every rank counted from the start, received
  // or not), and blocks handed out whose results have not come back.
  long long open_requests = 0;
  long long blocks_out = 0;
  long long first_requests_due = 0;  // first requests of the run not yet received
  int shown = 0;                     // the last pilot percentage seen printed
  Buffer b;
};
Service service;

// Feeds the results of one block simulated elsewhere into the run.
void take_result(Run& run, Buffer& b, int& shown) {
  const Job& job = run.job;
  const long long block = b.get<long long>();
  if (run.pilot) {
    const long long first = block * run.block_size;
    const long long count = b.get<long long>();
    for (long long i = 0; i < count; ++i)
      for (int p = 0; p < job.J; ++p) {
        run.v_dist_fis[p][first + i] = b.get<double>();
        run.v_dist_fst[p][first + i] = b.get<double>();
      }
    // One by one, as the workers count theirs, so that the gauge shows every percentage.
    for (long long i = 0; i < count; ++i) {
      run.rep.fetch_add(1, std::memory_order_relaxed);
      update_gauge(run, shown);
    }
    if (run.block_listeners.pilot_block_done)
      run.block_listeners.pilot_block_done(run.block_listeners.context, run, block);
  } else {
    BlockLines lines;
    lines.clear(block);
    b.get_array(lines.lines);
    std::vector<char> text;
    b.get_array(text);
    lines.text.assign(text.begin(), text.end());
    b.get_array(lines.vectors);  // empty unless -gof keeps parameter vectors
    commit_block(run, lines);
  }
}

// Takes in every message that has arrived, then answers what can be answered. It never
// waits, not even for room in the waiting room (the block whose commit would make room may
// be one it has yet to receive): a rank that asks while the room is full stays in `pending`.
// True when anything happened. Called under service.mutex.
bool serve_arrivals(Run& run) {
  Service& s = service;
  bool progress = false;
  for (;;) {
    int flag = 0;
    MPI_Status status;
    MPI_Iprobe(MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &flag, &status);
    if (!flag) break;
    receive(s.b, status);
    if (status.MPI_TAG == TAG_ERROR)
      fail("The run stops after an error on MPI rank %d", status.MPI_SOURCE);
    if (status.MPI_TAG == TAG_RESULT) {
      take_result(run, s.b, s.shown);
      --s.blocks_out;
      ++s.open_requests;
    } else {
      --s.first_requests_due;
    }
    s.pending.push_back(status.MPI_SOURCE);
    progress = true;
  }
  for (size_t n = s.pending.size(); n > 0; --n) {
    const int r = s.pending.front();
    s.pending.pop_front();
    long long block = 0;
    const BlockOffer offer = s.local_only ? BlockOffer::run_over : try_take_block(run, block);
    if (offer == BlockOffer::taken) {
      MPI_Send(&block, 1, MPI_LONG_LONG, r, TAG_BLOCK, MPI_COMM_WORLD);
      --s.open_requests;
      ++s.blocks_out;
      progress = true;
    } else if (offer == BlockOffer::run_over) {
      MPI_Send(&block, 0, MPI_LONG_LONG, r, TAG_END_RUN, MPI_COMM_WORLD);
      --s.open_requests;
      progress = true;
    } else {
      s.pending.push_back(r);
    }
  }
  return progress;
}

// Sends the run's state to every other rank and answers their first requests, so that they
// start with rank 0's workers: these serve only between blocks, and a block can take a
// second at the largest sizes. Takes a round trip.
void begin_service(Run& run) {
  const Job& job = run.job;
  for (int r = 1; r <= run.remote_workers; ++r) send_run_state(run, r);
  std::lock_guard<std::mutex> lock(service.mutex);
  // With -cv the pilot also fills the reference table, which stays on rank 0.
  service.local_only = run.pilot && run.reference_table.kept();
  service.pending.clear();
  service.open_requests =
      static_cast<long long>(run.remote_workers) * std::max(job.nb_procs, 1) * REQUESTS_PER_WORKER;
  service.first_requests_due = service.open_requests;
  service.blocks_out = 0;
  service.shown = 0;
  while (service.first_requests_due > 0)
    if (!serve_arrivals(run)) std::this_thread::sleep_for(IDLE_POLL);
}

// A worker between two blocks: skipped when another thread is serving already.
void poll_service(Run& run) {
  std::unique_lock<std::mutex> lock(service.mutex, std::try_to_lock);
  if (lock.owns_lock()) serve_arrivals(run);
}

// After the workers of rank 0: until every request of the other ranks is answered and every
// block handed out has come back.
void finish_service(Run& run) {
  std::lock_guard<std::mutex> lock(service.mutex);
  while (service.open_requests > 0 || service.blocks_out > 0)
    if (!serve_arrivals(run)) std::this_thread::sleep_for(IDLE_POLL);
}

// ---- other ranks --------------------------------------------------------------------

// The job first, into the Job that `run` refers to (no worker runs meanwhile).
void read_run_state(Buffer& b, Job& job, Run& run) {
  std::vector<char> bytes;
  b.get_array(bytes);
  job = decode_job(std::string(bytes.begin(), bytes.end()));
  Receiving io{b};
  run_state_fields(io, run);
}

// The two seams of the block loop on a rank other than 0, in one: its blocks come from rank
// 0, and its results go back there. No thread of the rank polls for messages: each worker
// talks to rank 0 itself, and the blocks it asked for ahead are usually there when it asks
// for one. Every answer is a block or the end of the run; the worker leaves at its first
// end of the run (no block can follow one: the run is over for every rank by then).
// Results leave without waiting: a blocking send can wait for rank 0 to take the message,
// which it does only between blocks of its own. Each result has a buffer of its own until
// the send is complete, one per request open.
struct RankTransport {
  const Run& run;
  std::vector<Buffer> outgoing = std::vector<Buffer>(REQUESTS_PER_WORKER);
  std::vector<MPI_Request> sending =
      std::vector<MPI_Request>(REQUESTS_PER_WORKER, MPI_REQUEST_NULL);
  size_t turn = 0;

  bool next(long long& block) {
    MPI_Status status;
    MPI_Recv(&block, 1, MPI_LONG_LONG, 0, MPI_ANY_TAG, MPI_COMM_WORLD, &status);
    if (status.MPI_TAG == TAG_END_RUN) {
      MPI_Waitall(static_cast<int>(sending.size()), sending.data(), MPI_STATUSES_IGNORE);
      return false;
    }
    if (status.MPI_TAG != TAG_BLOCK)
      fail("Bug detected: unexpected message %d from rank 0 during a run", status.MPI_TAG);
    return true;
  }
  void begin_block(WorkerState&, long long block) {
    Buffer& out = outgoing[turn];
    MPI_Wait(&sending[turn], MPI_STATUS_IGNORE);
    out.bytes.clear();
    out.at = 0;
    out.put(block);
    if (run.pilot)
      out.put(std::min<long long>(run.block_size, run.nbreps - block * run.block_size));
  }
  void begin_replicate(long long) {}
  void end_replicate(const WorkerState& w, long long) {
    for (int p = 0; p < w.npop; ++p) {
      outgoing[turn].put(w.dist_fis[p]);
      outgoing[turn].put(w.dist_fst[p]);
    }
  }
  void end_block(WorkerState& w, long long) {
    Buffer& out = outgoing[turn];
    if (!run.pilot) {
      out.put_array(w.block.lines);
      out.put_array(std::vector<char>(w.block.text.begin(), w.block.text.end()));
      out.put_array(w.block.vectors);
    }
    // The results ask for the next block too.
    MPI_Isend(out.bytes.data(), message_size(out), MPI_BYTE, 0, TAG_RESULT, MPI_COMM_WORLD,
              &sending[turn]);
    turn = (turn + 1) % sending.size();
  }
};

// One worker thread of a rank other than 0.
void simulate_blocks(const Run& run) {
  WorkerState w(run.job);
  RankTransport transport{run};
  run_blocks(run, w, transport, transport);
}

void simulate_blocks_or_fail(const Run& run) {
  try {
    simulate_blocks(run);
  } catch (const std::bad_alloc&) {
    fail("Out of memory in a simulation worker of MPI rank %d", my_rank());
  }
}

// Simulates the blocks rank 0 hands out for one run, on -nprocs threads.
void simulate_run(const Run& run) {
  const Job& job = run.job;
  // For the tests: an error on a rank other than 0 must end the whole run.
  if (const char* rank = std::getenv("BANDSTAT_MPI_FAIL_ON_RANK"))
    if (std::atoi(rank) == my_rank()) fail("Simulated failure on MPI rank %d", my_rank());
  const int threads = std::max(job.nb_procs, 1);
  const int requests = REQUESTS_PER_WORKER * threads;
  for (int i = 0; i < requests; ++i) MPI_Send(nullptr, 0, MPI_BYTE, 0, TAG_REQUEST, MPI_COMM_WORLD);
  std::vector<std::thread> workers;
  for (int i = 0; i < threads; ++i) workers.emplace_back(simulate_blocks_or_fail, std::cref(run));
  for (std::thread& t : workers) t.join();
  // Each worker took one end of the run; every other request still open is answered by one
  // too, and those must be taken before the next run's messages.
  for (int i = threads; i < requests; ++i) {
    long long unused = 0;
    MPI_Status status;
    MPI_Recv(&unused, 1, MPI_LONG_LONG, 0, MPI_ANY_TAG, MPI_COMM_WORLD, &status);
    if (status.MPI_TAG != TAG_END_RUN)
      fail("Bug detected: unexpected message %d from rank 0 at the end of a run", status.MPI_TAG);
  }
}

void serve_rank_0() {
  Buffer b;
  // This rank's copy of what rank 0's runs tell it, one run after the other.
  Job job;
  Run run(job);
  for (;;) {
    MPI_Status status;
    MPI_Probe(0, MPI_ANY_TAG, MPI_COMM_WORLD, &status);
    receive(b, status);
    if (status.MPI_TAG == TAG_QUIT) return;
    if (status.MPI_TAG != TAG_RUN)
      fail("Bug detected: unexpected message %d from rank 0", status.MPI_TAG);
    read_run_state(b, job, run);
    simulate_run(run);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Blocked before MPI starts its own threads, so that those inherit the mask too: rank 0's
  // interrupt thread (run_program) is then the only one to take SIGINT and SIGTERM, and the
  // other ranks never take them (rank 0's clean-up ends them).
  sigset_t interrupts;
  sigemptyset(&interrupts);
  sigaddset(&interrupts, SIGINT);
  sigaddset(&interrupts, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);
  int provided = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_MULTIPLE, &provided);
  // Every thread may end the run (an error), so every thread may call MPI.
  if (provided < MPI_THREAD_MULTIPLE) {
    std::fprintf(stderr,
                 "The MPI library does not support MPI calls from several threads "
                 "(MPI_THREAD_MULTIPLE)\n");
    MPI_Abort(MPI_COMM_WORLD, 1);
  }
  int rank = 0;
  int size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  // An error on any rank ends every rank, with status 1.
  abort_other_processes = abort_all;
  int status = 0;
  if (rank == 0) {
    RemoteRanks remote;
    remote.workers = size - 1;
    remote.service.begin = begin_service;
    remote.service.poll = poll_service;
    remote.service.finish = finish_service;
    status = run_program(argc, argv, remote);
    for (int r = 1; r < size; ++r) MPI_Send(nullptr, 0, MPI_BYTE, r, TAG_QUIT, MPI_COMM_WORLD);
  } else {
    abort_other_processes = report_to_rank_0;
    try {
      serve_rank_0();
    } catch (const std::bad_alloc&) {
      fail("Out of memory on MPI rank %d", rank);
    }
  }
  MPI_Finalize();
  return status;
}
