// Intensities through the commands: a water deck with its isotopologues, a
// Hessian file in a turned frame carrying dipole and polarizability
// derivatives made here from point charges and a chosen tensor; modes'
// reduced masses, IR intensities and Raman activities against the normal
// modes of M^-½ H M^-½ and the formulas written out in the test; the Molden
// files per mass set; and the spectrum's bands, observed markers, range and
// command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include <nlohmann/json.hpp>

#include "kit/base/kit_error.h"
#include "kit/base/text.h"
#include "kit/commands/json_output.h"
#include "kit/commands/modes_report.h"
#include "kit/commands/spectrum_report.h"
#include "kit/io/deck_replay.h"
#include "kit/io/engine_run.h"
#include "kit_test_support.h"
#include "synthetic_hessians.h"

namespace korven::kit {
namespace {

namespace fs = std::filesystem;

// CODATA 2018.
constexpr double kNA = 6.02214076e23, kE = 1.602176634e-19, kEpsilon0 = 8.8541878128e-12, kC = 299792458.0,
                 kU = 1.66053906660e-27, kBohrAngstrom = 0.529177210903;

Mat3 tensor(const Matrix& p, Eigen::Index row) {
  Mat3 t;
  t << p(row, 0), p(row, 1), p(row, 3), p(row, 1), p(row, 2), p(row, 4), p(row, 3), p(row, 4), p(row, 5);
  return t;
}

struct Reference {
  double wavenumber_order = 0;  // λ, to sort by
  double reduced_mass = 0, infrared = 0, raman = 0;
};

// Per vibration, ascending: from the eigenvectors l of M^-½ H M^-½ (the six
// eigenvalues nearest zero left out), μ = 1/|M^-½ l|², the intensity
// N_A/(12 ε₀ c²) |∂μ/∂Q|² in SI and S = 45 a'² + 7 γ'² from the trace form.
std::vector<Reference> reference(const Matrix& h, const std::vector<double>& m, const Matrix& dipole, const Matrix& polar) {
  const Eigen::Index n = h.rows();
  Matrix hm = h;
  for (Eigen::Index i = 0; i < n; ++i)
    for (Eigen::Index j = 0; j < n; ++j) hm(i, j) /= std::sqrt(m[i / 3] * m[j / 3]);
  const Eigen::SelfAdjointEigenSolver<Matrix> solver(hm);
  std::vector<Reference> out;
  for (Eigen::Index k = 0; k < n; ++k) {
    if (std::abs(solver.eigenvalues()(k)) < 1e-6) continue;
    Reference r;
    r.wavenumber_order = solver.eigenvalues()(k);
    Vec3 dmu = Vec3::Zero();
    Mat3 da = Mat3::Zero();
    Vector c(n);
    for (Eigen::Index i = 0; i < n; ++i) {
      const double l = solver.eigenvectors()(i, k);
      c(i) = l / std::sqrt(m[i / 3]);
      dmu += dipole.row(i).transpose() * kE * l / std::sqrt(m[i / 3] * kU);
      da += tensor(polar, i) * l / std::sqrt(m[i / 3]);
    }
    r.reduced_mass = 1 / c.squaredNorm();
    r.infrared = kNA / (12 * kEpsilon0 * kC * kC) * dmu.squaredNorm() / 1000;
    const double a = da.trace() / 3, g2 = (3 * (da * da).trace() - da.trace() * da.trace()) / 2;
    r.raman = (45 * a * a + 7 * g2) * std::pow(kBohrAngstrom, 4);
    out.push_back(r);
  }
  return out;
}

Matrix charge_dipoles(const std::vector<double>& q) {
  Matrix d = Matrix::Zero(static_cast<Eigen::Index>(3 * q.size()), 3);
  for (std::size_t a = 0; a < q.size(); ++a)
    for (int k = 0; k < 3; ++k) d(static_cast<Eigen::Index>(3 * a) + k, k) = q[a];
  return d;
}

// WATER.DAT (H2O, D2O, HDO) and water.fchk, the Hessian of water's force
// field with charge dipoles and a chosen polarizability derivative, written
// in a frame turned and moved from the deck's.
struct TurnedWater {
  testing::TempDir dir;
  Deck deck;
  Matrix hessian, dipole, polar;  // in the deck's frame
  Mat3 r;
  Matrix k;                       // block diagonal of r

