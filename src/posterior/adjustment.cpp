// SPDX-License-Identifier: GPL-3.0-or-later
// The regression adjustment of a job: reads back the accepted-draw files into one design per
// population and parameter, fits it (regression.cpp) and keeps the adjusted and unadjusted
// samples; then writes the two posterior sample files.
#include "posterior/adjustment.h"

#include <gsl/gsl_errno.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <utility>

#include "core/output_file.h"
#include "core/output_names.h"
#include "errors.h"
#include "job.h"
#include "observed_data.h"
#include "posterior/regression.h"

namespace {

// Creates `name` under its temporary name; a file that cannot be created ends the run.
std::unique_ptr<OutputFile> open_output(const std::string& name) {
  std::unique_ptr<OutputFile> file(new OutputFile(name));
  if (!file->is_open()) fail("Cannot create output file %s", name.c_str());
  return file;
}

void close_output(OutputFile& file) {
  if (!file.commit()) fail("Cannot write output file %s", file.name().c_str());
}

// Owns the FILE* so that every exit path closes it.
struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

// Reads one number with the given conversion; a missing, unreadable or non-finite value
// ends the run with the file and record named (a short file must not become a regression
// on garbage).
template <typename T>
T read_number(const Job& job, FILE* f, const char* format, const std::string& name, int record,
              const char* what) {
  T value;
  int got = std::fscanf(f, format, &value);
  if (got != 1)
    fail("Accepted-draw file %s: record %d of %d: %s %s", name.c_str(), record + 1, job.nb_final,
         what, got == EOF ? "missing (file too short)" : "is not a number");
  if (!std::isfinite(value))
    fail("Accepted-draw file %s: record %d of %d: %s is not a finite number", name.c_str(),
         record + 1, job.nb_final, what);
  return value;
}

using AcceptedDrawFile = std::unique_ptr<FILE, FileCloser>;

AcceptedDrawFile open_accepted_draws(const std::string& name) {
  AcceptedDrawFile file(std::fopen(name.c_str(), "r"));
  // "Error opening file" is the line scripts have always seen on standard output.
  if (!file)
    fail_with_notice("Error opening file", "Could not open the accepted-draw file %s for reading",
                     name.c_str());
  return file;
}

// Reads the nb_final records (distance, parameter, statistics) of one accepted-draw file
// into `design` (weights under `threshold`, logit responses, statistics as read) and the
// parameter values into `noreg`.
void read_accepted_draws(const Job& job, AcceptedDrawFile file, const std::string& name,
                         int nb_stats, double threshold, RegressionDesign& design,
                         std::vector<float>& noreg) {
  const int n = job.nb_final;
  const int p = nb_stats;
  design.n = n;
  design.p = p;
  design.x.assign(static_cast<size_t>(n) * p, 0.0f);
  design.y.assign(n, 0.0);
  design.w.assign(n, 0.0);
  noreg.assign(n, 0.0f);

  for (int i = 0; i < n; ++i) {
    float d = read_number<float>(job, file.get(), "%f", name, i, "distance");
    design.w[i] = kernel_weight(d, threshold);

    double theta = read_number<double>(job, file.get(), "%lf", name, i, "parameter");
    if (theta < 0.0 || theta > 1.0)
      fail("Accepted-draw file %s: record %d of %d: parameter %g lies outside [0, 1]", name.c_str(),
           i + 1, n, theta);
    theta = off_bounds(theta);
    design.y[i] = logit(theta);
    noreg[i] = static_cast<float>(theta);

    float* row = &design.x[static_cast<size_t>(i) * p];
    for (int j = 0; j < p; ++j)
      row[j] = read_number<float>(job, file.get(), "%f", name, i, "statistic");
  }
}

void regress_parameter(const Job& job, const char* parameter, int nb_stats,
                       const std::vector<double>& thresholds,
                       std::vector<RegressionDesign>& designs, std::vector<std::vector<float>>& reg,
                       std::vector<std::vector<float>>& noreg) {
  std::cout << "\n" << parameter << ": population " << std::flush;
  for (int k = 0; k < job.J; ++k) {
    const std::string name = accepted_draw_file_name(job, parameter, k + 1);
    AcceptedDrawFile file = open_accepted_draws(name);
    std::cout << k + 1 << ", " << std::flush;
    read_accepted_draws(job, std::move(file), name, nb_stats, thresholds.at(k), designs[k],
                        noreg[k]);
    fit_and_adjust(parameter, k, designs[k], reg[k]);
  }
}

}  // namespace

void fit_and_adjust(const char* parameter, int k, const RegressionDesign& design,
                    std::vector<float>& reg) {
  const int n = design.n;
  const int p = design.p;
  // Fewer draws than coefficients leave the fit undetermined (GSL refuses it).
  if (n < p + 1)
    fail(
        "Regression failed for %s of population %d: %d accepted draws for %d coefficients "
        "(-n must be at least %d)",
        parameter, k + 1, n, p + 1, p + 1);
  FitWorkspace ws(n, p);
  std::vector<double> slopes;
  int status = fit_and_adjust_rows(design, ws, slopes, reg);
  if (status != GSL_SUCCESS)
    fail("Regression failed for %s of population %d: %s", parameter, k + 1, gsl_strerror(status));
}

void check_regression_outputs(const Job& job) {
  // Both are created and dropped (an OutputFile that is not committed removes its temporary
  // file): the refusal comes before hours of fitting, and no handle outlives the check.
  open_output(regression_file_name(job));
  open_output(no_regression_file_name(job));
}

PosteriorSamples perform_regression(const Job& job, const std::vector<double>& thresholds_fis,
                                    const std::vector<double>& thresholds_fst) {
  std::cout << "\n\nPerforming regression... " << std::flush;
  check_regression_outputs(job);

  PosteriorSamples posterior(job.J);
  regress_parameter(job, "Fis", job.nb_class_fis, thresholds_fis, posterior.design_fis,
                    posterior.reg_fis, posterior.noreg_fis);
  regress_parameter(job, "Fst", job.nb_class_fst, thresholds_fst, posterior.design_fst,
                    posterior.reg_fst, posterior.noreg_fst);
  std::cout << std::flush;
  return posterior;
}

void write_regression_outputs(const Job& job, const PosteriorSamples& posterior) {
  std::unique_ptr<OutputFile> regression_file = open_output(regression_file_name(job));
  std::unique_ptr<OutputFile> no_regression_file = open_output(no_regression_file_name(job));
  std::ofstream& reg_out = regression_file->stream();
  std::ofstream& noreg_out = no_regression_file->stream();
  const std::vector<std::vector<float>>& reg_fis = posterior.reg_fis;
  const std::vector<std::vector<float>>& reg_fst = posterior.reg_fst;
  const std::vector<std::vector<float>>& noreg_fis = posterior.noreg_fis;
  const std::vector<std::vector<float>>& noreg_fst = posterior.noreg_fst;
  const int npop = static_cast<int>(reg_fis.size());
  // Every population has a sample of the same size (nb_final with the default method).
  const size_t draws = reg_fis.empty() ? 0 : reg_fis[0].size();
  for (size_t i = 0; i < draws; ++i) {
    for (int k = 0; k < npop; ++k) {
      reg_out << " " << reg_fis[k][i];
      noreg_out << " " << noreg_fis[k][i];
    }
    for (int k = 0; k < npop; ++k) {
      reg_out << " " << reg_fst[k][i];
      noreg_out << " " << noreg_fst[k][i];
    }
    reg_out << "\n";
    noreg_out << "\n";
  }
  close_output(*regression_file);
  close_output(*no_regression_file);
}
