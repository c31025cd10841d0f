#include "kit/commands/molecule_view.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <set>
#include <sstream>

#include <openbabel/alias.h>
#include <openbabel/atom.h>
#include <openbabel/mol.h>
#include <openbabel/depict/depict.h>
#include <openbabel/depict/svgpainter.h>

#include "kit/base/constants.h"
#include "kit/base/elements.h"
#include "kit/base/text.h"

namespace korven::kit {
namespace {

// ------------------------------------------------------------------ the view

// Directions spread evenly over the half sphere (a Fibonacci lattice): a
// fixed set, so the same X is always seen from the same side.
std::vector<Vec3> sphere_directions(int count) {
  std::vector<Vec3> out;
  const double golden = kPi * (3 - std::sqrt(5.0));
  for (int i = 0; i < count; ++i) {
    const double z = 1 - (i + 0.5) / count;  // upper half only: a direction and its opposite see alike
    const double r = std::sqrt(1 - z * z);
    out.emplace_back(r * std::cos(golden * i), r * std::sin(golden * i), z);
  }
  return out;
}

double closest_on_screen(const std::vector<Vec3>& x, const Vec3& toward) {
  double best = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < x.size(); ++i)
    for (std::size_t j = i + 1; j < x.size(); ++j) {
      const Vec3 d = x[i] - x[j];
      best = std::min(best, (d - d.dot(toward) * toward).norm());
    }
  return best;
}

// A sign for an axis that does not depend on how a solver returned it: the
// side where the atoms reach farther (the third moment), else the side of
// the largest component.
Vec3 signed_axis(Vec3 axis, const std::vector<Vec3>& centred) {
  double moment = 0;
  for (const Vec3& p : centred) moment += std::pow(p.dot(axis), 3);
  if (std::abs(moment) > 1e-9) return moment > 0 ? axis : Vec3(-axis);
  Eigen::Index k = 0;
  axis.cwiseAbs().maxCoeff(&k);
  return axis(k) >= 0 ? axis : Vec3(-axis);
}

// ---------------------------------------------------------------- the words

// Printable ASCII only: a title card may hold any byte, the SVG must stay
// well-formed UTF-8.
std::string printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) out += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string xml_escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

// ------------------------------------------------------------- the painting

// Passes everything to Open Babel's SVG painter but the radical dots its
// depiction adds to atoms with fewer bonds than their usual valence: the
// bonds drawn are the deck's stretches, not a chemical structure, so the
// dots would only mislead. Records the canvas size.
class DeckPainter : public OpenBabel::OBPainter {
 public:
  explicit DeckPainter(OpenBabel::SVGPainter& inner) : inner_(inner) {}
  void NewCanvas(double width, double height) override {
    width_ = width;
    height_ = height;
    inner_.NewCanvas(width, height);
  }
  bool IsGood() const override { return inner_.IsGood(); }
  void SetFontFamily(const std::string& family) override { inner_.SetFontFamily(family); }
  void SetFontSize(int size) override { inner_.SetFontSize(size); }
  void SetFillColor(const OpenBabel::OBColor& c) override { inner_.SetFillColor(c); }
  void SetFillRadial(const OpenBabel::OBColor& a, const OpenBabel::OBColor& b) override { inner_.SetFillRadial(a, b); }
  void SetPenColor(const OpenBabel::OBColor& c) override { inner_.SetPenColor(c); }
  void SetPenWidth(double w) override { inner_.SetPenWidth(w); }
  double GetPenWidth() override { return inner_.GetPenWidth(); }
  void DrawLine(double x1, double y1, double x2, double y2, const std::vector<double>& dashes) override {
    inner_.DrawLine(x1, y1, x2, y2, dashes);
  }
  void DrawCircle(double x, double y, double r) override { inner_.DrawCircle(x, y, r); }
  void DrawPolygon(const std::vector<std::pair<double, double>>& points) override { inner_.DrawPolygon(points); }
  void DrawBall(double x, double y, double r, double opacity) override { inner_.DrawBall(x, y, r, opacity); }
  void DrawText(double x, double y, const std::string& text) override {
    if (text.empty() || text.find_first_not_of('.') == std::string::npos) return;
    inner_.DrawText(x, y, text);
  }
  OpenBabel::OBFontMetrics GetFontMetrics(const std::string& text) override { return inner_.GetFontMetrics(text); }
  double width() const { return width_; }
  double height() const { return height_; }

