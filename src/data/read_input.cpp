// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/read_input.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <iomanip>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/output_file.h"
#include "core/output_names.h"
#include "data/input_error.h"
#include "data/matrix_input.h"
#include "data/matrix_tally.h"
#include "job.h"
#include "observed_data.h"
#include "simulation/summary_stats.h"

namespace {

// Reads an integer at s: blanks (spaces, tabs) skipped, an optional sign, then digits; s is
// left after the digits. False when there is no digit or the value does not fit an int,
// which the caller treats as "no readable number". A carriage return is not a blank: it is
// trailing text, so a CRLF line ends the number like any other text after it.
bool parse_int(const char*& s, int& value) {
  while (*s == ' ' || *s == '\t') ++s;
  const char* p = s;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (*p < '0' || *p > '9') return false;
  long long v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + (*p - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (negative) v = -v;
  if (v > INT_MAX || v < INT_MIN) return false;
  value = static_cast<int>(v);
  s = p;
  return true;
}

bool ends_with(const std::string& text, const char* key, size_t length) {
  return text.size() >= length && text.compare(text.size() - length, length, key) == 0;
}

// Everything the parse learns besides I and J. The counts wait here until the whole file
// is known ("[populations]=" may follow the blocks, and "[loci]=" may change between them),
// then go to pop_target in its layout.
struct ParseState {
  const char* name;
  int line = 1;                 // line of the file being read, for messages
  std::vector<int> block_pops;  // population number of every [pop]= block, in file order
  // The (n, k) of every locus read for each population number, locus l at [l - 1]. A block
  // read while I was smaller (before a later "[loci]=") leaves the rest of the population
  // unread, and a later, shorter block overwrites only its own loci.
  std::map<int, std::vector<std::pair<int, int>>> counts;
};

// The number on the rest of a key line ("[loci]=12"); anything after it is ignored.
int read_key_number(std::istream& in, ParseState& st, const char* key) {
  std::string rest;
  std::getline(in, rest);
  const char* s = rest.c_str();
  int value = 0;
  if (!parse_int(s, value))
    throw_input_error("Input file \"%s\", line %d: no number after \"%s=\".", st.name, st.line,
                      key);
  ++st.line;
  return value;
}

// One [pop]= block: exactly I locus lines "locus n k", locus counting 1 .. I. The storage
// grows with the lines actually read, never with the numbers the file announces.
void read_block(Job& job, std::istream& in, ParseState& st, int pop) {
  st.block_pops.push_back(pop);
  std::vector<std::pair<int, int>>& stored = st.counts[pop];
  std::string line;
  for (int l = 1; l <= job.I; ++l) {
    int locus = 0, n = 0, k = 0;
    bool ok = static_cast<bool>(std::getline(in, line));
    if (ok) {
      const char* s = line.c_str();
      ok = parse_int(s, locus) && locus == l && parse_int(s, n) && parse_int(s, k);
    }
    if (!ok) throw_input_error("Could not find allele count for population %d at locus %d", pop, l);
    ++st.line;
    if (static_cast<size_t>(l) <= stored.size())
      stored[l - 1] = {n, k};
    else
      stored.emplace_back(n, k);
  }
}

// The segment grammar: a segment runs up to the next "=" (consumed); a segment whose last
// characters are a key is followed by the key's number on the rest of that line. Only the
// last characters of a segment matter, so only a short tail of it is kept.
void parse(Job& job, std::istream& in, std::ofstream& check, ParseState& st) {
  std::string tail;
  auto test_segment = [&]() {
    if (ends_with(tail, "[loci]", 6)) {
      job.I = read_key_number(in, st, "[loci]");
      check << "There are " << job.I << " loci.\n\n";
    } else if (ends_with(tail, "[populations]", 13)) {
      job.J = read_key_number(in, st, "[populations]");
      check << "There are " << job.J << " populations.\n\n";
    } else if (ends_with(tail, "[pop]", 5)) {
      const int pop = read_key_number(in, st, "[pop]");
      read_block(job, in, st, pop);
    }
    tail.clear();
  };
  std::streambuf* buf = in.rdbuf();
  for (;;) {
    const int c = buf->sbumpc();
    if (c == std::char_traits<char>::eof()) break;
    if (c == '=') {
      test_segment();
      continue;
    }
    if (c == '\n') ++st.line;
    tail.push_back(static_cast<char>(c));
    if (tail.size() > 64) tail.erase(0, tail.size() - 13);
  }
  // A last segment without "=" is tested too.
  if (!tail.empty()) test_segment();
}

// The shape of the data: checked once the whole file is known, since "[populations]=" may
// follow the blocks.
void check_limits(const char* name, int loci, int pops) {
  if (loci < 1)
    throw_input_error("Input file \"%s\": %d loci; at least one locus is needed.", name, loci);
  if (pops < 1)
    throw_input_error("Input file \"%s\": %d populations; at least one population is needed.", name,
                      pops);
}

// Checks the blocks against "[loci]=" and "[populations]=", then moves their counts into
// pop_target.
void check_shape(Job& job, const ParseState& st) {
  const char* name = st.name;
  check_limits(name, job.I, job.J);
  for (int pop : st.block_pops)
    if (pop < 1 || pop > job.J)
      throw_input_error(
          "Input file \"%s\": a block for population %d, but the populations are numbered "
          "1 to %d.",
          name, pop, job.J);
  // Every population 1 .. J has a block by now, so J * I records are no more than the file
  // held.
  for (int p = 1; p <= job.J; ++p)
    if (st.counts.find(p) == st.counts.end())
      throw_input_error("Input file \"%s\": population %d has no \"[pop]=\" block.", name, p);
  for (const auto& [p, stored] : st.counts) {
    const int filled = static_cast<int>(stored.size());
    if (filled < job.I)
      throw_input_error(
          "Input file \"%s\": population %d, locus %d: no line for this locus (the "
          "population's block holds %d loci, but \"[loci]=\" says %d).",
          name, p, filled + 1, filled, job.I);
  }
  job.pop_target.assign(static_cast<size_t>(job.J) * job.I, LocusRecord{0, 0, 0.0});
  for (const auto& [p, stored] : st.counts)
    for (int l = 0; l < job.I; ++l) {
      LocusRecord& r = job.pop_target[job.record_index(p - 1, l)];
      r.n = stored[l].first;
      r.k = stored[l].second;
    }
}

// Counts that would give 0/0 or a frequency outside 0 .. 1, and loci that no simulated
// locus could ever match (the workers redraw a locus until it passes the filter, so such a
// locus would make the run endless). Fills the totals of every locus.
void check_counts(Job& job, const char* name, std::vector<int>& T0, std::vector<int>& T1) {
  for (int p = 0; p < job.J; ++p)
    for (int l = 0; l < job.I; ++l) {
      const LocusRecord& r = job.pop_target[job.record_index(p, l)];
      if (r.n <= 0)
        throw_input_error(
            "Input file \"%s\": population %d, locus %d: %d individuals sampled; the sample "
            "size must be positive.",
            name, p + 1, l + 1, r.n);
      if (r.k < 0 || r.k > r.n)
        throw_input_error(
            "Input file \"%s\": population %d, locus %d: %d individuals with the band out of "
            "%d sampled; the band count must lie between 0 and the sample size.",
            name, p + 1, l + 1, r.k, r.n);
    }
  // A kept simulated locus has at least -bh individuals with the band and -bf without it; a
  // negative setting asks for nothing. Below this total no locus could ever pass the filter
  // and the simulation would redraw it forever.
  const long long least =
      static_cast<long long>(std::max(job.bias_hidden, 0)) + std::max(job.bias_fixed, 0);
  for (int l = 0; l < job.I; ++l) {
    long long n = 0, k = 0;
    for (int p = 0; p < job.J; ++p) {
      n += job.pop_target[job.record_index(p, l)].n;
      k += job.pop_target[job.record_index(p, l)].k;
    }
    if (n > INT_MAX)
      throw_input_error(
          "Input file \"%s\": locus %d: %lld individuals sampled over all populations, more "
          "than the program can count.",
          name, l + 1, n);
    if (n < least)
      throw_input_error(
          "Input file \"%s\": locus %d: %lld individuals sampled over all populations, fewer "
          "than the %lld that -bh %d and -bf %d require; no simulated locus could pass the "
          "locus filter.",
          name, l + 1, n, least, job.bias_hidden, job.bias_fixed);
    T0[l] = static_cast<int>(n);
    T1[l] = static_cast<int>(k);
  }
}

// Observed loci that the simulation's locus filter would reject still enter the observed
// statistics, but no simulated data set contains their like, which biases the estimates.
void warn_filtered_loci(Job& job, const char* name, const std::vector<int>& T0,
                        const std::vector<int>& T1) {
  matrix::MessageList list;
  for (int l = 0; l < job.I; ++l)
    if (T1[l] < job.bias_hidden || T0[l] - T1[l] < job.bias_fixed) list.add(std::to_string(l + 1));
  if (list.count() == 0) return;
  std::fprintf(stderr,
               "Warning: %d of the %d loci of \"%s\" fail the simulation's locus filter (fewer "
               "than %d individuals with the band (-bh) or fewer than %d without it (-bf) over "
               "all populations). Simulated data sets never contain such loci, so the estimates "
               "are biased; consider removing them. Loci: %s\n",
               list.count(), job.I, name, job.bias_hidden, job.bias_fixed, list.text().c_str());
  std::fflush(stderr);
}

// The whole stream as bytes. A matrix of thousands of loci runs to hundreds of megabytes, so
// it is read in large blocks rather than character by character.
std::string slurp(std::istream& in) {
  std::string bytes;
  std::vector<char> block(1 << 20);
  while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0)
    bytes.append(block.data(), static_cast<size_t>(in.gcount()));
  return bytes;
}

// Names go into the leading text of a band-count file, where "]=" could complete a key
// ("...[pop]=") and a line break would split the text; both are defused.
std::string plain_text(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '\n' || c == '\r') {
      out += ' ';
    } else {
      if (c == '=' && i > 0 && name[i - 1] == ']') out += ' ';
      out += c;
    }
  }
  return out;
}

