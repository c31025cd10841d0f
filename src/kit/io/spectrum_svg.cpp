#include "kit/io/spectrum_svg.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <string_view>

#include "kit/base/text.h"

namespace korven::kit {
namespace {

// The frame around the plot areas, px.
constexpr double kMarginLeft = 80;
constexpr double kMarginRight = 30;
constexpr double kMarginTop = 10;
constexpr double kTitleBand = 26;     // above each plot: the panel's title
constexpr double kTickBand = 28;      // below each plot: the tick numbers
constexpr double kBottomBand = 30;    // below the last panel: the axis name
constexpr double kLabelFont = 11;     // px
constexpr double kLabelHeight = 13;   // px, a label's box
constexpr double kCharWidth = 0.6;    // of the font size: a generous average for sans-serif
constexpr double kHeadroom = 1.25;    // top_value over the tallest peak, room for labels
constexpr double kInactiveHeight = 0.2;  // of the plot's height: an inactive band's dashed mark

double stick_value(const SpectrumStick& s, bool intensities) { return intensities ? s.height : 1.0; }

// The byte length of the UTF-8 sequence at s[i], 0 when it is not one (an
// overlong form, a surrogate, beyond U+10FFFF, or U+FFFE/U+FFFF, which XML
// does not allow).
std::size_t utf8_length(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  std::size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  const unsigned char d = byte(i + 1);
  if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d > 0x9F) || (c == 0xF0 && d < 0x90) || (c == 0xF4 && d > 0x8F)) return 0;
  if (c == 0xEF && d == 0xBF && byte(i + 2) >= 0xBE) return 0;
  return n;
}

// Text as XML character data or an attribute value.
std::string xml_text(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      const std::size_t n = utf8_length(s, i);
      out += n == 0 ? std::string("?") : std::string(s.substr(i, n));
      i += n == 0 ? 1 : n;
      continue;
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
    }
    ++i;
  }
  return out;
}

double text_width(std::string_view s) {
  const auto chars = std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
  return static_cast<double>(chars) * kCharWidth * kLabelFont + 4;
}

void check_picture(const SpectrumPicture& p) {
  if (p.panels.empty()) throw std::invalid_argument("spectrum: no panels");
  if (!(p.fwhm > 0) || !std::isfinite(p.fwhm)) throw std::invalid_argument("spectrum: the FWHM must be positive");
  if (!(p.width > kMarginLeft + kMarginRight + 10) || !(p.panel_height >= 40) || !std::isfinite(p.width) ||
      !std::isfinite(p.panel_height))
    throw std::invalid_argument("spectrum: a picture too small to draw");
  for (const SpectrumPanel& panel : p.panels) {
    for (const SpectrumStick& s : panel.sticks)
      if (!std::isfinite(s.wavenumber) || !std::isfinite(s.height) || s.height < 0)
        throw std::invalid_argument("spectrum: a band at a wavenumber or of a height that is not a finite number >= 0");
    for (double v : panel.observed)
      if (!std::isfinite(v)) throw std::invalid_argument("spectrum: an observed band that is not a finite number");
  }
}

// The range drawn: the picture's, else the bands' widened and rounded out.
void set_range(const SpectrumPicture& p, SpectrumLayout& lay) {
  double lo = INFINITY, hi = -INFINITY;
  for (const SpectrumPanel& panel : p.panels) {
    for (const SpectrumStick& s : panel.sticks) lo = std::min(lo, s.wavenumber), hi = std::max(hi, s.wavenumber);
    for (double v : panel.observed) lo = std::min(lo, v), hi = std::max(hi, v);
  }
  if (lo > hi) lo = 400, hi = 4000;
  const double margin = std::max({0.05 * (hi - lo), 5 * p.fwhm, 50.0});
  lay.low = p.low.value_or(std::max(0.0, std::floor((lo - margin) / 50) * 50));
  lay.high = p.high.value_or(std::ceil((hi + margin) / 50) * 50);
  if (!std::isfinite(lay.low) || !std::isfinite(lay.high) || !(lay.low < lay.high))
    throw std::invalid_argument("spectrum: the range's low end must lie below its high end");
}

