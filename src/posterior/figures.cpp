// SPDX-License-Identifier: GPL-3.0-or-later
// SVG figures. Every panel has the parameter's full range [0, 1] on its x axis, so that
// panels compare at a glance; the posterior densities are Gaussian kernel estimates with the
// bandwidth of the statistics file's mode, on a grid of 101 points: a step of 0.01, about two
// pixel columns of a panel's 202-pixel plot area, drawn as a polyline whose joints do not show
// on a curve as smooth as a kernel estimate.
#include "posterior/figures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "core/output_file.h"
#include "core/output_names.h"
#include "errors.h"
#include "job.h"
#include "observed_data.h"
#include "posterior/posterior_samples.h"
#include "posterior/posterior_stats.h"

namespace {

constexpr int DENSITY_POINTS = 101;

// Panel size in pixels, and the room kept around the plot area for the axes and the title.
constexpr double PANEL_W = 260, PANEL_H = 180;
constexpr double LEFT = 46, RIGHT = 12, TOP = 24, BOTTOM = 40;
// The figure's own title and legend above the panels.
constexpr double HEADER_H = 56;

const char* const COLOR_PRIOR = "#666666";
const char* const COLOR_UNADJUSTED = "#d97a00";
const char* const COLOR_ADJUSTED = "#1f5fbf";
const char* const COLOR_MEAN = "#0b2f66";
const char* const COLOR_OBSERVED = "#c8102e";

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

// Coordinates with one decimal: a tenth of a pixel is finer than any renderer shows.
std::string px(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

// A label for an axis tick: no trailing zeros ("0.5", "2").
std::string tick_label(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", std::fabs(v) < 1e-12 ? 0.0 : v);
  return buf;
}

class Svg {
 public:
  Svg(double width, double height) {
    s_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
       << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << px(width) << "\" height=\""
       << px(height) << "\" viewBox=\"0 0 " << px(width) << " " << px(height)
       << "\" font-family=\"sans-serif\" font-size=\"11\">\n"
       << "<rect x=\"0\" y=\"0\" width=\"" << px(width) << "\" height=\"" << px(height)
       << "\" fill=\"white\"/>\n";
  }
  void line(double x1, double y1, double x2, double y2, const char* color, double width,
            const char* dash = nullptr) {
    s_ << "<line x1=\"" << px(x1) << "\" y1=\"" << px(y1) << "\" x2=\"" << px(x2) << "\" y2=\""
       << px(y2) << "\" stroke=\"" << color << "\" stroke-width=\"" << width << "\"";
    if (dash) s_ << " stroke-dasharray=\"" << dash << "\"";
    s_ << "/>\n";
  }
  void rect(double x, double y, double w, double h, const char* fill, double opacity,
            const char* stroke = nullptr) {
    s_ << "<rect x=\"" << px(x) << "\" y=\"" << px(y) << "\" width=\"" << px(w) << "\" height=\""
       << px(h) << "\" fill=\"" << fill << "\" fill-opacity=\"" << opacity << "\"";
    if (stroke) s_ << " stroke=\"" << stroke << "\"";
    s_ << "/>\n";
  }
  void polyline(const std::vector<double>& xs, const std::vector<double>& ys, const char* color,
                double width, const char* dash = nullptr) {
    s_ << "<polyline fill=\"none\" stroke=\"" << color << "\" stroke-width=\"" << width << "\"";
    if (dash) s_ << " stroke-dasharray=\"" << dash << "\"";
    s_ << " points=\"";
    for (size_t i = 0; i < xs.size(); ++i) s_ << (i ? " " : "") << px(xs[i]) << "," << px(ys[i]);
    s_ << "\"/>\n";
  }
  void circle(double x, double y, double r, const char* fill, double opacity,
              const char* stroke = nullptr) {
    s_ << "<circle cx=\"" << px(x) << "\" cy=\"" << px(y) << "\" r=\"" << r << "\" fill=\"" << fill
       << "\" fill-opacity=\"" << opacity << "\"";
    if (stroke) s_ << " stroke=\"" << stroke << "\" stroke-width=\"1\"";
    s_ << "/>\n";
  }
  void text(double x, double y, const std::string& t, const char* anchor = "start",
            double size = 11, bool bold = false, double rotate = 0) {
    s_ << "<text x=\"" << px(x) << "\" y=\"" << px(y) << "\" text-anchor=\"" << anchor << "\"";
    if (size != 11) s_ << " font-size=\"" << size << "\"";
    if (bold) s_ << " font-weight=\"bold\"";
    if (rotate != 0)
      s_ << " transform=\"rotate(" << rotate << " " << px(x) << " " << px(y) << ")\"";
    s_ << ">" << escaped(t) << "</text>\n";
  }
  std::string finish() {
    s_ << "</svg>\n";
    return s_.str();
  }

 private:
  std::ostringstream s_;
};

// A tick step of 1, 2 or 5 times a power of ten giving at most about five ticks up to `top`.
double tick_step(double top) {
  const double raw = top / 5;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * power >= raw) return m * power;
  return 10 * power;
}

// The plot area of a panel and its mapping from data to pixels.
struct Frame {
  double x0, y0, w, h;  // plot area, pixels
  double ymax;          // the y value at the top
  double x(double v) const { return x0 + v * w; }
  double y(double v) const { return y0 + h - v / ymax * h; }
};

// Axes with ticks and labels; x runs over [0, 1], y over [0, ymax].
void draw_axes(Svg& svg, const Frame& f, const std::string& xlabel, const std::string& ylabel) {
  svg.rect(f.x0, f.y0, f.w, f.h, "none", 0, "#999999");
  for (int i = 0; i <= 4; ++i) {
    const double v = i * 0.25;
    svg.line(f.x(v), f.y0 + f.h, f.x(v), f.y0 + f.h + 4, "#333333", 1);
    svg.text(f.x(v), f.y0 + f.h + 15, tick_label(v), "middle", 10);
  }
  const double step = tick_step(f.ymax);
  for (double v = 0; v <= f.ymax * (1 + 1e-9); v += step) {
    svg.line(f.x0 - 4, f.y(v), f.x0, f.y(v), "#333333", 1);
    svg.text(f.x0 - 6, f.y(v) + 3.5, tick_label(v), "end", 10);
  }
  svg.text(f.x0 + f.w / 2, f.y0 + f.h + 30, xlabel, "middle");
  svg.text(f.x0 - 34, f.y0 + f.h / 2, ylabel, "middle", 11, false, -90);
}

// A plot area over arbitrary ranges (the goodness-of-fit figure's D and component axes).
struct RangeFrame {
  double x0, y0, w, h;  // plot area, pixels
  double xmin, xmax, ymin, ymax;
  double x(double v) const { return x0 + (v - xmin) / (xmax - xmin) * w; }
  double y(double v) const { return y0 + h - (v - ymin) / (ymax - ymin) * h; }
};

// A range [lo, hi] widened by 5% on each side, or to a unit around a single value.
void padded_range(double lo, double hi, double* from, double* to) {
  if (!(hi > lo)) {
    *from = lo - 0.5;
    *to = lo + 0.5;
    return;
  }
  *from = lo - 0.05 * (hi - lo);
  *to = hi + 0.05 * (hi - lo);
}

void draw_range_axes(Svg& svg, const RangeFrame& f, const std::string& xlabel,
                     const std::string& ylabel) {
  svg.rect(f.x0, f.y0, f.w, f.h, "none", 0, "#999999");
  const double xs = tick_step(f.xmax - f.xmin);
  for (double v = std::ceil(f.xmin / xs) * xs; v <= f.xmax * (1 + 1e-9) + 1e-12; v += xs) {
    svg.line(f.x(v), f.y0 + f.h, f.x(v), f.y0 + f.h + 4, "#333333", 1);
    svg.text(f.x(v), f.y0 + f.h + 15, tick_label(v), "middle", 10);
  }
  const double ys = tick_step(f.ymax - f.ymin);
  for (double v = std::ceil(f.ymin / ys) * ys; v <= f.ymax * (1 + 1e-9) + 1e-12; v += ys) {
    svg.line(f.x0 - 4, f.y(v), f.x0, f.y(v), "#333333", 1);
    svg.text(f.x0 - 6, f.y(v) + 3.5, tick_label(v), "end", 10);
  }
  svg.text(f.x0 + f.w / 2, f.y0 + f.h + 30, xlabel, "middle");
  svg.text(f.x0 - 34, f.y0 + f.h / 2, ylabel, "middle", 11, false, -90);
}

// Bars of the null distribution of D: 20 bins over the null values and the observed D.
constexpr int NULL_BINS = 20;

void draw_null_histogram(Svg& svg, double left, double top, const GofResult& r) {
  double lo = r.observed, hi = r.observed;
  for (double d : r.null) {
    lo = std::min(lo, d);
    hi = std::max(hi, d);
  }
  double from, to;
  padded_range(std::max(0.0, lo), hi, &from, &to);
  from = std::max(0.0, from);
  std::vector<int> counts(NULL_BINS, 0);
  const double bin = (to - from) / NULL_BINS;
  for (double d : r.null) {
    const int b = static_cast<int>((d - from) / bin);
    ++counts[std::max(0, std::min(NULL_BINS - 1, b))];
  }
  int most = 1;
  for (int c : counts) most = std::max(most, c);
  const RangeFrame f{
      left + LEFT, top + TOP,  PANEL_W - LEFT - RIGHT, PANEL_H - TOP - BOTTOM, from, to,
      0.0,         most * 1.08};
  char title[96];
  std::snprintf(title, sizeof title, "Population %d: %s (p = %.3g)", r.population + 1,
                r.fst ? "Fst" : "Fis", r.p_value);
  svg.text(f.x0 + f.w / 2, top + 15, title, "middle", 11, true);
  for (int b = 0; b < NULL_BINS; ++b)
    if (counts[b] > 0)
      svg.rect(f.x(from + b * bin), f.y(counts[b]), f.w / NULL_BINS, f.y(0) - f.y(counts[b]),
               COLOR_ADJUSTED, 0.5);
  svg.line(f.x(r.observed), f.y0, f.x(r.observed), f.y0 + f.h, COLOR_OBSERVED, 2);
  draw_range_axes(svg, f, std::string("D of the ") + (r.fst ? "Fst" : "Fis") + " statistics",
                  "data sets");
}

void draw_projection(Svg& svg, double left, double top, const GofProjection& g) {
  double xlo = g.observed_x, xhi = g.observed_x, ylo = g.observed_y, yhi = g.observed_y;
  for (size_t i = 0; i < g.x.size(); ++i) {
    xlo = std::min(xlo, g.x[i]);
    xhi = std::max(xhi, g.x[i]);
    ylo = std::min(ylo, g.y[i]);
    yhi = std::max(yhi, g.y[i]);
  }
  RangeFrame f{left + LEFT, top + TOP, PANEL_W - LEFT - RIGHT, PANEL_H - TOP - BOTTOM, 0, 0, 0, 0};
  padded_range(xlo, xhi, &f.xmin, &f.xmax);
  padded_range(ylo, yhi, &f.ymin, &f.ymax);
  svg.text(f.x0 + f.w / 2, top + 15, g.title, "middle", 11, true);
  for (size_t i = 0; i < g.x.size(); ++i)
    svg.circle(f.x(g.x[i]), f.y(g.y[i]), 1.6, COLOR_PRIOR, 0.35);
  svg.circle(f.x(g.observed_x), f.y(g.observed_y), 4, COLOR_OBSERVED, 1, "#000000");
  char xlabel[48], ylabel[48];
  std::snprintf(xlabel, sizeof xlabel, "PC1 (%.0f%%)", 100 * g.share_1);
  std::snprintf(ylabel, sizeof ylabel, "PC2 (%.0f%%)", 100 * g.share_2);
  draw_range_axes(svg, f, xlabel, ylabel);
}

// The density of a sample over [0, 1], normalised to integrate to 1 over the real line.
std::vector<double> density_on_unit_interval(const std::vector<float>& sample) {
  const int n = static_cast<int>(sample.size());
  std::vector<double> grid(DENSITY_POINTS), density(DENSITY_POINTS);
  for (int g = 0; g < DENSITY_POINTS; ++g) grid[g] = static_cast<double>(g) / (DENSITY_POINTS - 1);
  if (n == 0) return density;
  const SampleMoments m = sample_moments(sample.data(), nullptr, n);
  const double h = density_bandwidth(n > 1 ? m.variance : 0.0, n);
  kernel_density(sample.data(), n, h, grid.data(), DENSITY_POINTS, density.data());
  for (double& d : density) d /= n * h;
  return density;
}

void draw_density_panel(Svg& svg, double left, double top, const std::string& title,
                        const std::string& xlabel, const std::vector<float>& adjusted,
                        const std::vector<float>& unadjusted, double coverage) {
  const std::vector<double> d_adj = density_on_unit_interval(adjusted);
  const std::vector<double> d_unadj = density_on_unit_interval(unadjusted);
  double top_density = 1.0;  // the prior's
  for (double v : d_adj) top_density = std::max(top_density, v);
  for (double v : d_unadj) top_density = std::max(top_density, v);
  const Frame f{left + LEFT, top + TOP, PANEL_W - LEFT - RIGHT, PANEL_H - TOP - BOTTOM,
                top_density * 1.08};

  svg.text(f.x0 + f.w / 2, top + 15, title, "middle", 11, true);
  if (!adjusted.empty()) {
    std::vector<float> sorted = adjusted;
    std::sort(sorted.begin(), sorted.end());
    double low, high;
    narrowest_interval(sorted.data(), static_cast<int>(sorted.size()), coverage, &low, &high);
    svg.rect(f.x(low), f.y0, std::max(f.x(high) - f.x(low), 1.0), f.h, COLOR_ADJUSTED, 0.15);
    const double mean = sample_moments(adjusted.data(), nullptr, adjusted.size()).mean;
    svg.line(f.x(mean), f.y0, f.x(mean), f.y0 + f.h, COLOR_MEAN, 1.5, "4 3");
  }
  std::vector<double> xs(DENSITY_POINTS), ya(DENSITY_POINTS), yu(DENSITY_POINTS);
  for (int g = 0; g < DENSITY_POINTS; ++g) {
    xs[g] = f.x(static_cast<double>(g) / (DENSITY_POINTS - 1));
    ya[g] = f.y(d_adj[g]);
    yu[g] = f.y(d_unadj[g]);
  }
  svg.line(f.x(0), f.y(1), f.x(1), f.y(1), COLOR_PRIOR, 1.2, "2 3");
  svg.polyline(xs, yu, COLOR_UNADJUSTED, 1.5);
  svg.polyline(xs, ya, COLOR_ADJUSTED, 2);
  draw_axes(svg, f, xlabel, "density");
}

// One legend entry: a short sample of the mark, then its text; returns the next x.
double legend_line(Svg& svg, double x, double y, const char* color, double width, const char* dash,
                   const std::string& label) {
  svg.line(x, y, x + 24, y, color, width, dash);
  svg.text(x + 30, y + 4, label);
  return x + 44 + 6.6 * label.size();
}

double legend_box(Svg& svg, double x, double y, const char* color, double opacity,
                  const std::string& label) {
  svg.rect(x, y - 6, 24, 12, color, opacity);
  svg.text(x + 30, y + 4, label);
  return x + 44 + 6.6 * label.size();
}

double legend_dot(Svg& svg, double x, double y, const char* color, double opacity,
                  const char* stroke, const std::string& label) {
  svg.circle(x + 12, y, 3.5, color, opacity, stroke);
  svg.text(x + 30, y + 4, label);
  return x + 44 + 6.6 * label.size();
}

void write_figure(const std::string& name, const std::string& svg) {
  OutputFile out(name);
  if (!out.is_open()) fail("Cannot create figure file %s", name.c_str());
  out.stream() << svg;
  if (!out.commit()) fail("Cannot write figure file %s", name.c_str());
}

}  // namespace