  TurnedWater() {
    const testing::ForceFieldMolecule m = testing::water();
    std::ostringstream xyz;
    xyz << "3\nwater\n";
    const char* symbols[] = {"O", "H", "H"};
    for (int a = 0; a < 3; ++a) xyz << symbols[a] << " " << m.x[a].x() << " " << m.x[a].y() << " " << m.x[a].z() << "\n";
    testing::spill(dir / "water.xyz", xyz.str());
    const testing::ProgramRun built = testing::run_korvenkit(
        dir.path(), "build water.xyz -o WATER.DAT --symmetry --isotopologue D2O=2:D,3:D --isotopologue HDO=3:D");
    EXPECT_EQ(built.status, 0) << built.err;
    deck = replay_deck(dir / "WATER.DAT");
    const std::vector<Vec3>& x = deck.problems.at(0).x;
    const Matrix b = testing::b_matrix(x, m.independent);
    hessian = b.transpose() * m.f * b;
    dipole = charge_dipoles({-0.66, 0.33, 0.33});
    polar = Matrix(9, 6);
    for (Eigen::Index i = 0; i < 9; ++i)
      for (Eigen::Index j = 0; j < 6; ++j) polar(i, j) = std::sin(1.3 * static_cast<double>(i) + 0.7 * static_cast<double>(j));
    r = Eigen::AngleAxisd(0.9, Vec3(1, -2, 0.5).normalized()).toRotationMatrix();
    k = Matrix::Zero(9, 9);
    for (Eigen::Index a = 0; a < 9; a += 3) k.block<3, 3>(a, a) = r;
    Matrix pf = polar;
    for (Eigen::Index i = 0; i < 9; ++i) {
      const Mat3 t = r * tensor(polar, i) * r.transpose();
      pf.row(i) << t(0, 0), t(1, 0), t(1, 1), t(2, 0), t(2, 1), t(2, 2);
    }
    testing::Geometry xf = x;
    for (Vec3& p : xf) p = r * p + Vec3(1.0, 0.5, -2.0);
    testing::spill(dir / "water.fchk",
                   testing::fchk_text(m.z, xf, k * hessian * k.transpose(), Matrix(k * dipole * r.transpose()), Matrix(k * pf)));
  }

  // Dipoles of other charges, in the file's frame, as a plain-text file.
  fs::path dipole_file(const std::vector<double>& q) const {
    testing::spill(dir / "dipoles.txt", testing::dipole_text(k * charge_dipoles(q) * r.transpose()));
    return dir / "dipoles.txt";
  }