// The derived counts in the band-count format, named after the populations and loci of the
// matrix, so that they can be checked and given back to the program as input.
void write_counts_file(Job& job, const MatrixCounts& m, const std::string& description) {
  const std::string name = counts_file_name(job);
  OutputFile out(name);
  if (!out.is_open()) throw_input_error("Could not create the counts file \"%s\".", name.c_str());
  std::ostream& os = out.stream();
  long long individuals = 0;
  for (int n : m.individuals) individuals += n;
  os << "Band counts of \"" << plain_text(job.file_name) << "\", read as " << description << "; "
     << individuals << " individuals.\n";
  os << "Populations:";
  for (int p = 0; p < job.J; ++p)
    os << (p > 0 ? "," : "") << ' ' << p + 1 << ": \"" << plain_text(m.pop_names[p]) << "\" ("
       << m.individuals[p] << " individuals)";
  os << "\nLoci:";
  for (int l = 0; l < job.I; ++l)
    os << (l > 0 ? "," : "") << ' ' << l + 1 << ": \"" << plain_text(m.locus_names[l]) << '"';
  os << '\n';
  if (!m.left_out.empty()) {
    matrix::MessageList left_out;
    for (const std::string& name : m.left_out) left_out.add(matrix::quoted(plain_text(name)));
    os << "Left out, not scored in every population: " << left_out.text() << '\n';
  }
  os << "\n[loci]=" << job.I << "\n\n[populations]=" << job.J << "\n\n";
  for (int p = 0; p < job.J; ++p) {
    os << "[pop]=" << p + 1 << '\n';
    for (int l = 0; l < job.I; ++l) {
      const LocusRecord& r = job.pop_target[job.record_index(p, l)];
      os << l + 1 << ' ' << r.n << ' ' << r.k << '\n';
    }
    os << '\n';
  }
  if (!out.commit()) throw_input_error("Could not write the counts file \"%s\".", name.c_str());
}