std::string posterior_figure_svg(const std::vector<std::vector<float>>& reg_fis,
                                 const std::vector<std::vector<float>>& noreg_fis,
                                 const std::vector<std::vector<float>>& reg_fst,
                                 const std::vector<std::vector<float>>& noreg_fst,
                                 double coverage) {
  const int npop = static_cast<int>(reg_fis.size());
  // Populations side by side in pairs of panels (Fis, Fst), as many pairs to a row as keep
  // the figure roughly square: 1 for one population, 2 for four, 5 for sixty.
  int per_row = static_cast<int>(std::ceil(std::sqrt(npop * PANEL_H / (2 * PANEL_W))));
  per_row = std::max(1, std::min(per_row, npop));
  const int rows = (npop + per_row - 1) / per_row;
  const double width = std::max(per_row * 2 * PANEL_W, 560.0);
  const double height = HEADER_H + rows * PANEL_H;
  Svg svg(width, height);

  const int percent = static_cast<int>(std::round(100 * coverage));
  svg.text(12, 20, "Posterior distributions of Fis and Fst per population", "start", 13, true);
  double x = 12;
  const double y = 42;
  x = legend_line(svg, x, y, COLOR_PRIOR, 1.2, "2 3", "prior");
  x = legend_line(svg, x, y, COLOR_UNADJUSTED, 1.5, nullptr, "unadjusted");
  x = legend_line(svg, x, y, COLOR_ADJUSTED, 2, nullptr, "adjusted");
  x = legend_box(svg, x, y, COLOR_ADJUSTED, 0.15, std::to_string(percent) + "% HPDI");
  legend_line(svg, x, y, COLOR_MEAN, 1.5, "4 3", "mean");

  for (int k = 0; k < npop; ++k) {
    const double left = (k % per_row) * 2 * PANEL_W;
    const double top = HEADER_H + (k / per_row) * PANEL_H;
    const std::string pop = std::to_string(k + 1);
    draw_density_panel(svg, left, top, "Population " + pop + ": Fis", "Fis" + pop, reg_fis[k],
                       noreg_fis[k], coverage);
    draw_density_panel(svg, left + PANEL_W, top, "Population " + pop + ": Fst", "Fst" + pop,
                       reg_fst[k], noreg_fst[k], coverage);
  }
  return svg.finish();
}