  Listing listing() const { return run_and_read(dir / "WATER.DAT"); }
};

std::vector<ModeRow> ascending(const MassSetModes& ms) {
  std::vector<ModeRow> rows = ms.modes;
  std::sort(rows.begin(), rows.end(), [](const ModeRow& a, const ModeRow& b) { return a.wavenumber < b.wavenumber; });
  return rows;
}

TEST(ModesIntensities, EveryMassSetAgreesWithTheModesOfTheMassWeightedHessian) {
  const TurnedWater c;
  const Listing listing = c.listing();
  ModesOptions o;
  o.hessian = (c.dir / "water.fchk").string();
  const ModesReport report = analyze_modes(c.deck, listing, o, "WATER.DAT");
  o.dipole_derivatives = c.dipole_file({-0.8, 0.4, 0.4}).string();
  const ModesReport other = analyze_modes(c.deck, listing, o, "WATER.DAT");
  const ProblemModes& p = report.problems.at(0);
  ASSERT_EQ(p.mass_sets.size(), 3u);
  for (std::size_t s = 0; s < 3; ++s) {
    SCOPED_TRACE(p.mass_sets[s].title);
    const std::vector<double>& masses = c.deck.problems[0].mass_sets[s].masses;
    const std::vector<Reference> want = reference(c.hessian, masses, c.dipole, c.polar);
    const std::vector<Reference> want_other = reference(c.hessian, masses, charge_dipoles({-0.8, 0.4, 0.4}), c.polar);
    const std::vector<ModeRow> got = ascending(p.mass_sets[s]), got_other = ascending(other.problems[0].mass_sets[s]);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t m = 0; m < want.size(); ++m) {
      ASSERT_TRUE(got[m].ir_intensity && got[m].raman_activity);
      EXPECT_NEAR(got[m].reduced_mass, want[m].reduced_mass, 1e-4 * want[m].reduced_mass);
      EXPECT_NEAR(*got[m].ir_intensity, want[m].infrared, 1e-3 * want[m].infrared + 1e-6);
      EXPECT_NEAR(*got[m].raman_activity, want[m].raman, 1e-3 * want[m].raman + 1e-6);
      EXPECT_NEAR(*got_other[m].ir_intensity, want_other[m].infrared, 1e-3 * want_other[m].infrared + 1e-6);
      EXPECT_NEAR(got[m].partners.at(0).displacement.norm(), 1.0, 1e-12);
    }
  }
  EXPECT_GT(*ascending(p.mass_sets[0]).front().ir_intensity, 1.0);  // the bend of charged atoms is not dark
}

TEST(ModesIntensities, JsonAndTextCarryTheNewColumns) {
  const TurnedWater c;
  ModesOptions o;
  o.hessian = (c.dir / "water.fchk").string();
  const ModesReport report = analyze_modes(c.deck, c.listing(), o, "WATER.DAT");
  const nlohmann::json j = nlohmann::json::parse(modes_json(report));
  const auto& set = j["problems"][0]["mass_sets"][0];
  ASSERT_TRUE(set.contains("L"));
  EXPECT_EQ(set["L"].size(), static_cast<std::size_t>(report.problems[0].mass_sets[0].l.rows()));
  for (const auto& mode : set["modes"]) {
    EXPECT_TRUE(mode["reduced_mass"].is_number());
    EXPECT_TRUE(mode["force_constant"].is_number());
    EXPECT_TRUE(mode["ir_intensity"].is_number());
    EXPECT_TRUE(mode["raman_activity"].is_number());
    ASSERT_EQ(mode["displacements"].size(), 3u);
    double norm = 0;
    for (const auto& atom : mode["displacements"])
      for (const auto& v : atom) norm += v.get<double>() * v.get<double>();
    EXPECT_NEAR(norm, 1.0, 1e-9);
  }
  const std::string text = modes_text(report, 10);
  EXPECT_NE(text.find("IR km/mol"), std::string::npos);
  EXPECT_NE(text.find(format("%.4f", *report.problems[0].mass_sets[0].modes[0].ir_intensity)), std::string::npos);
}

// The numbers of one section of a Molden file, up to the next '['.
std::vector<double> section(const std::string& text, const std::string& name) {
  std::vector<double> out;
  const auto at = text.find(name);
  if (at == std::string::npos) return out;
  std::istringstream in(text.substr(at + name.size(), text.find('[', at + 1) - at - name.size()));
  for (double v; in >> v;) out.push_back(v);
  return out;
}

TEST(ModesIntensities, OneMoldenFilePerMassSetNamedByItsTitle) {
  const TurnedWater c;
  ModesOptions o;
  o.hessian = (c.dir / "water.fchk").string();
  const ModesReport report = analyze_modes(c.deck, c.listing(), o, "WATER.DAT");
  const std::vector<std::string> files = write_modes_molden(report, (c.dir / "water.molden").string());
  ASSERT_EQ(files.size(), 3u);
  const char* names[] = {"water.H2O.molden", "water.D2O.molden", "water.HDO.molden"};
  for (std::size_t s = 0; s < 3; ++s) {
    EXPECT_EQ(fs::path(files[s]).filename().string(), names[s]);
    const std::string text = testing::slurp(files[s]);
    const MassSetModes& ms = report.problems[0].mass_sets[s];
    const std::vector<double> freq = section(text, "[FREQ]"), intensity = section(text, "[INT]");
    ASSERT_EQ(freq.size(), ms.modes.size());
    ASSERT_EQ(intensity.size(), ms.modes.size());
    for (std::size_t m = 0; m < ms.modes.size(); ++m) {  // ν order, as the report
      EXPECT_NEAR(freq[m], ms.modes[m].wavenumber, 1e-4);
      EXPECT_NEAR(intensity[m], *ms.modes[m].ir_intensity, 1e-6);
    }
  }
  // One mass set: the name as given.
  o.mass_set = 2;
  const ModesReport one = analyze_modes(c.deck, c.listing(), o, "WATER.DAT");
  EXPECT_EQ(write_modes_molden(one, (c.dir / "d2o.molden").string()), std::vector<std::string>{(c.dir / "d2o.molden").string()});
}

TEST(SpectrumCommand, BandsAreTheIntensitiesOfModesAndObservedBandsFindTheirPanel) {
  const TurnedWater c;
  const Listing listing = c.listing();
  ModesOptions mo;
  mo.hessian = (c.dir / "water.fchk").string();
  const ModesReport modes = analyze_modes(c.deck, listing, mo, "WATER.DAT");
  testing::spill(c.dir / "observed.txt", "# set mode wavenumber weight\n1 2 1594.7\nD2O 1 1178.4 0.5\n\n3 3 3707.5 # HDO\n");
  SpectrumOptions o;
  o.hessian = mo.hessian;
  o.observed = (c.dir / "observed.txt").string();
  const SpectrumPlan plan = plan_spectrum(c.deck, listing, o, "WATER.DAT");
  ASSERT_EQ(plan.picture.panels.size(), 3u);
  EXPECT_TRUE(plan.picture.intensities);
  for (std::size_t s = 0; s < 3; ++s) {
    const SpectrumPanel& panel = plan.picture.panels[s];
    const MassSetModes& ms = modes.problems[0].mass_sets[s];
    EXPECT_EQ(panel.title, ms.title);
    ASSERT_EQ(panel.sticks.size(), ms.modes.size());
    for (std::size_t m = 0; m < ms.modes.size(); ++m) {
      EXPECT_NEAR(panel.sticks[m].wavenumber, ms.modes[m].wavenumber, 1e-9);
      EXPECT_NEAR(panel.sticks[m].height, *ms.modes[m].ir_intensity, 1e-9);
      EXPECT_EQ(panel.sticks[m].label, "\xce\xbd" + std::to_string(ms.modes[m].nu) + " " + *ms.modes[m].species);
    }
  }
  EXPECT_EQ(plan.picture.panels[0].observed, std::vector<double>{1594.7});
  EXPECT_EQ(plan.picture.panels[1].observed, std::vector<double>{1178.4});
  EXPECT_EQ(plan.picture.panels[2].observed, std::vector<double>{3707.5});

  testing::spill(c.dir / "observed.txt", "1 2 1594.7\nT2O 1 1178.4\n");
  try {
    plan_spectrum(c.deck, listing, o, "WATER.DAT");
    ADD_FAILURE() << "a mass set the deck lacks was accepted";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("observed.txt: line 2:"), std::string::npos) << e.what();
  }
}