// A matrix input: tallied, limited, stored, echoed. Loci are numbered 1 .. I among the usable
// ones, populations 1 .. J in the order of the file.
MatrixCounts read_matrix_input(Job& job, std::string_view text, InputFormat format,
                               std::ofstream& check) {
  std::string pops_bytes;
  if (!job.pops_file.empty()) {
    std::ifstream pops(job.pops_file, std::ios::binary);
    if (!pops.is_open())
      throw_input_error("Could not open the population file \"%s\".", job.pops_file.c_str());
    pops_bytes = slurp(pops);
  }
  MatrixCounts m = read_matrix(text, format, job.file_name, pops_bytes, job.pops_file);
  for (const std::string& w : m.warnings) std::fprintf(stderr, "Warning: %s\n", w.c_str());
  std::fflush(stderr);
  const int loci = static_cast<int>(std::min<size_t>(m.locus_names.size(), INT_MAX));
  check_limits(job.file_name.c_str(), loci, static_cast<int>(m.pop_names.size()));
  job.I = loci;
  job.J = static_cast<int>(m.pop_names.size());
  job.pop_target.assign(static_cast<size_t>(job.J) * job.I, LocusRecord{0, 0, 0.0});
  for (int p = 0; p < job.J; ++p)
    for (int l = 0; l < job.I; ++l) {
      LocusRecord& r = job.pop_target[job.record_index(p, l)];
      r.n = m.n[static_cast<size_t>(p) * job.I + l];
      r.k = m.k[static_cast<size_t>(p) * job.I + l];
    }
  check << "There are " << job.I << " loci.\n\n";
  check << "There are " << job.J << " populations.\n\n";
  return m;
}

