// The infrared spectrum picture: the envelope drawn is the Lorentzian sum
// computed here, the axis runs from high to low wavenumber, the ticks are
// round, labels do not overlap, text is escaped, and the document is one
// that xmllint accepts and rsvg-convert renders.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "kit/io/spectrum_svg.h"
#include "kit_test_support.h"

namespace korven::kit {
namespace {

namespace fs = std::filesystem;

// Σ_k h_k / (1 + (2(ν̃ − ν̃_k)/Γ)²) over the IR-active sticks: a Lorentzian of
// FWHM Γ whose peak is h_k, written in its other common form.
double lorentz_sum(const SpectrumPanel& panel, double fwhm, double at, bool intensities) {
  double sum = 0;
  for (const SpectrumStick& s : panel.sticks) {
    if (!s.ir_active) continue;
    const double u = 2 * (at - s.wavenumber) / fwhm;
    sum += (intensities ? s.height : 1.0) / (1 + u * u);
  }
  return sum;
}

bool have_tools() { return std::system("command -v xmllint >/dev/null 2>&1 && command -v rsvg-convert >/dev/null 2>&1") == 0; }

SpectrumPicture water_like() {
  SpectrumPicture p;
  p.panels.push_back({"H2O", {{1595, 72, "ν2 A1", true, true}, {3657, 5, "ν1 A1", true, true}, {3756, 45, "ν3 B2", true, true}}, {}});
  p.panels.push_back({"D2O", {{1178, 40, "ν2 A1", true, true}, {2671, 3, "ν1 A1", true, true}, {2788, 28, "ν3 B2", true, true}},
                      {1178.4, 2671.6, 2787.7}});
  return p;
}

SpectrumPicture crowded() {
  SpectrumPicture p;
  SpectrumPanel panel{"crowded <&> \"title\"", {}, {1003, 1011}};
  for (int k = 0; k < 9; ++k)
    panel.sticks.push_back({1000 + 4.0 * k, 10.0 + k, "ν" + std::to_string(k + 1) + " E'", true, true});
  panel.sticks.push_back({1500, 0, "ν10 A2'", false, true});
  p.panels.push_back(panel);
  p.fwhm = 6;
  return p;
}

SpectrumPicture without_intensities() {
  SpectrumPicture p = water_like();
  p.intensities = false;
  for (SpectrumPanel& panel : p.panels) {
    panel.sticks[1].ir_active = false;
    for (SpectrumStick& s : panel.sticks) s.height = 0;
  }
  return p;
}

SpectrumPicture narrow_range() {
  SpectrumPicture p = water_like();
  p.low = 1000, p.high = 2000;  // most bands fall outside
  p.fwhm = 25;
  return p;
}

SpectrumPicture odd_text() {
  SpectrumPicture p;
  // An invalid byte, a control character and an overlong form among the text.
  p.panels.push_back({std::string("bad \xff byte \x01 and \xc0\xaf"), {{2000, 1, "a<b & c>d", true, true}}, {}});
  return p;
}

struct PictureCase {
  const char* name;
  SpectrumPicture (*picture)();
};

class SpectrumPictures : public ::testing::TestWithParam<PictureCase> {};

TEST_P(SpectrumPictures, TheEnvelopeAtEachStickIsTheLorentzianSum) {
  const SpectrumPicture p = GetParam().picture();
  const SpectrumLayout lay = lay_out_spectrum(p);
  ASSERT_EQ(lay.panels.size(), p.panels.size());
  int checked = 0;
  for (std::size_t i = 0; i < p.panels.size(); ++i) {
    const PanelLayout& pl = lay.panels[i];
    for (const SpectrumStick& s : p.panels[i].sticks) {
      const double want = lorentz_sum(p.panels[i], p.fwhm, s.wavenumber, p.intensities);
      EXPECT_NEAR(lorentzian_envelope(p.panels[i].sticks, p.fwhm, s.wavenumber, p.intensities), want, 1e-12 * (1 + want));
      if (!s.ir_active || s.wavenumber < lay.low || s.wavenumber > lay.high) continue;
      // The drawn path has a point at the stick, at the height of the sum on
      // the panel's scale: bottom − value / top_value · (bottom − top).
      const double x = pl.bottom - want / lay.top_value * (pl.bottom - pl.top);
      bool found = false;
      for (const SvgPoint& q : pl.envelope)
        if (std::abs(q.x - lay.x(s.wavenumber)) < 1e-9 && std::abs(q.y - x) < 1e-9) found = true;
      EXPECT_TRUE(found) << p.panels[i].title << " " << s.wavenumber;
      ++checked;
    }
    // The path runs left to right.
    for (std::size_t k = 1; k < pl.envelope.size(); ++k) EXPECT_GE(pl.envelope[k].x, pl.envelope[k - 1].x);
  }
  EXPECT_GT(checked, 0);
}

TEST_P(SpectrumPictures, TheAxisRunsFromHighToLowWithRoundTicks) {
  const SpectrumPicture p = GetParam().picture();
  const SpectrumLayout lay = lay_out_spectrum(p);
  EXPECT_LT(lay.x(lay.high - 1), lay.x(lay.low + 1));
  EXPECT_DOUBLE_EQ(lay.x(lay.high), lay.left);
  EXPECT_DOUBLE_EQ(lay.x(lay.low), lay.right);
  ASSERT_GE(lay.x_ticks.size(), 2u);
  for (std::size_t k = 1; k < lay.x_ticks.size(); ++k) EXPECT_GT(lay.x(lay.x_ticks[k - 1]), lay.x(lay.x_ticks[k]));
  if (!p.low) {
    // Every band and observed position lies inside the default range.
    for (const SpectrumPanel& panel : p.panels) {
      for (const SpectrumStick& s : panel.sticks) EXPECT_TRUE(s.wavenumber > lay.low && s.wavenumber < lay.high);
      for (double v : panel.observed) EXPECT_TRUE(v > lay.low && v < lay.high);
    }
  }
}

TEST_P(SpectrumPictures, LabelsStayInsideThePlotAndDoNotOverlap) {
  const SpectrumPicture p = GetParam().picture();
  const SpectrumLayout lay = lay_out_spectrum(p);
  for (std::size_t i = 0; i < lay.panels.size(); ++i) {
    const std::vector<LabelBox>& boxes = lay.panels[i].labels;
    for (std::size_t a = 0; a < boxes.size(); ++a) {
      EXPECT_GE(boxes[a].left, lay.left - 1e-9);
      EXPECT_LE(boxes[a].left + boxes[a].width, lay.right + 1e-9);
      EXPECT_GE(boxes[a].top, lay.panels[i].top - 1e-9);
      for (std::size_t b = a + 1; b < boxes.size(); ++b) {
        const bool apart = boxes[a].left + boxes[a].width <= boxes[b].left || boxes[b].left + boxes[b].width <= boxes[a].left ||
                           boxes[a].top + boxes[a].height <= boxes[b].top || boxes[b].top + boxes[b].height <= boxes[a].top;
        EXPECT_TRUE(apart) << "labels " << boxes[a].stick << " and " << boxes[b].stick;
      }
    }
  }
}

TEST_P(SpectrumPictures, TheDocumentIsWellFormedAndRenders) {
  const SpectrumPicture p = GetParam().picture();
  const std::string svg = spectrum_svg(p);
  EXPECT_NE(svg.find("wavenumber / cm-1"), std::string::npos);
  EXPECT_NE(svg.find(p.intensities ? "km/mol" : "relative"), std::string::npos);
  for (unsigned char c : svg) EXPECT_TRUE(c >= 0x20 || c == '\n') << static_cast<int>(c);
  if (!have_tools()) GTEST_SKIP() << "xmllint or rsvg-convert is not installed";
  testing::TempDir dir;
  testing::spill(dir / "s.svg", svg);
  const std::string checks = "cd '" + dir.path().string() + "' && xmllint --noout s.svg && rsvg-convert -o s.png s.svg";
  EXPECT_EQ(std::system(checks.c_str()), 0) << svg;
  EXPECT_TRUE(fs::exists(dir / "s.png") && fs::file_size(dir / "s.png") > 0);
}

INSTANTIATE_TEST_SUITE_P(Pictures, SpectrumPictures,
                         ::testing::Values(PictureCase{"water_two_panels_observed", water_like},
                                           PictureCase{"crowded_bands_and_an_inactive_one", crowded},
                                           PictureCase{"without_intensities", without_intensities},
                                           PictureCase{"a_range_that_cuts_bands_off", narrow_range},
                                           PictureCase{"text_to_escape", odd_text}),
                         [](const ::testing::TestParamInfo<PictureCase>& info) { return std::string(info.param.name); });

TEST(SpectrumSvg, TextIsEscapedAndBadBytesReplaced) {
  const std::string svg = spectrum_svg(odd_text());
  EXPECT_NE(svg.find("a&lt;b &amp; c&gt;d"), std::string::npos);
  EXPECT_NE(svg.find("bad ? byte ? and ??"), std::string::npos) << svg;
  const std::string crowd = spectrum_svg(crowded());
  EXPECT_NE(crowd.find("crowded &lt;&amp;&gt; &quot;title&quot;"), std::string::npos);
  EXPECT_NE(crowd.find("ν1 E&apos;"), std::string::npos);  // UTF-8 kept as it is
}

TEST(SpectrumSvg, WithoutIntensitiesActiveSticksHaveEqualHeight) {
  const SpectrumPicture p = without_intensities();
  const SpectrumLayout lay = lay_out_spectrum(p);
  // Three sticks, one inactive: the envelope at a lone active stick is 1 (its
  // neighbours are over 100 FWHM away), whatever height the data carried.
  EXPECT_NEAR(lorentzian_envelope(p.panels[0].sticks, p.fwhm, 1595, false), lorentz_sum(p.panels[0], p.fwhm, 1595, false),
              1e-12);
  EXPECT_NEAR(lorentzian_envelope(p.panels[0].sticks, p.fwhm, 1595, false), 1.0, 1e-3);
  EXPECT_NEAR(lorentzian_envelope(p.panels[0].sticks, p.fwhm, 3657, false), lorentz_sum(p.panels[0], p.fwhm, 3657, false),
              1e-12);
  EXPECT_GT(lay.top_value, 1.0);
}

struct TickCase {
  const char* name;
  double low, high;
  int most;
  double step;  // expected spacing
};

class RoundTicks : public ::testing::TestWithParam<TickCase> {};

TEST_P(RoundTicks, AreMultiplesOfOneTwoOrFiveTimesAPowerOfTen) {
  const TickCase& c = GetParam();
  const std::vector<double> t = round_ticks(c.low, c.high, c.most);
  ASSERT_GE(t.size(), 2u);
  EXPECT_LE(static_cast<int>(t.size()), c.most);
  EXPECT_NEAR(t[1] - t[0], c.step, 1e-9 * c.step);
  for (double v : t) {
    EXPECT_GE(v, c.low - 1e-9);
    EXPECT_LE(v, c.high + 1e-9);
    EXPECT_NEAR(std::round(v / c.step) * c.step, v, 1e-9 * c.step);
  }
  // The first tick is the first multiple of the step at or above low.
  EXPECT_LT(t.front() - c.step, c.low);
}

INSTANTIATE_TEST_SUITE_P(Steps, RoundTicks,
                         ::testing::Values(TickCase{"mid_infrared", 400, 4000, 11, 500},
                                           TickCase{"fingerprint", 950, 1850, 11, 100},
                                           TickCase{"narrow", 1000, 1013, 8, 2},
                                           TickCase{"intensities", 0, 93.75, 5, 20},
                                           TickCase{"small", 0, 0.6, 5, 0.2}),
                         [](const ::testing::TestParamInfo<TickCase>& info) { return std::string(info.param.name); });

TEST(SpectrumSvg, PicturesThatCannotBeDrawnAreRefused) {
  SpectrumPicture none;
  EXPECT_THROW(lay_out_spectrum(none), std::invalid_argument);
  SpectrumPicture p = water_like();
  p.fwhm = 0;
  EXPECT_THROW(lay_out_spectrum(p), std::invalid_argument);
  p = water_like();
  p.low = 3000, p.high = 2000;
  EXPECT_THROW(lay_out_spectrum(p), std::invalid_argument);
  p = water_like();
  p.panels[0].sticks[0].height = -1;
  EXPECT_THROW(lay_out_spectrum(p), std::invalid_argument);
  p = water_like();
  p.panels[1].observed.push_back(NAN);
  EXPECT_THROW(lay_out_spectrum(p), std::invalid_argument);
}

}  // namespace
}  // namespace korven::kit