std::string cv_figure_svg(const std::vector<CvEstimate>& estimates,
                          const std::vector<CvSummaryRow>& summary, int npop) {
  constexpr double SIDE = 380;  // a square panel: the identity line at 45 degrees
  Svg svg(2 * SIDE, HEADER_H + SIDE);
  svg.text(12, 20, "Cross-validation: estimated against true value, all populations", "start", 13,
           true);
  double x = 12;
  const double y = 42;
  x = legend_dot(svg, x, y, COLOR_ADJUSTED, 0.6, nullptr, "adjusted posterior mean");
  x = legend_dot(svg, x, y, "none", 0, COLOR_UNADJUSTED, "unadjusted posterior mean");
  legend_line(svg, x, y, COLOR_PRIOR, 1.2, "2 3", "identity");

  for (int parameter = 0; parameter < 2; ++parameter) {
    const std::string name = parameter == 0 ? "Fis" : "Fst";
    const Frame f{parameter * SIDE + 56, HEADER_H + 28, SIDE - 56 - 16, SIDE - 28 - 48, 1.0};
    std::string title = name;
    for (const CvSummaryRow& r : summary)
      if (r.label == name) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "%s: prediction error %.2f (unadjusted %.2f)", name.c_str(),
                      r.prediction_error_adjusted, r.prediction_error_unadjusted);
        title = buf;
      }
    svg.text(f.x0 + f.w / 2, HEADER_H + 18, title, "middle", 11, true);
    svg.line(f.x(0), f.y(0), f.x(1), f.y(1), COLOR_PRIOR, 1.2, "2 3");
    for (const CvEstimate& e : estimates) {
      if ((e.parameter >= npop) != (parameter == 1)) continue;
      svg.circle(f.x(e.truth), f.y(e.mean_unadjusted), 2.2, "none", 0, COLOR_UNADJUSTED);
    }
    for (const CvEstimate& e : estimates) {
      if ((e.parameter >= npop) != (parameter == 1) || std::isnan(e.mean_adjusted)) continue;
      svg.circle(f.x(e.truth), f.y(e.mean_adjusted), 2.2, COLOR_ADJUSTED, 0.6);
    }
    draw_axes(svg, f, "true " + name, "estimated " + name);
  }
  return svg.finish();
}

