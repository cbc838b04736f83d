// SPDX-License-Identifier: GPL-3.0-or-later
// Figures of the posterior and of the cross-validation (-plot), written as SVG by the program
// itself so that they need nothing at run time and open in any browser.
#pragma once

#include <string>
#include <vector>

#include "job.h"
#include "posterior/cv_results.h"
#include "posterior/gof_results.h"
#include "posterior/posterior_samples.h"

// The posterior figure of J populations: per population a Fis and an Fst panel with the prior
// (uniform), the unadjusted and adjusted posterior densities, the adjusted HPDI of coverage
// `coverage` and the adjusted mean. Samples are index [population][draw].
std::string posterior_figure_svg(const std::vector<std::vector<float>>& reg_fis,
                                 const std::vector<std::vector<float>>& noreg_fis,
                                 const std::vector<std::vector<float>>& reg_fst,
                                 const std::vector<std::vector<float>>& noreg_fst, double coverage);

// The cross-validation figure: estimated against true value, pooled over populations, one
// panel for Fis and one for Fst, with the identity line.
std::string cv_figure_svg(const std::vector<CvEstimate>& estimates,
                          const std::vector<CvSummaryRow>& summary, int npop);

// The goodness-of-fit figure of `npop` populations: per population and statistic set the
// null distribution of D as a histogram with the observed D marked, and the projections of
// the reference table's statistics with the observed point.
std::string gof_figure_svg(const std::vector<GofResult>& results,
                           const std::vector<GofProjection>& projections, int npop);

// Write STEM_posterior.svg from the job's samples, STEM_cv.svg and STEM_gof.svg.
void write_posterior_figure(const Job& job, const PosteriorSamples& posterior);
void write_cv_figure(const Job& job, const std::vector<CvEstimate>& estimates,
                     const std::vector<CvSummaryRow>& summary, int npop);
void write_gof_figure(const Job& job, const std::vector<GofResult>& results,
                      const std::vector<GofProjection>& projections, int npop);