void write_allele_counts(Job& job, std::ofstream& check) {
  check << "Allele counts:\n";
  for (int p = 0; p < job.J; ++p) {
    for (int l = 0; l < job.I; ++l) {
      const LocusRecord& r = job.pop_target[job.record_index(p, l)];
      check << "Pop. " << p + 1 << " locus " << l + 1 << " : " << std::setw(3) << r.n << ' ' << r.k
            << '\n';
    }
    check << '\n';
  }
}

// After the counts of a matrix input: what each population held, and the loci left out.
void write_population_summary(Job& job, std::ofstream& check, const MatrixCounts& m) {
  for (int p = 0; p < job.J; ++p) {
    check << "Population " << p + 1 << " \"" << m.pop_names[p] << "\": " << m.individuals[p]
          << " individuals, missing cells:";
    bool any = false;
    for (int c = 0; c < NB_MISSING_CODES; ++c) {
      if (m.missing[p][c] == 0) continue;
      check << (any ? ", " : " ") << m.missing[p][c] << ' ';
      if (c == 0)
        check << "empty";
      else
        check << '"' << MISSING_CODES[c] << '"';
      any = true;
    }
    check << (any ? "\n" : " none\n");
  }
  check << '\n';
  if (!m.left_out.empty()) {
    matrix::MessageList left_out;
    for (const std::string& name : m.left_out) left_out.add(matrix::quoted(name));
    check << "Loci left out, not scored in every population: " << left_out.text() << "\n\n";
  }
}

}  // namespace

