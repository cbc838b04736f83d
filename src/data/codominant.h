// SPDX-License-Identifier: GPL-3.0-or-later
// The codominant conversion: band counts become allele counts with each population's Fis.
#pragma once

#include <vector>

#include "job.h"

// Rounds to the nearest integer, halves away from zero.
int round2(double x);

// Frequency of the null allele given the frequency P of individuals without the band and
// the inbreeding coefficient F: the root in [0, 1] of P = q^2 + F q (1 - q).
double null_allele_frequency(double P, double F);

// Writes odir + file_prefix + "_codominant.txt" from pop_target and each population's Fis
// estimate (index population - 1).
void write_codominant(const Job& job, const std::vector<double>& fis_estimate);