struct ObservedFault {
  const char* name;
  const char* text;
  const char* fault;
};

class ObservedFaults : public ::testing::TestWithParam<ObservedFault> {};

TEST_P(ObservedFaults, NameTheFileAndLine) {
  testing::TempDir dir;
  testing::spill(dir / "obs.txt", GetParam().text);
  try {
    read_observed_bands((dir / "obs.txt").string());
    ADD_FAILURE() << "accepted";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().fault), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, ObservedFaults,
                         ::testing::Values(ObservedFault{"too_few_fields", "# c\n1 1595\n", "line 2: expected"},
                                           ObservedFault{"not_a_number", "1 1 15x5\n", "line 1: the wavenumber 15x5 is not"},
                                           ObservedFault{"negative", "1 1 -3\n", "not a positive"},
                                           ObservedFault{"bad_weight", "1 1 1595 w\n", "the weight w is not"},
                                           ObservedFault{"too_many", "1 1 1595 1 2\n", "5 words"},
                                           ObservedFault{"no_band", "# only a comment\n\n", "holds no observed band"}),
                         [](const ::testing::TestParamInfo<ObservedFault>& info) { return std::string(info.param.name); });

struct RangeCase {
  const char* name;
  const char* text;
  bool good;
  double low, high;
};

class SpectrumRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(SpectrumRange, IsLowColonHigh) {
  const RangeCase& c = GetParam();
  if (!c.good) {
    EXPECT_THROW(parse_spectrum_range(c.text), InputError);
    return;
  }
  const auto r = parse_spectrum_range(c.text);
  EXPECT_EQ(r.first, c.low);
  EXPECT_EQ(r.second, c.high);
}

