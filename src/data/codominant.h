// The codominant conversion: band counts become allele counts with each population's Fis.
#pragma once

// Rounds to the nearest integer, halves away from zero.
int round2(double x);

// Writes odir + file_prefix + "_codominant.txt" from pop_target and fis_estimate.
void write_codominant();
