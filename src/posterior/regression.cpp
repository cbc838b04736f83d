// Regression adjustment: reading back the accepted draws, the weighted fit on the logit
// scale, and the two posterior sample files.
//
// Kernel: Epanechnikov-type weight w = 1 - d^2 / t, where d is the distance of a draw (as
// written in its file) and t the acceptance threshold on the squared distance; so w = 1 at
// the observed statistics and 0 at the edge of the acceptance region.
#include "posterior/regression.h"

#include <gsl/gsl_errno.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>

#include "config.h"
#include "core/output_file.h"
#include "errors.h"
#include "observed_data.h"
#include "posterior_samples.h"
#include "run_state.h"

std::vector<RegressionDesign> design_fis;
std::vector<RegressionDesign> design_fst;

namespace {

// Open from the start of perform_regression until write_regression_outputs has filled them.
// Under their temporary names until write_regression_outputs completes them.
std::unique_ptr<OutputFile> regression_file;
std::unique_ptr<OutputFile> no_regression_file;
std::string regression_name;
std::string no_regression_name;

// Stand-ins for the parameter bounds, whose logit is infinite: logit(1 - 1e-8) is about
// 18.42 and logit(1e-8) about -18.42, far outside any fitted value yet finite.
constexpr double THETA_ONE = 0.99999999;
constexpr double THETA_ZERO = 1e-8;

void open_output(std::unique_ptr<OutputFile>& file, const std::string& name) {
  file.reset(new OutputFile(name));
  if (!file->is_open()) fail("Cannot create output file %s", name.c_str());
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

// One population of one parameter: read, fit, adjust.
void regress_population(const char* parameter, int k, int nb_stats, double threshold,
                        RegressionDesign& design, std::vector<float>& reg,
                        std::vector<float>& noreg) {
  const std::string name = odir + file_prefix + "_" + parameter + std::to_string(k + 1) + ".txt";
  std::unique_ptr<FILE, FileCloser> file(std::fopen(name.c_str(), "r"));
  if (!file) {
    // The first line is the one scripts have always seen on standard output.
    std::cout << "Error opening file" << std::endl;
    fail("Could not open the accepted-draw file %s for reading", name.c_str());
  }
  std::cout << k + 1 << ", " << std::flush;

  const int n = nb_final;
  const int p = nb_stats;
  design.n = n;
  design.p = p;
  design.x.assign(static_cast<size_t>(n) * p, 0.0f);
  design.y.assign(n, 0.0);
  design.w.assign(n, 0.0);
  reg.assign(n, 0.0f);
  noreg.assign(n, 0.0f);

  for (int i = 0; i < n; ++i) {
    float d = read_number<float>(file.get(), "%f", name, i, "distance");
    double w;
    if (threshold > 0) {
      w = 1.0 - static_cast<double>(d) * d / threshold;
    } else {
      // A threshold of 0 accepts only draws at distance 0 (few loci, discrete statistics);
      // they all match the observed statistics exactly, and 1 - 0/0 would poison the fit.
      w = 1.0;
    }
    // The distance is written with 6 digits, so a draw at the threshold can come out a hair
    // beyond it; such a draw carries no weight (the fit would ignore it anyway).
    design.w[i] = w > 0 ? w : 0.0;

    double theta = read_number<double>(file.get(), "%lf", name, i, "parameter");
    if (theta < 0.0 || theta > 1.0)
      fail("Accepted-draw file %s: record %d of %d: parameter %g lies outside [0, 1]", name.c_str(),
           i + 1, n, theta);
    if (theta == 1.0) theta = THETA_ONE;
    if (theta == 0.0) theta = THETA_ZERO;
    design.y[i] = std::log(theta / (1.0 - theta));
    noreg[i] = static_cast<float>(theta);

    float* row = &design.x[static_cast<size_t>(i) * p];
    for (int j = 0; j < p; ++j) row[j] = read_number<float>(file.get(), "%f", name, i, "statistic");
  }
  file.reset();

  // Fewer draws than coefficients leave the fit undetermined (GSL refuses it).
  if (n < p + 1)
    fail(
        "Regression failed for %s of population %d: %d accepted draws for %d coefficients "
        "(-n must be at least %d)",
        parameter, k + 1, n, p + 1, p + 1);
  FitWorkspace ws(n, p);
  std::vector<double> slopes;
  int status = fit_slopes(design, nullptr, ws, slopes);
  if (status != GSL_SUCCESS)
    fail("Regression failed for %s of population %d: %s", parameter, k + 1, gsl_strerror(status));
  for (int i = 0; i < n; ++i) reg[i] = adjusted_value(design, i, slopes);
}

void regress_parameter(const char* parameter, int nb_stats, const std::vector<double>& thresholds,
                       std::vector<RegressionDesign>& designs, std::vector<std::vector<float>>& reg,
                       std::vector<std::vector<float>>& noreg) {
  designs.assign(J, RegressionDesign());
  reg.assign(J, std::vector<float>());
  noreg.assign(J, std::vector<float>());
  std::cout << "\n" << parameter << ": population " << std::flush;
  for (int k = 0; k < J; ++k)
    regress_population(parameter, k, nb_stats, thresholds.at(k), designs[k], reg[k], noreg[k]);
}

}  // namespace

FitWorkspace::FitWorkspace(int n, int p)
    : n_max(n),
      p_max(p),
      x(nullptr, gsl_matrix_free),
      y(nullptr, gsl_vector_free),
      w(nullptr, gsl_vector_free),
      c(nullptr, gsl_vector_free),
      cov(nullptr, gsl_matrix_free),
      work(nullptr, gsl_multifit_linear_free) {
  // GSL's default handler would abort on a refused allocation; report it here instead.
  gsl_error_handler_t* previous = gsl_set_error_handler_off();
  x.reset(gsl_matrix_alloc(n, p + 1));
  y.reset(gsl_vector_alloc(n));
  w.reset(gsl_vector_alloc(n));
  c.reset(gsl_vector_alloc(p + 1));
  cov.reset(gsl_matrix_alloc(p + 1, p + 1));
  work.reset(gsl_multifit_linear_alloc(n, p + 1));
  gsl_set_error_handler(previous);
  if (!x || !y || !w || !c || !cov || !work)
    fail("Out of memory for a regression of %d draws and %d statistics", n, p);
}

double inverse_logit(double z) {
  double e = std::exp(z);
  // exp overflows above z of about 709.78, and inf / inf is NaN; the limit is 1. (At the
  // other end exp(z) underflows to 0 and the formula gives 0 by itself.)
  if (std::isinf(e)) return 1.0;
  return e / (e + 1.0);
}

int fit_slopes(const RegressionDesign& design, const int* rows, FitWorkspace& ws,
               std::vector<double>& slopes) {
  const int n = design.n;
  const int p = design.p;
  auto row_of = [rows](int i) { return rows ? rows[i] : i; };

  // A statistic that does not vary over the draws that carry weight is collinear with the
  // intercept. GSL's decomposition may not truncate that direction (column balancing leaves
  // a tiny but non-zero singular value) and then returns slopes of order 1e13 that send
  // every adjusted value to 0 or 1. The data say nothing about such a statistic: slope 0.
  std::vector<int> kept;
  kept.reserve(p);
  for (int j = 0; j < p; ++j) {
    bool seen = false, varies = false;
    float first = 0.0f;
    for (int i = 0; i < n && !varies; ++i) {
      int r = row_of(i);
      if (!(design.w[r] > 0)) continue;
      float v = design.x[static_cast<size_t>(r) * p + j];
      if (!seen) {
        first = v;
        seen = true;
      } else if (v != first) {
        varies = true;
      }
    }
    if (varies) kept.push_back(j);
  }
  const int q = static_cast<int>(kept.size());

  gsl_matrix_view x = gsl_matrix_submatrix(ws.x.get(), 0, 0, n, q + 1);
  gsl_vector_view c = gsl_vector_subvector(ws.c.get(), 0, q + 1);
  gsl_matrix_view cov = gsl_matrix_submatrix(ws.cov.get(), 0, 0, q + 1, q + 1);
  for (int i = 0; i < n; ++i) {
    int r = row_of(i);
    const float* row = &design.x[static_cast<size_t>(r) * p];
    gsl_matrix_set(&x.matrix, i, 0, 1.0);
    for (int j = 0; j < q; ++j) gsl_matrix_set(&x.matrix, i, j + 1, row[kept[j]]);
    gsl_vector_set(ws.y.get(), i, design.y[r]);
    gsl_vector_set(ws.w.get(), i, design.w[r]);
  }

  // GSL's default handler aborts the process; report through the status instead.
  gsl_error_handler_t* previous = gsl_set_error_handler_off();
  double chisq = 0.0;
  int status = gsl_multifit_wlinear(&x.matrix, ws.w.get(), ws.y.get(), &c.vector, &cov.matrix,
                                    &chisq, ws.work.get());
  gsl_set_error_handler(previous);

  slopes.assign(p, 0.0);
  for (int j = 0; j < q; ++j) {
    slopes[kept[j]] = gsl_vector_get(&c.vector, j + 1);
    if (status == GSL_SUCCESS && !std::isfinite(slopes[kept[j]])) status = GSL_ESING;
  }
  return status;
}

float adjusted_value(const RegressionDesign& design, int i, const std::vector<double>& slopes) {
  const float* row = &design.x[static_cast<size_t>(i) * design.p];
  double z = design.y[i];
  for (int j = 0; j < design.p; ++j) z -= row[j] * slopes[j];
  return static_cast<float>(inverse_logit(z));
}

void perform_regression() {
  std::cout << "\n\nPerforming regression... " << std::flush;
  regression_name = odir + file_prefix + "_regression.txt";
  no_regression_name = odir + file_prefix + "_no_regression.txt";
  open_output(regression_file, regression_name);
  open_output(no_regression_file, no_regression_name);

  regress_parameter("Fis", nb_class_fis, quantile_fis, design_fis, reg_fis, noreg_fis);
  regress_parameter("Fst", nb_class_fst, quantile_fst, design_fst, reg_fst, noreg_fst);
  std::cout << std::flush;
}

void write_regression_outputs() {
  if (!regression_file || !no_regression_file)
    fail("Bug detected: regression outputs written before perform_regression");
  std::ofstream& reg_out = regression_file->stream();
  std::ofstream& noreg_out = no_regression_file->stream();
  for (int i = 0; i < nb_final; ++i) {
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
  if (!regression_file->commit()) fail("Cannot write output file %s", regression_name.c_str());
  if (!no_regression_file->commit())
    fail("Cannot write output file %s", no_regression_name.c_str());
  regression_file.reset();
  no_regression_file.reset();
}