// The envelope of one panel sampled at every pixel column and at each stick
// in range, left to right, as (wavenumber, value).
std::vector<std::pair<double, double>> sample_envelope(const SpectrumPicture& p, const SpectrumPanel& panel,
                                                       const SpectrumLayout& lay) {
  std::vector<double> at;
  const auto columns = static_cast<int>(std::ceil(lay.right - lay.left));
  for (int c = 0; c <= columns; ++c) at.push_back(lay.high - (lay.high - lay.low) * c / columns);
  for (const SpectrumStick& s : panel.sticks)
    if (s.ir_active && s.wavenumber >= lay.low && s.wavenumber <= lay.high) at.push_back(s.wavenumber);
  std::sort(at.begin(), at.end(), std::greater<>());
  std::vector<std::pair<double, double>> out;
  for (double v : at) out.emplace_back(v, lorentzian_envelope(panel.sticks, p.fwhm, v, p.intensities));
  return out;
}

bool overlaps(const LabelBox& a, const LabelBox& b) {
  return a.left < b.left + b.width && b.left < a.left + a.width && a.top < b.top + b.height && b.top < a.top + a.height;
}

// Labels of the strongest bands first: each centred over its stick (kept
// inside the plot), as low as the envelope there allows, else raised one
// label height at a time until it overlaps no label placed before; left out
// when it reaches the top of the plot.
std::vector<LabelBox> place_labels(const SpectrumPicture& p, std::size_t index, const SpectrumLayout& lay) {
  const SpectrumPanel& panel = p.panels[index];
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < panel.sticks.size(); ++i) {
    const SpectrumStick& s = panel.sticks[i];
    if (s.ir_active && s.show_label && !s.label.empty() && s.wavenumber >= lay.low && s.wavenumber <= lay.high)
      order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return stick_value(panel.sticks[a], p.intensities) > stick_value(panel.sticks[b], p.intensities);
  });
  const double top = lay.panels[index].top;
  std::vector<LabelBox> placed;
  for (std::size_t i : order) {
    if (static_cast<int>(placed.size()) >= p.labels_per_panel) break;
    const SpectrumStick& s = panel.sticks[i];
    const double w = std::min(text_width(s.label), lay.right - lay.left);
    const double centre = std::clamp(lay.x(s.wavenumber), lay.left + w / 2, lay.right - w / 2);
    const double peak = lorentzian_envelope(panel.sticks, p.fwhm, s.wavenumber, p.intensities);
    for (double bottom = lay.y(index, peak) - 3; bottom - kLabelHeight >= top; bottom -= kLabelHeight) {
      const LabelBox box{i, centre - w / 2, bottom - kLabelHeight, w, kLabelHeight};
      if (std::none_of(placed.begin(), placed.end(), [&](const LabelBox& b) { return overlaps(box, b); })) {
        placed.push_back(box);
        break;
      }
    }
  }
  return placed;
}

