// SPDX-License-Identifier: GPL-3.0-or-later
// The codominant conversion: band counts become allele counts with each population's Fis.
#pragma once

// Rounds to the nearest integer, halves away from zero.
int round2(double x);

// Frequency of the null allele given the frequency P of individuals without the band and
// the inbreeding coefficient F: the root in [0, 1] of P = q^2 + F q (1 - q).
double null_allele_frequency(double P, double F);

// Writes odir + file_prefix + "_codominant.txt" from pop_target and fis_estimate.
void write_codominant();
