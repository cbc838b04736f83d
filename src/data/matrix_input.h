// SPDX-License-Identifier: GPL-3.0-or-later
// Readers of band matrices as users hold them: one 0/1 cell per individual and locus, in a
// GenAlEx sheet, a plain table (individuals x loci) or a DArT presence/absence report (loci x
// samples, with a separate file of populations). Each turns the bytes into per-population
// band counts; none touches a Job or ends the process: input they cannot use
// is refused by throwing InputError with the whole message.
//
// This is the entry to them: the layouts themselves are read in read_genalex, read_table and
// read_dart, on the records and cells of records.h.
#pragma once

#include <string>
#include <string_view>

#include "config.h"
#include "data/matrix_counts.h"
#include "data/read_pops.h"
#include "data/records.h"

// The layout the content shows: a "[loci]=" key makes it the band-count format; else the first
// line decides (a DArT header or "*" row, three numbers of a GenAlEx sheet, or at least three
// cells of a table). Anything else is left to the band-count reader and its messages.
InputFormat recognise_format(std::string_view text, const std::string& name);

// Reads a matrix file (text as returned by usable_text) in the given layout (genalex, table
// or dart). A DArT report needs the text of its population file (`pops_text`, named
// `pops_name`); the other layouts refuse one.
MatrixCounts read_matrix(std::string_view text, InputFormat format, const std::string& name,
                         std::string_view pops_text = {}, const std::string& pops_name = {});

// The layout in words, for the check file and the counts file.
std::string describe_format(InputFormat format, Separator separator);