 private:
  OpenBabel::SVGPainter& inner_;
  double width_ = 0, height_ = 0;
};

constexpr double kAtomFont = 16;    // Open Babel's label size
constexpr int kNumberFont = 12;     // the deck numbers
constexpr int kPanelFont = 13;      // the words beside the drawing
constexpr double kPanelChar = 0.61;  // a monospace character's width, in font sizes
constexpr double kMinScreenGap = 40;  // px between the two closest atoms
constexpr double kMaxExtent = 1600;   // px: the drawing's largest side

double distance_to_segment(const Eigen::Vector2d& p, const Eigen::Vector2d& a, const Eigen::Vector2d& b) {
  const Eigen::Vector2d ab = b - a;
  const double len2 = ab.squaredNorm();
  const double t = len2 > 0 ? std::clamp((p - a).dot(ab) / len2, 0.0, 1.0) : 0.0;
  return (p - (a + t * ab)).norm();
}

struct Drawing {
  std::string svg;
  double width = 0, height = 0;
};

// The atoms on the screen (Å, y up), the extent they cover and the scale
// (px per Å): bonds of a usual length, the closest atoms far enough apart
// for their labels, the whole not larger than kMaxExtent.
struct Projection {
  std::vector<Eigen::Vector2d> flat;
  double lo_x = 0, hi_x = 0, lo_y = 0, hi_y = 0;
  double scale = 60;
};

Projection project(const MoleculePicture& pic) {
  const int n = static_cast<int>(pic.x.size());
  Vec3 centroid = Vec3::Zero();
  for (const Vec3& p : pic.x) centroid += p;
  centroid /= n;
  const ViewFrame frame = choose_view(pic.x);
  Projection out;
  for (const Vec3& x : pic.x) {
    const Vec3 p = x - centroid;
    out.flat.emplace_back(p.dot(frame.right), p.dot(frame.up));
    out.lo_x = std::min(out.lo_x, out.flat.back().x()), out.hi_x = std::max(out.hi_x, out.flat.back().x());
    out.lo_y = std::min(out.lo_y, out.flat.back().y()), out.hi_y = std::max(out.hi_y, out.flat.back().y());
  }
  if (n > 1 && frame.closest > 0) out.scale = std::max(out.scale, kMinScreenGap / frame.closest);
  const double extent = std::max(out.hi_x - out.lo_x, out.hi_y - out.lo_y);
  if (extent > 0) out.scale = std::min(out.scale, kMaxExtent / extent);
  return out;
}

// The molecule for Open Babel's depiction: the atoms where the projection
// puts them, a bond per stretch, and each atom's symbol as its label (an
// alias, so that the depiction writes neither implicit hydrogens nor
// charges beside it).
void fill_molecule(OpenBabel::OBMol& mol, const MoleculePicture& pic, const Projection& pr) {
  const int n = static_cast<int>(pic.x.size());
  mol.BeginModify();
  for (int a = 0; a < n; ++a) {
    OpenBabel::OBAtom* atom = mol.NewAtom();
    atom->SetAtomicNum(std::max(0, element_number(pic.symbols[a])));
    atom->SetVector(pr.flat[a].x() * pr.scale, pr.flat[a].y() * pr.scale, 0);
  }
  for (const auto& [i, j] : pic.bonds) mol.AddBond(i, j, 1);
  mol.EndModify();
  mol.SetDimension(2);
  for (int a = 0; a < n; ++a) {
    auto* alias = new OpenBabel::AliasData;
    alias->SetAlias(pic.symbols[a]);
    alias->SetOrigin(OpenBabel::fileformatInput);
    mol.GetAtom(a + 1)->SetData(alias);
  }
}