std::string gof_figure_svg(const std::vector<GofResult>& results,
                           const std::vector<GofProjection>& projections, int npop) {
  // Pairs of panels, as in the posterior figure: per population its two histograms (Fis,
  // Fst); the projections in pairs too, after each population's histograms when there is a
  // pair per population, else at the top.
  struct Pair {
    const GofResult* hist[2] = {nullptr, nullptr};
    const GofProjection* proj[2] = {nullptr, nullptr};
  };
  std::vector<Pair> pairs;
  const bool per_population = static_cast<int>(projections.size()) == 2 * npop;
  if (!per_population && projections.size() >= 2) {
    Pair q;
    q.proj[0] = &projections[0];
    q.proj[1] = &projections[1];
    pairs.push_back(q);
  }
  for (int k = 0; k < npop; ++k) {
    Pair h;
    for (const GofResult& r : results)
      if (r.population == k) h.hist[r.fst ? 1 : 0] = &r;
    pairs.push_back(h);
    if (per_population) {
      Pair q;
      q.proj[0] = &projections[2 * k];
      q.proj[1] = &projections[2 * k + 1];
      pairs.push_back(q);
    }
  }
  const int n = static_cast<int>(pairs.size());
  int per_row = static_cast<int>(std::ceil(std::sqrt(n * PANEL_H / (2 * PANEL_W))));
  per_row = std::max(1, std::min(per_row, n));
  const int rows = (n + per_row - 1) / per_row;
  const double width = std::max(per_row * 2 * PANEL_W, 560.0);
  Svg svg(width, HEADER_H + rows * PANEL_H);
  svg.text(12, 20, "Goodness of fit: the observed data among data sets simulated by the model",
           "start", 13, true);
  double x = 12;
  const double y = 42;
  x = legend_box(svg, x, y, COLOR_ADJUSTED, 0.5, "D of simulated data sets");
  x = legend_line(svg, x, y, COLOR_OBSERVED, 2, nullptr, "D of the data");
  x = legend_dot(svg, x, y, COLOR_PRIOR, 0.35, nullptr, "simulations");
  legend_dot(svg, x, y, COLOR_OBSERVED, 1, "#000000", "the data (principal components)");
  for (int i = 0; i < n; ++i) {
    const double left = (i % per_row) * 2 * PANEL_W;
    const double top = HEADER_H + (i / per_row) * PANEL_H;
    for (int side = 0; side < 2; ++side) {
      if (pairs[i].hist[side])
        draw_null_histogram(svg, left + side * PANEL_W, top, *pairs[i].hist[side]);
      if (pairs[i].proj[side])
        draw_projection(svg, left + side * PANEL_W, top, *pairs[i].proj[side]);
    }
  }
  return svg.finish();
}

void write_posterior_figure(const Job& job, const PosteriorSamples& posterior) {
  write_figure(posterior_figure_file_name(job),
               posterior_figure_svg(posterior.reg_fis, posterior.noreg_fis, posterior.reg_fst,
                                    posterior.noreg_fst, job.hpdi_pc));
}

void write_cv_figure(const Job& job, const std::vector<CvEstimate>& estimates,
                     const std::vector<CvSummaryRow>& summary, int npop) {
  write_figure(cv_figure_file_name(job), cv_figure_svg(estimates, summary, npop));
}

void write_gof_figure(const Job& job, const std::vector<GofResult>& results,
                      const std::vector<GofProjection>& projections, int npop) {
  write_figure(gof_figure_file_name(job), gof_figure_svg(results, projections, npop));
}