namespace {

// The head of the check file: the settings the input is read under.
void write_check_header(Job& job, std::ofstream& check) {
  check << "File to check that the input file is read correctly.\n\n";
  check << "There are " << job.nb_class_fis
        << " quantiles for each population used as summary statistics for Fis.\n";
  check << "There are " << job.nb_class_fst
        << " quantiles for each population used as summary statistics for each Fst.\n";
  check << "There are " << job.nb_final << " outputs.\n";
  check << "Acceptance ration is " << job.ratio << "\n\n";
  check << "Output file names prefix is \"" << job.file_prefix << "\"\n";
  check << "Output file directory is \"" << job.odir << "\"\n";
  // stats_wanted, not stats_prefix: "-s" given with an empty value still counts.
  if (job.stats_wanted)
    check << "Output file names prefix for appending statistics is \"" << job.stats_prefix
          << "\"\n\n";
  check << "Input file is \"" << job.file_name << "\"\n";
}

// A band-count file, into I, J and pop_target, echoed in the check file.
void read_counts_input(Job& job, std::string_view text, std::ofstream& check) {
  check << '\n';
  if (!job.pops_file.empty())
    throw_input_error(
        "Input file \"%s\" is in the band-count format; -pops applies to DArT "
        "reports only.",
        job.file_name.c_str());
  std::istringstream stream{std::string(text)};
  ParseState st;
  st.name = job.file_name.c_str();
  parse(job, stream, check, st);
  check_shape(job, st);
  write_allele_counts(job, check);
}

// The observed statistics of pop_target, over every locus in file order, unfiltered.
void compute_observed_statistics(Job& job, std::vector<int>& T0, std::vector<int>& T1) {
  std::vector<int> loci(job.I);
  for (int l = 0; l < job.I; ++l) loci[l] = l;
  std::vector<double> scratch(job.I);
  job.target_fis.assign(static_cast<size_t>(job.J) * job.nb_class_fis, 0.0);
  job.target_fst.assign(static_cast<size_t>(job.J) * job.nb_class_fst, 0.0);
  compute_fis_statistics(job.pop_target.data(), job.I, job.J, loci.data(), job.I, job.nb_class_fis,
                         job.target_fis.data(), scratch.data());
  compute_fst_statistics(job.pop_target.data(), job.I, job.J, loci.data(), job.I, T0.data(),
                         T1.data(), job.nb_class_fst, job.target_fst.data(), scratch.data());
}

// The reader proper. The bytes come from `in` (read whole, then closed) or, without a
// stream, from `given`: a fuzzer or a test drives the reader on a buffer that way, with every
// output file still going to odir.
void read_input_from(Job& job, std::ifstream* in, std::string_view given) {
  const std::string check_name = check_input_file_name(job);
  OutputFile check_file(check_name);
  if (!check_file.is_open()) {
    if (in != nullptr) in->close();
    throw_input_error("Could not create the check file \"%s\".", check_name.c_str());
  }
  std::ofstream& check = check_file.stream();
  // A refused file still leaves its check file, complete up to the refusal, so that what
  // was read so far can be inspected. (After the commit below this does nothing.)
  struct CompleteOnRefusal {
    OutputFile& file;
    ~CompleteOnRefusal() { file.commit(); }
  } complete_on_refusal{check_file};
  write_check_header(job, check);

  std::string bytes;
  if (in != nullptr) {
    bytes = slurp(*in);
    in->close();
    given = bytes;
  }
  const std::string_view text = usable_text(given, job.file_name);
  const InputFormat format = job.input_format == InputFormat::recognised
                                 ? recognise_format(text, job.file_name)
                                 : job.input_format;

  MatrixCounts matrix;
  std::string description;
  if (format == InputFormat::counts) {
    read_counts_input(job, text, check);
  } else {
    description = describe_format(format, detect_separator(text));
    check << "Input format is " << description << "\n\n";
    matrix = read_matrix_input(job, text, format, check);
    write_allele_counts(job, check);
    write_population_summary(job, check, matrix);
  }
  if (!check_file.commit())
    throw_input_error("Could not write the check file \"%s\".", check_name.c_str());

  std::vector<int> T0(job.I), T1(job.I);
  check_counts(job, job.file_name.c_str(), T0, T1);
  warn_filtered_loci(job, job.file_name.c_str(), T0, T1);
  if (format != InputFormat::counts) write_counts_file(job, matrix, description);
  compute_observed_statistics(job, T0, T1);
}

}  // namespace

void read_input(Job& job, std::ifstream& in) { read_input_from(job, &in, {}); }

void read_input_bytes(Job& job, std::string_view bytes) { read_input_from(job, nullptr, bytes); }
