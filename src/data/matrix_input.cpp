// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/matrix_input.h"

#include <vector>

#include "data/input_error.h"
#include "data/read_dart.h"
#include "data/read_genalex.h"
#include "data/read_table.h"

InputFormat recognise_format(std::string_view text, const std::string& name) {
  if (text.find("[loci]=") != std::string_view::npos) return InputFormat::counts;
  records::RecordReader rr(text, detect_separator(text), name);
  std::vector<std::string_view> cells;
  if (!rr.next(cells)) return InputFormat::counts;
  if (cells[0] == "*" || cells[0] == "CloneID") return InputFormat::dart;
  long long value;
  if (cells.size() >= 3 && records::parse_count(cells[0], value) &&
      records::parse_count(cells[1], value) && records::parse_count(cells[2], value))
    return InputFormat::genalex;
  if (records::used_width(cells) >= 3) return InputFormat::table;
  return InputFormat::counts;
}

MatrixCounts read_matrix(std::string_view text, InputFormat format, const std::string& name,
                         std::string_view pops_text, const std::string& pops_name) {
  const Separator sep = detect_separator(text);
  if (format == InputFormat::dart) {
    if (pops_name.empty())
      throw_input_error(
          "Input file \"%s\" is a DArT report; give the population of each sample "
          "with -pops FILE (lines \"id,pop\" below a header).",
          name.c_str());
    return matrix::read_dart(text, sep, name, pops_text, pops_name);
  }
  if (!pops_name.empty())
    throw_input_error(
        "Input file \"%s\" is not a DArT report; -pops applies to DArT reports "
        "only (a %s names each individual's population itself).",
        name.c_str(), format == InputFormat::genalex ? "GenAlEx file" : "table");
  if (format == InputFormat::genalex) return matrix::read_genalex(text, sep, name);
  return matrix::read_table(text, sep, name);
}

std::string describe_format(InputFormat format, Separator separator) {
  const char* sep = separator == Separator::comma       ? "commas"
                    : separator == Separator::semicolon ? "semicolons"
                    : separator == Separator::tab       ? "tabs"
                                                        : "blanks";
  switch (format) {
    case InputFormat::genalex:
      return std::string("GenAlEx (individuals x loci), cells separated by ") + sep;
    case InputFormat::dart:
      return std::string("DArT presence/absence report (loci x samples), cells separated by ") +
             sep;
    case InputFormat::table:
      return std::string("table (individuals x loci), cells separated by ") + sep;
    default:
      return "band counts";
  }
}