INSTANTIATE_TEST_SUITE_P(Ranges, SpectrumRange,
                         ::testing::Values(RangeCase{"mid_infrared", "400:4000", true, 400, 4000},
                                           RangeCase{"decimals", "1000.5:1800", true, 1000.5, 1800},
                                           RangeCase{"reversed", "4000:400", false, 0, 0},
                                           RangeCase{"negative", "-5:10", false, 0, 0},
                                           RangeCase{"no_colon", "4000", false, 0, 0},
                                           RangeCase{"words", "a:b", false, 0, 0},
                                           RangeCase{"infinite", "0:inf", false, 0, 0}),
                         [](const ::testing::TestParamInfo<RangeCase>& info) { return std::string(info.param.name); });

TEST(SpectrumCommand, TheCommandWritesAPictureBesideTheDeckAndRefusesBadInput) {
  const TurnedWater c;
  const testing::ProgramRun run = testing::run_korvenkit(c.dir.path(), "spectrum WATER.DAT --hessian water.fchk --fwhm 15");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("3 mass sets, 9 bands, IR intensities"), std::string::npos) << run.out;
  const std::string svg = testing::slurp(c.dir / "WATER.svg");
  EXPECT_NE(svg.find("H2O"), std::string::npos);
  EXPECT_NE(svg.find("km/mol"), std::string::npos);
  // Again without --force: refused, the picture kept.
  EXPECT_EQ(testing::run_korvenkit(c.dir.path(), "spectrum WATER.DAT --hessian water.fchk").status, 2);
  for (const char* bad : {"--range 4000:400", "--fwhm 0", "--observed none.txt", "--dipole-derivatives none.txt"}) {
    const testing::ProgramRun r =
        testing::run_korvenkit(c.dir.path(), std::string("spectrum WATER.DAT --hessian water.fchk -o bad.svg ") + bad);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(c.dir / "bad.svg")) << bad;
  }
  // Without dipole derivatives: sticks of equal height, "relative".
  testing::spill(c.dir / "plain.fchk", testing::fchk_text({8, 1, 1}, c.deck.problems[0].x, c.hessian));
  const testing::ProgramRun plain =
      testing::run_korvenkit(c.dir.path(), "spectrum WATER.DAT --hessian plain.fchk -o plain.svg");
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(testing::slurp(c.dir / "plain.svg").find("relative"), std::string::npos);
}


// Every example deck with a Hessian beside it draws its spectrum with each
// Hessian there, as an SVG that xmllint accepts and rsvg-convert renders.
TEST(SpectrumCommand, EveryExampleWithAHessianDrawsAPictureThatRenders) {
  const bool tools =
      std::system("command -v xmllint >/dev/null 2>&1 && command -v rsvg-convert >/dev/null 2>&1") == 0;
  testing::TempDir dir;
  int pictures = 0;
  for (const auto& folder : fs::directory_iterator(fs::path(KORVEN_SOURCE_DIR) / "examples")) {
    std::vector<fs::path> decks, hessians;
    for (const auto& file : fs::directory_iterator(folder.path())) {
      const std::string ext = file.path().extension().string();
      if (ext == ".DAT") decks.push_back(file.path());
      if (ext == ".fchk" || ext == ".hess") hessians.push_back(file.path());
    }
    for (const fs::path& deck : decks)
      for (const fs::path& hessian : hessians) {
        for (const fs::path& f : {deck, hessian})
          fs::copy_file(f, dir / f.filename(), fs::copy_options::overwrite_existing);
        const std::string args = "spectrum " + deck.filename().string() + " --hessian " +
                                 hessian.filename().string() + " -o s.svg --force";
        const testing::ProgramRun run = testing::run_korvenkit(dir.path(), args);
        ASSERT_EQ(run.status, 0) << hessian << ": " << run.err;
        ++pictures;
        if (!tools) continue;
        const std::string checks = "cd '" + dir.path().string() + "' && xmllint --noout s.svg && rsvg-convert -o s.png s.svg";
        EXPECT_EQ(std::system(checks.c_str()), 0) << hessian;
        EXPECT_GT(fs::file_size(dir / "s.png"), 0u);
      }
  }
  EXPECT_GE(pictures, 2);  // the psi4 water example's two Hessians
  if (!tools) GTEST_SKIP() << "xmllint or rsvg-convert is not installed: the pictures were drawn, not checked";
}

}  // namespace
}  // namespace korven::kit