void depict(OpenBabel::OBDepict& depiction, OpenBabel::OBMol& mol, const MoleculePicture& pic, const Projection& pr) {
  double mean_bond = 0;
  for (const auto& [i, j] : pic.bonds) mean_bond += (pr.flat[i - 1] - pr.flat[j - 1]).norm() * pr.scale;
  depiction.SetOption(OpenBabel::OBDepict::bwAtoms | OpenBabel::OBDepict::drawAllC |
                      OpenBabel::OBDepict::allExplicit | OpenBabel::OBDepict::noWedgeHashGen);
  depiction.SetAliasMode(true);
  depiction.SetFontFamily("sans-serif");
  depiction.SetFontSize(static_cast<int>(kAtomFont));
  // The depiction scales the mean bond to the bond length: the mean itself
  // keeps the scale chosen above (no bond: a length of 1 px does).
  depiction.SetBondLength(pic.bonds.empty() ? 1.0 : mean_bond / static_cast<double>(pic.bonds.size()));
  depiction.DrawMolecule(&mol);
}

// Where the depiction put the atoms: its canvas is the drawing's extent
// scaled by f with an equal margin m on every side, y downwards. Nothing
// when the canvas is not one of that shape.
std::optional<std::vector<Eigen::Vector2d>> placed_atoms(const Projection& pr, const DeckPainter& painter) {
  const double sx = (pr.hi_x - pr.lo_x) * pr.scale, sy = (pr.hi_y - pr.lo_y) * pr.scale;
  double f = 1;
  if (std::abs(sx - sy) > 1) f = (painter.width() - painter.height()) / (sx - sy);
  const double m = (painter.width() - sx * f) / 2;
  if (!(f > 0 && m >= 0 && std::abs(painter.height() - (sy * f + 2 * m)) < 1)) return std::nullopt;
  std::vector<Eigen::Vector2d> at;
  for (const Eigen::Vector2d& p : pr.flat)
    at.emplace_back((p.x() * pr.scale - pr.lo_x * pr.scale) * f + m, (pr.hi_y * pr.scale - p.y() * pr.scale) * f + m);
  return at;
}

// The deck numbers beside the atoms, each where it is farthest from atoms,
// bonds and the numbers placed before it.
void place_atom_numbers(DeckPainter& painter, const std::vector<Eigen::Vector2d>& at,
                        const std::vector<std::pair<int, int>>& bonds) {
  const int n = static_cast<int>(at.size());
  std::vector<Eigen::Vector2d> labels;
  painter.SetFontSize(kNumberFont);
  painter.SetPenColor(OpenBabel::OBColor(0.0, 0.2, 0.75));
  painter.SetFillColor(OpenBabel::OBColor(0.0, 0.2, 0.75));
  for (int a = 0; a < n; ++a) {
    const std::string number = std::to_string(a + 1);
    Eigen::Vector2d best = at[a];
    double best_room = -1;
    for (int k = 0; k < 8; ++k) {
      const double angle = -kPi / 4 + k * kPi / 4;  // upper right first, then round
      const Eigen::Vector2d c = at[a] + 15.0 * Eigen::Vector2d(std::cos(angle), -std::sin(angle));
      double room = 1e9;
      for (int b = 0; b < n; ++b) room = std::min(room, (c - at[b]).norm() - (b == a ? 7.0 : 0.0));
      for (const auto& [i, j] : bonds) room = std::min(room, distance_to_segment(c, at[i - 1], at[j - 1]));
      for (const Eigen::Vector2d& l : labels) room = std::min(room, (c - l).norm() - 4.0);
      if (room > best_room + 0.5) best_room = room, best = c;
    }
    labels.push_back(best);
    const double w = 0.56 * kNumberFont * static_cast<double>(number.size());
    painter.DrawText(best.x() - w / 2, best.y() + 0.36 * kNumberFont, number);
  }
}

