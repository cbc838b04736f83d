// SPDX-License-Identifier: GPL-3.0-or-later
// SVG figures (posterior, cross-validation, goodness of fit): well-formed XML with an svg
// root, one pair of panels per population, and drawn by a real renderer (rsvg-convert) at the size
// the file declares.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "posterior/figures.h"
#include "support.h"

namespace {

// Checks the XML of our figures: a declaration, then elements that nest and close properly
// under one <svg> root in the SVG namespace, quoted attributes and no stray '<' or '&'.
// Returns "" or what is wrong.
std::string xml_fault(const std::string& svg) {
  size_t i = 0;
  if (svg.compare(0, 5, "<?xml") == 0) i = svg.find("?>") + 2;
  std::vector<std::string> open;
  bool root_seen = false;
  while (i < svg.size()) {
    if (svg[i] == '&') {
      const size_t semi = svg.find(';', i);
      const std::string entity = svg.substr(i, semi == std::string::npos ? 8 : semi - i + 1);
      if (entity != "&amp;" && entity != "&lt;" && entity != "&gt;" && entity != "&quot;")
        return "bad entity at " + std::to_string(i);
      i = semi + 1;
      continue;
    }
    if (svg[i] != '<') {
      if (open.empty() && !std::isspace(static_cast<unsigned char>(svg[i])))
        return "text outside the root at " + std::to_string(i);
      ++i;
      continue;
    }
    const size_t end = svg.find('>', i);
    if (end == std::string::npos) return "unclosed tag at " + std::to_string(i);
    std::string tag = svg.substr(i + 1, end - i - 1);
    if (tag.find('<') != std::string::npos) return "'<' inside a tag at " + std::to_string(i);
    int quotes = 0;
    for (char c : tag) quotes += c == '"';
    if (quotes % 2) return "unbalanced quotes in <" + tag + ">";
    i = end + 1;
    if (tag[0] == '/') {
      if (open.empty() || open.back() != tag.substr(1)) return "mismatched </" + tag + ">";
      open.pop_back();
      continue;
    }
    const bool empty = tag.back() == '/';
    const std::string name = tag.substr(0, tag.find_first_of(" /\n"));
    if (open.empty()) {
      if (root_seen) return "a second root element";
      if (name != "svg" || tag.find("xmlns=\"http://www.w3.org/2000/svg\"") == std::string::npos)
        return "the root is not an svg element in the SVG namespace";
      root_seen = true;
    }
    if (!empty) open.push_back(name);
  }
  if (!root_seen) return "no root element";
  if (!open.empty()) return "unclosed <" + open.back() + ">";
  return "";
}

int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t i = text.find(what); i != std::string::npos; i = text.find(what, i + 1)) ++n;
  return n;
}

double attribute(const std::string& svg, const std::string& name) {
  const size_t at = svg.find(" " + name + "=\"");
  return at == std::string::npos ? NAN : std::stod(svg.substr(at + name.size() + 3));
}

// Renders with rsvg-convert; returns "" or the failure. Skips (via the flag) without it.
std::string render(const std::string& svg, const TempDir& dir, bool* skipped) {
  *skipped = run_shell("command -v rsvg-convert", dir.path()).status != 0;
  if (*skipped) return "";
  write_file(dir.file("figure.svg"), svg);
  CommandResult r = run_shell("rsvg-convert -o figure.png figure.svg", dir.path());
  if (r.status != 0) return "rsvg-convert failed: " + r.err;
  const std::string png = read_file(dir.file("figure.png"));
  if (png.size() < 24 || png.compare(1, 3, "PNG") != 0) return "no PNG written";
  // The IHDR chunk: width and height, big-endian, at bytes 16 and 20.
  auto be32 = [&png](size_t at) -> unsigned {
    return (static_cast<unsigned char>(png[at]) << 24) |
           (static_cast<unsigned char>(png[at + 1]) << 16) |
           (static_cast<unsigned char>(png[at + 2]) << 8) | static_cast<unsigned char>(png[at + 3]);
  };
  if (be32(16) != static_cast<unsigned>(std::lround(attribute(svg, "width"))) ||
      be32(20) != static_cast<unsigned>(std::lround(attribute(svg, "height"))))
    return "rendered at another size than declared";
  return "";
}

// A posterior sample of n values near `centre`.
std::vector<float> sample_near(double centre, int n, FixtureUniform& u) {
  std::vector<float> v(n);
  for (float& x : v)
    x = static_cast<float>(std::min(1.0, std::max(0.0, centre + 0.2 * (u() - 0.5))));
  return v;
}

}  // namespace

