// An infrared spectrum as an SVG 1.1 picture: one panel per isotopologue on
// a common wavenumber axis drawn from high to low, as spectra are drawn,
// with a stick at each band, a Lorentzian envelope summed over the sticks,
// markers at observed band positions, round-numbered ticks, the units, and
// the labels of the strongest bands placed so that none overlaps another.
// A pure function of plain data: the caller writes the text (atomically).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace korven::kit {

struct SpectrumStick {
  double wavenumber = 0;  // cm⁻¹
  double height = 0;      // ≥ 0, km/mol; ignored in a picture without intensities
  std::string label;      // e.g. "ν3 B2"; UTF-8
  bool ir_active = true;  // an inactive band is drawn faint and dashed, outside the envelope
  bool show_label = true; // a candidate for a label
};

struct SpectrumPanel {
  std::string title;                // e.g. the mass set's name
  std::vector<SpectrumStick> sticks;
  std::vector<double> observed;     // cm⁻¹: markers at the top of the panel
};

struct SpectrumPicture {
  std::vector<SpectrumPanel> panels;
  // With intensities the sticks have their heights in km/mol on one scale
  // for every panel; without, every active stick has height 1 and the axis
  // reads "relative".
  bool intensities = true;
  // The wavenumber range drawn (cm⁻¹). Unset: the bands' and the observed
  // positions' range, widened by the larger of 5 % of it, 5 FWHM and
  // 50 cm⁻¹, and rounded out to multiples of 50 cm⁻¹ (400–4000 with none).
  std::optional<double> low, high;
  double fwhm = 10;          // cm⁻¹, of each band's Lorentzian
  int labels_per_panel = 12; // the most labels placed in one panel
  double width = 900;        // px
  double panel_height = 200; // px, each panel's plot area
};

// A point of the picture, px from its top left corner.
struct SvgPoint {
  double x = 0, y = 0;
};

// A placed label: the box its text takes (px).
struct LabelBox {
  std::size_t stick = 0;  // index into the panel's sticks
  double left = 0, top = 0, width = 0, height = 0;
};

struct PanelLayout {
  double top = 0, bottom = 0;      // px, the plot area's top and bottom edges
  std::vector<SvgPoint> envelope;  // px, left to right; includes a point at each stick in range
  std::vector<LabelBox> labels;
};

// Where everything goes. x runs from `high` at the left edge to `low` at the
// right; a value v of a panel p sits at y(p, v), 0 on the plot's bottom edge
// and top_value on its top edge, the same scale in every panel.
struct SpectrumLayout {
  double width = 0, height = 0;  // px, the whole picture
  double left = 0, right = 0;    // px, the plot areas' sides
  double low = 0, high = 0;      // cm⁻¹
  double top_value = 1;          // km/mol (or relative) at a plot's top edge
  std::vector<double> x_ticks;   // cm⁻¹, round numbers within [low, high]
  std::vector<double> y_ticks;   // round numbers within [0, top_value]
  std::vector<PanelLayout> panels;

  double x(double wavenumber) const;
  double y(std::size_t panel, double value) const;
};

// Σ_k h_k (Γ/2)² / ((ν̃ − ν̃_k)² + (Γ/2)²) over the active sticks, Γ the
// FWHM: each band a Lorentzian whose peak is its stick's height (1 for every
// stick when `intensities` is false), so that the envelope meets a lone
// stick's top.
double lorentzian_envelope(const std::vector<SpectrumStick>& sticks, double fwhm, double wavenumber, bool intensities);

// Round tick values within [low, high]: multiples of 1, 2 or 5 × 10^k, the
// step the smallest such that at most `most` ticks fit.
std::vector<double> round_ticks(double low, double high, int most);

// The layout of the picture. Throws std::invalid_argument for no panels, a
// FWHM that is not positive, a range with low ≥ high, or a wavenumber or
// height that is not finite (or a height below zero).
SpectrumLayout lay_out_spectrum(const SpectrumPicture& picture);

// The SVG document (UTF-8, SVG 1.1, no script, no external reference). Text
// is XML-escaped; control characters and bytes that are not UTF-8 become '?'.
std::string spectrum_svg(const SpectrumPicture& picture);

}  // namespace korven::kit