// The molecule by Open Babel's depiction, on screen coordinates in px, with
// the deck numbers beside the atoms.
Drawing draw_molecule(const MoleculePicture& pic) {
  std::ostringstream out;
  OpenBabel::SVGPainter svg(out, nullptr, false, 0, 0);
  DeckPainter painter(svg);
  if (pic.x.empty()) {
    painter.NewCanvas(160, 80);
    svg.EndCanvas();
    return {out.str(), 160, 80};
  }
  const Projection pr = project(pic);
  OpenBabel::OBMol mol;
  fill_molecule(mol, pic, pr);
  OpenBabel::OBDepict depiction(&painter);
  depict(depiction, mol, pic, pr);
  if (const auto at = placed_atoms(pr, painter)) {
    place_atom_numbers(painter, *at, pic.bonds);
  } else {
    // Another depiction than the one measured: its own index labels.
    depiction.AddAtomLabels(OpenBabel::OBDepict::AtomIndex);
  }
  svg.EndCanvas();
  return {out.str(), painter.width(), painter.height()};
}

std::string number_text(double v) {
  char s[32];
  std::snprintf(s, sizeof s, "%.1f", v);
  return s;
}

}  // namespace

ViewFrame choose_view(const std::vector<Vec3>& x) {
  ViewFrame frame;
  if (x.size() < 2) {
    frame.closest = 0;
    return frame;
  }
  Vec3 centroid = Vec3::Zero();
  for (const Vec3& p : x) centroid += p;
  centroid /= static_cast<double>(x.size());
  std::vector<Vec3> centred;
  Mat3 spread = Mat3::Zero();
  for (const Vec3& p : x) {
    centred.push_back(p - centroid);
    spread += centred.back() * centred.back().transpose();
  }
  const Eigen::SelfAdjointEigenSolver<Mat3> principal(spread);
  std::vector<Vec3> candidates;
  for (int k = 0; k < 3; ++k) candidates.push_back(signed_axis(principal.eigenvectors().col(k), centred));
  for (const Vec3& v : sphere_directions(400)) candidates.push_back(v);
  std::vector<double> gaps;
  double best = 0;
  for (const Vec3& c : candidates) {
    gaps.push_back(closest_on_screen(x, c));
    best = std::max(best, gaps.back());
  }
  std::size_t pick = 0;
  while (pick + 1 < candidates.size() && gaps[pick] < 0.9 * best) ++pick;
  frame.toward = candidates[pick].normalized();
  frame.closest = gaps[pick];

  // On the screen: right along the widest spread of the projected atoms.
  const Mat3 onto = Mat3::Identity() - frame.toward * frame.toward.transpose();
  const Mat3 flat = onto * spread * onto;
  const Eigen::SelfAdjointEigenSolver<Mat3> screen(flat);
  Vec3 right = screen.eigenvectors().col(2);
  if (screen.eigenvalues()(2) < 1e-12) {
    // Every atom on the line of sight cannot happen for two distinct atoms
    // once the best direction is taken; any axis across it will do.
    right = frame.toward.unitOrthogonal();
  }
  right = (right - right.dot(frame.toward) * frame.toward).normalized();
  frame.right = signed_axis(right, centred);
  frame.up = frame.toward.cross(frame.right);
  return frame;
}