std::string number(double v) {
  std::string s = format("%.3f", v);
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

// A tick's number with as many decimals as the step needs.
std::string tick_text(double value, double step) {
  const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  const std::string s = format("%.*f", decimals, value);
  return s.find_first_not_of("-0.") == std::string::npos ? "0" : s;
}

std::string line(double x1, double y1, double x2, double y2, const std::string& attributes) {
  return "<line x1=\"" + number(x1) + "\" y1=\"" + number(y1) + "\" x2=\"" + number(x2) + "\" y2=\"" + number(y2) +
         "\" " + attributes + "/>\n";
}

std::string text(double x, double y, const std::string& content, const std::string& attributes) {
  return "<text x=\"" + number(x) + "\" y=\"" + number(y) + "\" " + attributes + ">" + xml_text(content) + "</text>\n";
}

// The frame of one plot with its ticks on both axes and their numbers.
std::string draw_axes(const SpectrumLayout& lay, std::size_t index) {
  const PanelLayout& pl = lay.panels[index];
  std::string s = "<rect class=\"plot\" x=\"" + number(lay.left) + "\" y=\"" + number(pl.top) + "\" width=\"" +
                  number(lay.right - lay.left) + "\" height=\"" + number(pl.bottom - pl.top) +
                  "\" fill=\"none\" stroke=\"#444\" stroke-width=\"1\"/>\n";
  const double x_step = lay.x_ticks.size() > 1 ? lay.x_ticks[1] - lay.x_ticks[0] : 1;
  for (double v : lay.x_ticks) {
    const double x = lay.x(v);
    s += line(x, pl.bottom, x, pl.bottom + 5, "stroke=\"#444\"");
    s += text(x, pl.bottom + 18, tick_text(v, x_step), "font-size=\"11\" text-anchor=\"middle\"");
  }
  const double y_step = lay.y_ticks.size() > 1 ? lay.y_ticks[1] - lay.y_ticks[0] : 1;
  for (double v : lay.y_ticks) {
    const double y = lay.y(index, v);
    s += line(lay.left - 5, y, lay.left, y, "stroke=\"#444\"");
    s += text(lay.left - 8, y + 4, tick_text(v, y_step), "font-size=\"11\" text-anchor=\"end\"");
  }
  return s;
}

// The envelope, the sticks, the observed markers and the labels of one panel.
std::string draw_bands(const SpectrumPicture& p, const SpectrumLayout& lay, std::size_t index) {
  const SpectrumPanel& panel = p.panels[index];
  const PanelLayout& pl = lay.panels[index];
  std::string s;
  if (!pl.envelope.empty()) {
    s += "<path class=\"envelope\" fill=\"none\" stroke=\"#c0392b\" stroke-width=\"1.2\" d=\"";
    for (std::size_t i = 0; i < pl.envelope.size(); ++i)
      s += (i == 0 ? "M" : " L") + number(pl.envelope[i].x) + "," + number(pl.envelope[i].y);
    s += "\"/>\n";
  }
  for (const SpectrumStick& st : panel.sticks) {
    if (st.wavenumber < lay.low || st.wavenumber > lay.high) continue;
    const double x = lay.x(st.wavenumber);
    if (st.ir_active)
      s += line(x, pl.bottom, x, lay.y(index, stick_value(st, p.intensities)),
                "class=\"stick\" stroke=\"#1f3a93\" stroke-width=\"1.5\"");
    else
      s += line(x, pl.bottom, x, pl.bottom - kInactiveHeight * (pl.bottom - pl.top),
                "class=\"inactive-stick\" stroke=\"#999\" stroke-width=\"1\" stroke-dasharray=\"3,2\"");
  }
  for (double v : panel.observed) {
    if (v < lay.low || v > lay.high) continue;
    const double x = lay.x(v);
    s += "<path class=\"observed\" fill=\"#1e8449\" d=\"M" + number(x) + "," + number(pl.top + 8) + " L" +
         number(x - 4) + "," + number(pl.top + 1) + " L" + number(x + 4) + "," + number(pl.top + 1) + " Z\"/>\n";
  }
  for (const LabelBox& b : pl.labels)
    s += text(b.left + b.width / 2, b.top + b.height - 2, panel.sticks[b.stick].label,
              "class=\"label\" font-size=\"11\" text-anchor=\"middle\"");
  return s;
}

}  // namespace

double SpectrumLayout::x(double wavenumber) const { return left + (high - wavenumber) / (high - low) * (right - left); }

double SpectrumLayout::y(std::size_t panel, double value) const {
  const PanelLayout& p = panels.at(panel);
  return p.bottom - value / top_value * (p.bottom - p.top);
}

double lorentzian_envelope(const std::vector<SpectrumStick>& sticks, double fwhm, double wavenumber, bool intensities) {
  const double g2 = 0.25 * fwhm * fwhm;  // (Γ/2)²
  double sum = 0;
  for (const SpectrumStick& s : sticks) {
    if (!s.ir_active) continue;
    const double d = wavenumber - s.wavenumber;
    sum += stick_value(s, intensities) * g2 / (d * d + g2);
  }
  return sum;
}

