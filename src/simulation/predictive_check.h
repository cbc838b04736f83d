// SPDX-License-Identifier: GPL-3.0-or-later
// The data side of the posterior predictive check (-gof): statistics of a data set that the
// estimation never uses, and data sets simulated again from accepted parameter vectors.
#pragma once

#include <cstdint>
#include <vector>

#include "job.h"
#include "observed_data.h"
#include "predictive_draws.h"

// The statistics, in this order: the share of loci where every individual of the population
// shows the band, the share where none does, the mean and the variance (over loci, divided
// by I - 1) of its band frequencies k/n, and the mean correlation (Pearson, over loci) of its
// band frequencies with those of each other population.
constexpr int PPC_STATISTICS = 5;
extern const char* const PPC_STATISTIC_NAMES[PPC_STATISTICS];

// The statistics of population p of a data set in the record layout (npop blocks of nloci
// records) into out[0 .. PPC_STATISTICS-1]. A figure without data is NaN: the variance of a
// single locus, the correlation in a data set of one population or against populations whose
// frequencies do not vary (such pairs are left out of the mean).
void predictive_statistics(const LocusRecord* data, int npop, int nloci, int p, double* out);

// For every population p and every kept vector i of it: a data set simulated by the model at
// that vector (the same loci, sample sizes and filter as the job's), every other population q
// at the Fis and Fst of its own vector i, and its statistics of population p, at
// [p][i * PPC_STATISTICS + s]. Population p's data sets come from the stream
// {seed, STREAM_PREDICTIVE, p}, so the result does not depend on `threads`.
std::vector<std::vector<double>> simulate_predictive_statistics(const Job& job,
                                                                const PredictiveDraws& draws,
                                                                uint32_t seed, int threads);
