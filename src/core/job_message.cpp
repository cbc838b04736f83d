// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/job_message.h"

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "errors.h"

namespace {

struct Writer {
  std::string bytes;
  template <class T>
  void operator()(const T& v) {
    static_assert(std::is_trivially_copyable<T>::value, "plain values only");
    bytes.append(reinterpret_cast<const char*>(&v), sizeof v);
  }
  void operator()(const std::string& s) {
    (*this)(static_cast<uint64_t>(s.size()));
    bytes.append(s);
  }
  template <class T>
  void operator()(const std::vector<T>& v) {
    (*this)(static_cast<uint64_t>(v.size()));
    for (const T& x : v) (*this)(x);
  }
};

struct Reader {
  const std::string& bytes;
  size_t at = 0;
  void take(void* to, size_t n) {
    if (n > bytes.size() - at) fail("Bug detected: a job message cut short");
    std::memcpy(to, bytes.data() + at, n);
    at += n;
  }
  template <class T>
  void operator()(T& v) {
    take(&v, sizeof v);
  }
  void operator()(std::string& s) {
    uint64_t n = 0;
    (*this)(n);
    if (n > bytes.size() - at) fail("Bug detected: a job message cut short");
    s.assign(bytes.data() + at, static_cast<size_t>(n));
    at += static_cast<size_t>(n);
  }
  template <class T>
  void operator()(std::vector<T>& v) {
    uint64_t n = 0;
    (*this)(n);
    if (n > bytes.size() - at) fail("Bug detected: a job message cut short");
    v.resize(static_cast<size_t>(n));
    for (T& x : v) (*this)(x);
  }
};

// Every field of a Job, for both directions (JobRef: Job or const Job): the configuration
// from its own field list, then the observed data and the job's own fields.
template <class Io, class JobRef>
void job_fields(Io& io, JobRef& job) {
#define BANDSTAT_FIELD_IO(type, name, initial) io(job.name);
  BANDSTAT_CONFIG_FIELDS(BANDSTAT_FIELD_IO)
#undef BANDSTAT_FIELD_IO
  io(job.I);
  io(job.J);
  io(job.pop_target);
  io(job.target_fis);
  io(job.target_fst);
  io(job.job_index);
  io(job.file_name);
  io(job.file_prefix);
}

// The layouts the lists above were written for (x86-64 and the like): the observed data
// or the job's own fields of another size have gained or lost a field, which the list and
// JOB_MESSAGE_VERSION must follow. (A field of the configuration needs nothing here.)
static_assert(sizeof(void*) != 8 || sizeof(ObservedData) == 80,
              "an observed-data field is missing from job_fields");
static_assert(sizeof(void*) != 8 || sizeof(Job) - sizeof(Config) - sizeof(ObservedData) == 72,
              "a Job field is missing from job_fields");

// The configuration's field list as text ("int nb_class_fis;..."), whose checksum every
// message carries: two builds whose lists differ refuse each other's jobs, even where
// nobody thought of a new version.
constexpr char CONFIG_FIELD_LIST[] =
#define BANDSTAT_FIELD_TEXT(type, name, initial) #type " " #name ";"
    BANDSTAT_CONFIG_FIELDS(BANDSTAT_FIELD_TEXT)
#undef BANDSTAT_FIELD_TEXT
    ;

uint64_t field_list_checksum() {
  uint64_t sum = 14695981039346656037ULL;  // 64-bit FNV-1a
  for (const char* c = CONFIG_FIELD_LIST; *c; ++c)
    sum = (sum ^ static_cast<unsigned char>(*c)) * 1099511628211ULL;
  return sum;
}

}  // namespace

std::string encode_job(const Job& job) {
  Writer w;
  w(static_cast<uint32_t>(JOB_MESSAGE_VERSION));
  w(field_list_checksum());
  job_fields(w, job);
  return std::move(w.bytes);
}

Job decode_job(const std::string& bytes) {
  Reader r{bytes};
  uint32_t version = 0;
  r(version);
  if (version != JOB_MESSAGE_VERSION)
    fail("The processes run different versions of bandstat (job message %u, expected %u)", version,
         JOB_MESSAGE_VERSION);
  uint64_t fields = 0;
  r(fields);
  if (fields != field_list_checksum())
    fail("The processes run different builds of bandstat (their job options differ)");
  Job job;
  job_fields(r, job);
  if (r.at != bytes.size()) fail("Bug detected: a job message longer than its fields");
  return job;
}