std::vector<double> round_ticks(double low, double high, int most) {
  if (!(low < high) || !std::isfinite(low) || !std::isfinite(high) || most < 1) return {};
  const double raw = (high - low) / most;
  double step = std::pow(10.0, std::floor(std::log10(raw)) - 1);
  for (int tries = 0; tries < 12; ++tries) {
    for (double f : {1.0, 2.0, 5.0}) {
      const double s = f * step;
      const double first = std::ceil(low / s - 1e-9), last = std::floor(high / s + 1e-9);
      if (last - first + 1 > most) continue;
      std::vector<double> ticks;
      for (double k = first; k <= last; ++k) ticks.push_back(k * s == 0 ? 0.0 : k * s);
      return ticks;
    }
    step *= 10;
  }
  return {};
}

SpectrumLayout lay_out_spectrum(const SpectrumPicture& p) {
  check_picture(p);
  SpectrumLayout lay;
  set_range(p, lay);
  lay.width = p.width;
  lay.left = kMarginLeft;
  lay.right = p.width - kMarginRight;
  const double band = kTitleBand + p.panel_height + kTickBand;
  lay.height = kMarginTop + band * static_cast<double>(p.panels.size()) + kBottomBand;
  double tallest = 0;
  std::vector<std::vector<std::pair<double, double>>> samples;
  for (std::size_t i = 0; i < p.panels.size(); ++i) {
    PanelLayout pl;
    pl.top = kMarginTop + band * static_cast<double>(i) + kTitleBand;
    pl.bottom = pl.top + p.panel_height;
    lay.panels.push_back(pl);
    samples.push_back(sample_envelope(p, p.panels[i], lay));
    for (const auto& [v, value] : samples.back()) tallest = std::max(tallest, value);
    for (const SpectrumStick& s : p.panels[i].sticks)
      if (s.ir_active) tallest = std::max(tallest, stick_value(s, p.intensities));
  }
  lay.top_value = tallest > 0 ? kHeadroom * tallest : 1;
  lay.x_ticks = round_ticks(lay.low, lay.high, std::max(2, static_cast<int>((lay.right - lay.left) / 70)));
  lay.y_ticks = round_ticks(0, lay.top_value, 5);
  for (std::size_t i = 0; i < p.panels.size(); ++i) {
    for (const auto& [v, value] : samples[i]) lay.panels[i].envelope.push_back({lay.x(v), lay.y(i, value)});
    lay.panels[i].labels = place_labels(p, i, lay);
  }
  return lay;
}

std::string spectrum_svg(const SpectrumPicture& picture) {
  const SpectrumLayout lay = lay_out_spectrum(picture);
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n";
  s += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + number(lay.width) + "\" height=\"" +
       number(lay.height) + "\" viewBox=\"0 0 " + number(lay.width) + " " + number(lay.height) +
       "\" font-family=\"DejaVu Sans, Arial, sans-serif\">\n";
  s += "<rect x=\"0\" y=\"0\" width=\"" + number(lay.width) + "\" height=\"" + number(lay.height) + "\" fill=\"white\"/>\n";
  const std::string unit = picture.intensities ? "intensity / km/mol" : "relative intensity";
  for (std::size_t i = 0; i < lay.panels.size(); ++i) {
    const PanelLayout& pl = lay.panels[i];
    s += "<g class=\"panel\">\n";
    s += text(lay.left, pl.top - 8, picture.panels[i].title, "class=\"title\" font-size=\"13\" font-weight=\"bold\"");
    s += draw_axes(lay, i);
    s += draw_bands(picture, lay, i);
    const double mid = (pl.top + pl.bottom) / 2;
    s += text(18, mid, unit,
              "class=\"unit\" font-size=\"11\" text-anchor=\"middle\" transform=\"rotate(-90 18 " + number(mid) + ")\"");
    s += "</g>\n";
  }
  s += text((lay.left + lay.right) / 2, lay.height - 10, "wavenumber / cm-1",
            "class=\"axis-name\" font-size=\"12\" text-anchor=\"middle\"");
  s += "</svg>\n";
  return s;
}

}  // namespace korven::kit
