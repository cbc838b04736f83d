// SPDX-License-Identifier: GPL-3.0-or-later
// Readers of band matrices as users hold them: one 0/1 cell per individual and locus, in a
// GenAlEx sheet, a plain table (individuals x loci) or a DArT presence/absence report (loci x
// samples, with a separate file of populations). Each turns the bytes into per-population
// band counts; none touches the program's globals or ends the process: input they cannot use
// is refused by throwing InputError with the whole message.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "config.h"

// The codes of a missing cell, in the order the check file reports them; the empty cell is
// code 0.
constexpr int NB_MISSING_CODES = 7;
extern const char* const MISSING_CODES[NB_MISSING_CODES];

enum class Separator { comma, semicolon, tab, blanks };

// What a matrix file holds once tallied.
struct MatrixCounts {
  InputFormat format = InputFormat::table;
  Separator separator = Separator::comma;
  std::vector<std::string> pop_names;  // population p (from 0)
  std::vector<int> individuals;        // individuals of each population
  // Missing cells of each population, per code of MISSING_CODES.
  std::vector<std::array<long long, NB_MISSING_CODES>> missing;
  std::vector<std::string> locus_names;  // the usable loci, in file order
  std::vector<std::string> left_out;     // loci that some population never scored
  // Population p at usable locus l: element p * locus_names.size() + l.
  std::vector<int32_t> n, k;
  // Each a complete sentence naming the file; the caller prints them.
  std::vector<std::string> warnings;
};

// The text of a file ready for parsing: a UTF-8 byte-order mark is dropped. Refuses UTF-16
// (and any text holding NUL bytes) and a file with nothing but blanks and line breaks.
std::string_view usable_text(std::string_view bytes, const std::string& name);

// The layout the content shows: a "[loci]=" key makes it the band-count format; else the first
// line decides (a DArT header or "*" row, three numbers of a GenAlEx sheet, or at least three
// cells of a table). Anything else is left to the band-count reader and its messages.
InputFormat recognise_format(std::string_view text, const std::string& name);

// The separator of a file, from its first non-empty line: the most frequent of tab, comma and
// semicolon outside quotes, or runs of blanks when there is none.
Separator detect_separator(std::string_view text);

// Reads a matrix file (text as returned by usable_text) in the given layout (genalex, table
// or dart). A DArT report needs the text of its population file (`pops_text`, named
// `pops_name`); the other layouts refuse one.
MatrixCounts read_matrix(std::string_view text, InputFormat format, const std::string& name,
                         std::string_view pops_text = {}, const std::string& pops_name = {});

// The population of every sample of a DArT report, from the -pops file: "id,pop" lines below
// a header.
struct SamplePops {
  std::unordered_map<std::string, int> pop_of;  // sample id -> index into names
  std::vector<std::string> names;               // populations, in order of first appearance
  std::vector<std::string> ids;                 // sample ids, in file order
};

// Reads the bytes of a -pops file (named `pops_name` in messages); refuses with InputError.
SamplePops read_pops_file(std::string_view bytes, const std::string& pops_name);

// The layout in words, for the check file and the counts file.
std::string describe_format(InputFormat format, Separator separator);