TEST(Figures, PosteriorFigureIsWellFormedAndRendersFrom1To60Populations) {
  FixtureUniform u{12345};
  for (int npop : {1, 4, 60}) {
    SCOPED_TRACE(npop);
    std::vector<std::vector<float>> reg, noreg, reg2, noreg2;
    for (int k = 0; k < npop; ++k) {
      const double c = (k + 0.5) / npop;
      reg.push_back(sample_near(c, 300, u));
      noreg.push_back(sample_near(c, 300, u));
      reg2.push_back(sample_near(1 - c, 300, u));
      noreg2.push_back(sample_near(1 - c, 300, u));
    }
    // The bounds themselves, and a sample without spread, must draw too.
    reg[0][0] = 0.0f;
    reg[0][1] = 1.0f;
    std::fill(noreg2[npop - 1].begin(), noreg2[npop - 1].end(), 0.3f);
    const std::string svg = posterior_figure_svg(reg, noreg, reg2, noreg2, 0.95);
    EXPECT_EQ(xml_fault(svg), "");
    EXPECT_EQ(count_of(svg, "<polyline"), 4 * npop);  // two densities in each of 2J panels
    EXPECT_NE(svg.find("Population " + std::to_string(npop) + ": Fst"), std::string::npos);
    EXPECT_NE(svg.find("95% HPDI"), std::string::npos);
    // A grid that grows in both directions: sixty populations stay within a few screens.
    EXPECT_LE(attribute(svg, "width"), 3000);
    EXPECT_LE(attribute(svg, "height"), 2600);
    EXPECT_EQ(svg.find("nan"), std::string::npos);
    TempDir dir;
    bool skipped = false;
    EXPECT_EQ(render(svg, dir, &skipped), "");
    if (skipped) GTEST_SKIP() << "rsvg-convert is not installed (scripts/setup.sh installs it)";
  }
}

TEST(Figures, CrossValidationFigureIsWellFormedAndRenders) {
  std::vector<CvEstimate> e;
  for (int pod = 1; pod <= 30; ++pod)
    for (int parameter = 0; parameter < 4; ++parameter) {
      CvEstimate x;
      x.pod = pod;
      x.parameter = parameter;
      x.truth = pod / 31.0;
      x.mean_adjusted = pod == 3 ? NAN : 0.5 + 0.3 * (x.truth - 0.5);  // failed fits
      x.mean_unadjusted = 0.5;
      e.push_back(x);
    }
  CvSummaryRow fis, fst;
  fis.label = "Fis";
  fst.label = "Fst";
  const std::string svg = cv_figure_svg(e, {fis, fst}, 2);
  EXPECT_EQ(xml_fault(svg), "");
  // Every unadjusted estimate, every adjusted one but pod 3's four, and the legend's dots.
  EXPECT_EQ(count_of(svg, "<circle"), 120 + 116 + 2);
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  TempDir dir;
  bool skipped = false;
  EXPECT_EQ(render(svg, dir, &skipped), "");
  if (skipped) GTEST_SKIP() << "rsvg-convert is not installed (scripts/setup.sh installs it)";
}

TEST(Figures, GoodnessOfFitFigureIsWellFormedAndRendersFrom1To60Populations) {
  FixtureUniform u{4242};
  for (int npop : {1, 4, 60}) {
    SCOPED_TRACE(npop);
    std::vector<GofResult> results;
    for (int fst = 0; fst < 2; ++fst)
      for (int k = 0; k < npop; ++k) {
        GofResult r;
        r.label = (fst ? "Fst" : "Fis") + std::to_string(k + 1);
        r.population = k;
        r.fst = fst == 1;
        for (int i = 0; i < 50; ++i) r.null.push_back(0.1 + 0.2 * u());
        // Inside the null, far beyond it, and on a null without spread.
        r.observed = k % 3 == 0 ? 0.2 : k % 3 == 1 ? 3.0 : 0.1;
        if (k % 3 == 2) std::fill(r.null.begin(), r.null.end(), 0.1);
        r.p_value = 0.5;
        results.push_back(r);
      }
    // One projection per population and set up to 8 populations, else one per set.
    std::vector<GofProjection> projections(npop <= 8 ? 2 * npop : 2);
    for (GofProjection& g : projections) {
      g.title = "projection";
      for (int i = 0; i < 300; ++i) {
        g.x.push_back(4 * u() - 2);
        g.y.push_back(u() - 0.5);
      }
      g.observed_x = 5;
      g.share_1 = 0.4;
      g.share_2 = 0.2;
    }
    const std::string svg = gof_figure_svg(results, projections, npop);
    EXPECT_EQ(xml_fault(svg), "");
    EXPECT_NE(svg.find("Population " + std::to_string(npop) + ": Fst (p = 0.5)"),
              std::string::npos);
    // The observed D of every histogram, and every projection's points and observed point
    // (plus the legend's two dots).
    EXPECT_EQ(count_of(svg, "stroke=\"#c8102e\""), 2 * npop + 1);
    EXPECT_EQ(count_of(svg, "<circle"), static_cast<int>(projections.size()) * 301 + 2);
    EXPECT_LE(attribute(svg, "width"), 3000);
    EXPECT_LE(attribute(svg, "height"), 2600);
    EXPECT_EQ(svg.find("nan"), std::string::npos);
    TempDir dir;
    bool skipped = false;
    EXPECT_EQ(render(svg, dir, &skipped), "");
    if (skipped) GTEST_SKIP() << "rsvg-convert is not installed (scripts/setup.sh installs it)";
  }
}

TEST(Figures, TheCheckerCatchesBrokenXml) {
  const char* const broken[] = {
      "<svg xmlns=\"http://www.w3.org/2000/svg\"><g></svg>",
      "<svg xmlns=\"http://www.w3.org/2000/svg\"><text>a < b</text></svg>",
      "<svg xmlns=\"http://www.w3.org/2000/svg\"><text>R&D</text></svg>",
      "<svg><rect/></svg>",
      "<svg xmlns=\"http://www.w3.org/2000/svg\"><rect x=\"1/></svg>",
  };
  for (const char* b : broken) {
    SCOPED_TRACE(b);
    EXPECT_NE(xml_fault(b), "");
  }
  EXPECT_EQ(xml_fault("<svg xmlns=\"http://www.w3.org/2000/svg\"><text>R&amp;D</text></svg>"), "");
}
