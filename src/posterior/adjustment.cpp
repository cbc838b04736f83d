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

#include "config.h"
#include "core/output_file.h"
#include "core/output_names.h"
#include "errors.h"
#include "observed_data.h"
#include "posterior/regression.h"
#include "posterior_samples.h"

std::vector<RegressionDesign> design_fis;
std::vector<RegressionDesign> design_fst;

namespace {

// Open, under their temporary names, from the start of perform_regression until
// write_regression_outputs has filled and completed them.
std::unique_ptr<OutputFile> regression_file;
std::unique_ptr<OutputFile> no_regression_file;

void open_output(std::unique_ptr<OutputFile>& file, const std::string& name) {
  file.reset(new OutputFile(name));
  if (!file->is_open()) fail("Cannot create output file %s", name.c_str());
}

void close_output(std::unique_ptr<OutputFile>& file, const std::string& name) {
  if (!file->commit()) fail("Cannot write output file %s", name.c_str());
  file.reset();
}

// Owns the FILE* so that every exit path closes it.
struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

// Reads one number with the given conversion; a missing, unreadable or non-finite value
// ends the run with the file and record named (a short file must not become a regression
// on garbage).
template <typename T>
T read_number(FILE* f, const char* format, const std::string& name, int record, const char* what) {
  T value;
  int got = std::fscanf(f, format, &value);
  if (got != 1)
    fail("Accepted-draw file %s: record %d of %d: %s %s", name.c_str(), record + 1, nb_final, what,
         got == EOF ? "missing (file too short)" : "is not a number");
  if (!std::isfinite(value))
    fail("Accepted-draw file %s: record %d of %d: %s is not a finite number", name.c_str(),
         record + 1, nb_final, what);
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
void read_accepted_draws(AcceptedDrawFile file, const std::string& name, int nb_stats,
                         double threshold, RegressionDesign& design, std::vector<float>& noreg) {
  const int n = nb_final;
  const int p = nb_stats;
  design.n = n;
  design.p = p;
  design.x.assign(static_cast<size_t>(n) * p, 0.0f);
  design.y.assign(n, 0.0);
  design.w.assign(n, 0.0);
  noreg.assign(n, 0.0f);

  for (int i = 0; i < n; ++i) {
    float d = read_number<float>(file.get(), "%f", name, i, "distance");
    design.w[i] = kernel_weight(d, threshold);

    double theta = read_number<double>(file.get(), "%lf", name, i, "parameter");
    if (theta < 0.0 || theta > 1.0)
      fail("Accepted-draw file %s: record %d of %d: parameter %g lies outside [0, 1]", name.c_str(),
           i + 1, n, theta);
    theta = off_bounds(theta);
    design.y[i] = logit(theta);
    noreg[i] = static_cast<float>(theta);

    float* row = &design.x[static_cast<size_t>(i) * p];
    for (int j = 0; j < p; ++j) row[j] = read_number<float>(file.get(), "%f", name, i, "statistic");
  }
}

void regress_parameter(const char* parameter, int nb_stats, const std::vector<double>& thresholds,
                       std::vector<RegressionDesign>& designs, std::vector<std::vector<float>>& reg,
                       std::vector<std::vector<float>>& noreg) {
  designs.assign(J, RegressionDesign());
  reg.assign(J, std::vector<float>());
  noreg.assign(J, std::vector<float>());
  std::cout << "\n" << parameter << ": population " << std::flush;
  for (int k = 0; k < J; ++k) {
    const std::string name = accepted_draw_file_name(parameter, k + 1);
    AcceptedDrawFile file = open_accepted_draws(name);
    std::cout << k + 1 << ", " << std::flush;
    read_accepted_draws(std::move(file), name, nb_stats, thresholds.at(k), designs[k], noreg[k]);
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

void open_regression_outputs() {
  open_output(regression_file, regression_file_name());
  open_output(no_regression_file, no_regression_file_name());
}

void perform_regression(const std::vector<double>& thresholds_fis,
                        const std::vector<double>& thresholds_fst) {
  std::cout << "\n\nPerforming regression... " << std::flush;
  open_regression_outputs();

  regress_parameter("Fis", nb_class_fis, thresholds_fis, design_fis, reg_fis, noreg_fis);
  regress_parameter("Fst", nb_class_fst, thresholds_fst, design_fst, reg_fst, noreg_fst);
  std::cout << std::flush;
}

void write_regression_outputs() {
  if (!regression_file || !no_regression_file)
    fail("Bug detected: regression outputs written before perform_regression");
  std::ofstream& reg_out = regression_file->stream();
  std::ofstream& noreg_out = no_regression_file->stream();
  // Every population has a sample of the same size (nb_final with the default method).
  const size_t draws = reg_fis.empty() ? 0 : reg_fis[0].size();
  for (size_t i = 0; i < draws; ++i) {
    for (int k = 0; k < J; ++k) {
      reg_out << " " << reg_fis[k][i];
      noreg_out << " " << noreg_fis[k][i];
    }
    for (int k = 0; k < J; ++k) {
      reg_out << " " << reg_fst[k][i];
      noreg_out << " " << noreg_fst[k][i];
    }
    reg_out << "\n";
    noreg_out << "\n";
  }
  close_output(regression_file, regression_file_name());
  close_output(no_regression_file, no_regression_file_name());
}