MoleculePicture picture_of(const ProblemView& v, const std::string& run_note) {
  const DeckProblem& p = v.deck;
  MoleculePicture pic;
  pic.heading = printable(v.deck_name) + ", problem " + std::to_string(v.position) + " (number " +
                std::to_string(p.number) + ")";
  pic.titles = {printable(p.title1), printable(p.title2)};
  pic.x = p.x;
  pic.symbols = v.symbols;
  const int n = static_cast<int>(p.x.size());
  std::set<std::pair<int, int>> bonds;
  for (const CoordinateEntry& e : p.entries)
    if (((e.no > 0 && e.code <= 1) || (e.no == 0 && e.code == 1)) && e.i >= 1 && e.i <= n && e.j >= 1 &&
        e.j <= n && e.i != e.j)
      bonds.insert({std::min(e.i, e.j), std::max(e.i, e.j)});
  pic.bonds.assign(bonds.begin(), bonds.end());
  for (const DeckRow& row : v.rows)
    pic.coordinates.push_back(format("%3d  ", row.row) + printable(v.labels[static_cast<std::size_t>(row.row - 1)]));
  if (p.mass_sets.empty()) pic.notes.push_back("no mass set: elements unknown");
  if (p.abandoned || (v.listed && !v.listed->errors.empty())) {
    pic.notes.push_back("KORVEN rejects this problem; drawn from its X matrix");
    if (v.listed)
      for (const std::string& e : v.listed->errors) {
        // The record without its carriage-control 0, its runs of blanks as one.
        std::string line;
        for (char c : printable(e.substr(e.empty() || e[0] != '0' ? 0 : 1)))
          if (c != ' ' || (!line.empty() && line.back() != ' ')) line += c;
        pic.notes.push_back(line);
      }
  }
  if (!run_note.empty()) pic.notes.push_back(printable(run_note));
  if (n > 1 && choose_view(p.x).closest < 1e-4) pic.notes.push_back("two atoms of X coincide");
  return pic;
}

std::string molecule_svg(const MoleculePicture& pic) {
  const Drawing drawing = draw_molecule(pic);

  // The words, painted by a second canvas of the same painter.
  std::vector<std::pair<std::string, OpenBabel::OBColor>> lines;
  const OpenBabel::OBColor black(0.0, 0.0, 0.0), red(0.75, 0.0, 0.0);
  lines.emplace_back(pic.heading, black);
  for (const std::string& t : pic.titles)
    if (!t.empty()) lines.emplace_back(t, black);
  for (const std::string& note : pic.notes) lines.emplace_back(note, red);
  lines.emplace_back("", black);
  lines.emplace_back("Internal coordinates (rows of B):", black);
  for (const std::string& c : pic.coordinates) lines.emplace_back(c, black);
  std::size_t longest = 0;
  for (const auto& l : lines) longest = std::max(longest, l.first.size());
  const double line_height = kPanelFont * 1.45;
  const double panel_width = 24 + kPanelChar * kPanelFont * static_cast<double>(longest);
  const double panel_height = 24 + line_height * static_cast<double>(lines.size());
  std::ostringstream words;
  {
    OpenBabel::SVGPainter painter(words, nullptr, false, 0, 0);
    painter.SetFontFamily("monospace");
    painter.NewCanvas(panel_width, panel_height);
    painter.SetFontSize(kPanelFont);
    double y = 12 + kPanelFont;
    for (const auto& [text, colour] : lines) {
      painter.SetPenColor(colour);
      painter.SetFillColor(colour);
      if (!text.empty()) painter.DrawText(12, y, xml_escaped(text));
      y += line_height;
    }
    painter.EndCanvas();
  }

  const double width = drawing.width + panel_width;
  const double height = std::max(drawing.height, panel_height);
  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" << number_text(width) << "\" height=\""
      << number_text(height) << "\" viewBox=\"0 0 " << number_text(width) << " " << number_text(height) << "\">\n"
      << "<title>" << xml_escaped(pic.heading) << "</title>\n"
      << "<rect x=\"0\" y=\"0\" width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<g>\n"
      << drawing.svg << "</g>\n"
      << "<g transform=\"translate(" << number_text(drawing.width) << ",0)\" xml:space=\"preserve\">\n"
      << words.str() << "</g>\n"
      << "</svg>\n";
  return svg.str();
}

}  // namespace korven::kit
