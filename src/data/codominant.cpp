// SPDX-License-Identifier: GPL-3.0-or-later
// Codominant conversion. A dominant marker shows no band only in null homozygotes; with
// inbreeding F their frequency is P = q^2 + F q (1 - q), so the null-allele frequency q is
// the root in [0, 1] of (1 - F) q^2 + F q - P = 0:
//   q = (sqrt(F^2 + 4 P (1 - F)) - F) / (2 (1 - F)).
// Each population's n individuals then carry round(n q) null alleles in this count.
#include "data/codominant.h"

#include <cmath>
#include <fstream>
#include <iomanip>

#include "core/output_file.h"
#include "core/output_names.h"
#include "errors.h"
#include "job.h"
#include "observed_data.h"

int round2(double x) { return x > 0 ? static_cast<int>(x + 0.5) : static_cast<int>(x - 0.5); }

double null_allele_frequency(double P, double F) {
  // At F = 1 every individual is homozygous, the quadratic degenerates to F q = P, and the
  // root's limit as F -> 1 is q = P (the formula would divide 0 by 0). The adjusted Fis is
  // single precision, so a posterior mean of exactly 1 does occur.
  if (F == 1.0) return P;
  double D = F * F + 4 * P * (1 - F);
  return (std::sqrt(D) - F) / (2 * (1 - F));
}

void write_codominant(const Job& job, const std::vector<double>& fis_estimate) {
  const std::string name = codominant_file_name(job);
  OutputFile file(name);
  if (!file.is_open()) fail("Cannot create codominant file %s", name.c_str());
  std::ofstream& out = file.stream();
  if (static_cast<int>(fis_estimate.size()) < job.J)
    fail("Bug detected: codominant conversion without a Fis estimate per population");

  out << "#value of Fis used to convert from dominant data: \n";
  for (int p = 0; p < job.J; ++p) out << "#Population " << p + 1 << ": " << fis_estimate[p] << "\n";
  out << "\n[loci]=" << job.I << "\n\n[populations]=" << job.J << "\n\n";
  for (int p = 0; p < job.J; ++p) {
    const double F = fis_estimate[p];
    out << "[pop]=" << p + 1 << "\n";
    for (int l = 0; l < job.I; ++l) {
      const LocusRecord& r = job.pop_target[job.record_index(p, l)];
      // A locus with nobody sampled has no frequency to convert: no alleles either way.
      int a = 0;
      if (r.n > 0) {
        double P = static_cast<double>(r.n - r.k) / r.n;
        a = round2(r.n * null_allele_frequency(P, F));
      }
      out << std::setw(3) << l + 1 << "  " << r.n << "  2  " << std::setw(3) << r.n - a << " " << a
          << "\n";
    }
    out << "\n";
  }
  if (!file.commit()) fail("Cannot write codominant file %s", name.c_str());
}
