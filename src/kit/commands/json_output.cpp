#include "kit/commands/json_output.h"

#include <cmath>

#include <nlohmann/json.hpp>

namespace korven::kit {
namespace {

using nlohmann::ordered_json;

template <class T>
ordered_json or_null(const std::optional<T>& v) {
  return v ? ordered_json(*v) : ordered_json(nullptr);
}

ordered_json rows_of(const Matrix& a) {
  ordered_json rows = ordered_json::array();
  for (Eigen::Index i = 0; i < a.rows(); ++i) {
    ordered_json row = ordered_json::array();
    for (Eigen::Index j = 0; j < a.cols(); ++j) row.push_back(a(i, j));
    rows.push_back(row);
  }
  return rows;
}

}  // namespace

std::string check_json(const CheckReport& report) {
  ordered_json problems = ordered_json::array();
  for (const ProblemReport& p : report.problems) {
    ordered_json sets = ordered_json::array();
    for (const MassSetReport& m : p.mass_sets) {
      ordered_json blocks = ordered_json::array();
      for (const BlockReport& b : m.blocks)
        blocks.push_back({{"first", b.first},
                          {"size", b.size},
                          {"rank", or_null(b.rank)},
                          {"species", or_null(b.species)},
                          {"findings", b.findings}});
      ordered_json words = ordered_json::array();
      for (const SymmetryCoordinateWords& w : m.symmetry_coordinates) {
        ordered_json terms = ordered_json::array();
        for (const SymmetryCoordinateTerm& t : w.terms)
          terms.push_back({{"coordinate", t.coordinate}, {"label", t.label}, {"coefficient", t.coefficient}});
        words.push_back({{"index", w.index}, {"species", or_null(w.species)}, {"partner", or_null(w.partner)},
                         {"terms", terms}});
      }
      sets.push_back({{"title", m.title},
                      {"point_group", or_null(m.point_group)},
                      {"g_rank", or_null(m.g_rank)},
                      {"symmetrized", m.symmetrized},
                      {"u_orthonormal_dev", or_null(m.u_orthonormal_dev)},
                      {"factoring_reports", m.factoring_reports},
                      {"blocks", m.symmetrized ? blocks : ordered_json(nullptr)},
                      {"symmetry_coordinates", m.symmetrized ? words : ordered_json(nullptr)}});
    }
    problems.push_back({{"index", p.index},
                        {"problem", p.problem},
                        {"atoms", p.atoms},
                        {"linear", p.linear},
                        {"vibrations", p.vibrations},
                        {"coordinates", p.coordinates},
                        {"rank", or_null(p.rank)},
                        {"redundant", or_null(p.redundant)},
                        {"missing", or_null(p.missing)},
                        {"errors", p.errors},
                        {"geometry", p.geometry},
                        {"mass_sets", sets}});
  }
  return ordered_json{{"problems", problems}}.dump(2) + "\n";
}

namespace {

// [dx, dy, dz] per atom.
ordered_json displacements_json(const Vector& d) {
  ordered_json atoms = ordered_json::array();
  for (Eigen::Index i = 0; i + 2 < d.size(); i += 3) atoms.push_back({d(i), d(i + 1), d(i + 2)});
  return atoms;
}

ordered_json mode_entry(const ModeRow& r, std::size_t p) {
  ordered_json ped = ordered_json::array(), classes = ordered_json::array();
  for (const PedItem& item : r.ped)
    ped.push_back({{"coordinate", item.coordinate}, {"label", item.label}, {"percent", item.percent}});
  for (const PedClass& c : r.ped_classes) classes.push_back({{"class", c.name}, {"percent", c.percent}});
  const ModePartner& partner = r.partners[p];
  return {{"nu", r.nu},
          {"wavenumber", partner.wavenumber},
          {"cartesian_wavenumber", or_null(partner.cartesian_wavenumber)},
          {"species", or_null(r.species)},
          {"degeneracy", r.degeneracy},
          {"partner", r.degeneracy > 1 ? ordered_json(p + 1) : ordered_json(nullptr)},
          {"imaginary", r.imaginary},
          {"ir_active", or_null(r.ir_active)},
          {"raman_active", or_null(r.raman_active)},
          {"ped", ped},
          {"ped_classes", classes},
          {"reduced_mass", partner.reduced_mass},
          {"force_constant", partner.force_constant},
          {"ir_intensity", or_null(partner.ir_intensity)},
          {"raman_activity", or_null(partner.raman_activity)},
          {"displacements", displacements_json(partner.displacement)}};
}

ordered_json mass_set_json(const MassSetModes& m) {
  ordered_json modes = ordered_json::array();
  if (m.agree) {
    for (const ModeRow& r : m.modes)
      for (std::size_t p = 0; p < r.partners.size(); ++p) modes.push_back(mode_entry(r, p));
  } else {
    // The deck's route is not trusted: only the Cartesian wavenumbers.
    for (double w : m.cartesian_wavenumbers)
      modes.push_back({{"nu", nullptr}, {"wavenumber", nullptr}, {"cartesian_wavenumber", w}, {"species", nullptr},
                       {"degeneracy", nullptr}, {"partner", nullptr}, {"imaginary", nullptr}, {"ir_active", nullptr},
                       {"raman_active", nullptr}, {"ped", nullptr}, {"ped_classes", nullptr},
                       {"reduced_mass", nullptr}, {"force_constant", nullptr}, {"ir_intensity", nullptr},
                       {"raman_activity", nullptr}, {"displacements", nullptr}});
  }
  ordered_json rules = ordered_json::array();
  for (const ProductRule& r : m.product_rule)
    rules.push_back({{"species", r.species}, {"ratio", r.ratio}, {"expected", r.expected}});
  return {{"title", m.title},
          {"point_group", or_null(m.point_group)},
          {"species_order", m.species_order},
          {"agree", m.agree},
          {"verdict", m.agree ? ordered_json(nullptr) : ordered_json(m.verdict)},
          {"modes", modes},
          {"product_rule", rules},
          {"F", rows_of(m.f)},
          {"L", rows_of(m.l)},
          {"F_symmetry", m.f_symmetry ? rows_of(*m.f_symmetry) : ordered_json(nullptr)}};
}

}  // namespace

std::string modes_json(const ModesReport& report) {
  ordered_json problems = ordered_json::array();
  for (const ProblemModes& p : report.problems) {
    ordered_json sets = ordered_json::array();
    for (const MassSetModes& m : p.mass_sets) sets.push_back(mass_set_json(m));
    // shifts[k][m]: mode k of the first mass set (as its modes list them) in
    // mass set m, less its wavenumber in the first (cm-1); null where no
    // mode matched.
    ordered_json shifts = ordered_json::array();
    for (const auto& row : p.shifts) {
      ordered_json r = ordered_json::array();
      for (const auto& v : row) r.push_back(or_null(v));
      shifts.push_back(r);
    }
    problems.push_back({{"index", p.index},
                        {"problem", p.problem},
                        {"scale", p.scale},
                        {"match", p.match == MatchMethod::species ? "species" : "overlap"},
                        {"mass_sets", sets},
                        {"matches", p.matches.empty() ? ordered_json(nullptr) : ordered_json(p.matches)},
                        {"shifts", p.matches.empty() ? ordered_json(nullptr) : shifts}});
  }
  return ordered_json{{"problems", problems}}.dump(2) + "\n";
}

std::string export_index_json(const MatrixExport& plan) {
  ordered_json files = ordered_json::array();
  for (const ExportedMatrix& m : plan.matrices) {
    ordered_json reports = nullptr;
    if (m.block) {
      reports = ordered_json::array();
      for (const MatrixElement& r : m.factoring_reports)
        reports.push_back({{"row", r.row}, {"column", r.column}, {"value", r.value}});
    }
    files.push_back({{"file", m.file},
                     {"matrix", m.matrix},
                     {"position", m.position},
                     {"problem", m.problem},
                     {"title", m.title},
                     {"mass_set", or_null(m.mass_set)},
                     {"mass_set_title", or_null(m.mass_set_title)},
                     {"block", or_null(m.block)},
                     {"first_row", or_null(m.first_row)},
                     {"species", or_null(m.species)},
                     {"rows", m.rows},
                     {"columns", m.columns},
                     {"symmetry", m.symmetric ? "symmetric" : "general"},
                     {"nonzeros", m.elements.size()},
                     {"factoring_reports", reports}});
  }
  return ordered_json{{"deck", plan.deck}, {"files", files}}.dump(2) + "\n";
}

namespace {

ordered_json fit_mass_set_json(const FitMassSet& m) {
  ordered_json bands = ordered_json::array();
  for (const FitBand& b : m.bands)
    bands.push_back({{"nu", b.nu},
                     {"species", b.species.empty() ? ordered_json(nullptr) : ordered_json(b.species)},
                     {"observed", b.observed},
                     {"calculated", b.calculated},
                     {"weight", b.weight}});
  ordered_json rules = ordered_json::array();
  for (const FitProductRule& r : m.product_rule)
    rules.push_back({{"species", r.species}, {"observed_ratio", r.observed_ratio}, {"expected", r.expected}});
  return {{"title", m.title}, {"bands", bands}, {"product_rule", rules}};
}

}  // namespace

std::string fit_json(const FitReport& report) {
  ordered_json problems = ordered_json::array();
  for (const FitProblem& p : report.problems) {
    ordered_json parameters = ordered_json::array();
    for (const FitParameter& q : p.parameters)
      parameters.push_back({{"name", q.name},
                            {"kind", q.kind},
                            {"value", q.value},
                            {"sigma", or_null(q.sigma)},
                            {"fixed", q.fixed},
                            {"determined", q.determined}});
    ordered_json sets = ordered_json::array();
    for (const FitMassSet& m : p.mass_sets) sets.push_back(fit_mass_set_json(m));
    problems.push_back({{"index", p.index},
                        {"problem", p.problem},
                        {"parameters", parameters},
                        {"correlation", rows_of(p.correlation)},
                        {"rms", p.rms},
                        {"bands", p.bands},
                        {"iterations", p.iterations},
                        {"converged", p.converged},
                        {"stop", p.stop},
                        {"mass_sets", sets}});
  }
  return ordered_json{{"problems", problems}}.dump(2) + "\n";
}

}  // namespace korven::kit

// ---- constants --------------------------------------------------------------

namespace korven::kit {
namespace {

const char* const kPrincipalAxes[] = {"a", "b", "c"};

ordered_json principal_axes_json(const PrincipalFrame& f) {
  const char* const deck_axes[] = {"x", "y", "z"};
  ordered_json axes = ordered_json::object();
  for (int a = 0; a < 3; ++a) {
    const auto along = f.along_deck_axis[static_cast<std::size_t>(a)];
    axes[kPrincipalAxes[a]] = {{"vector", {f.axes(0, a), f.axes(1, a), f.axes(2, a)}},
                               {"along", along ? ordered_json(deck_axes[*along]) : ordered_json(nullptr)}};
  }
  return axes;
}

ordered_json coriolis_json(const MassSetConstants& m) {
  ordered_json out = ordered_json::array();
  const CoriolisConstants& c = m.constants.coriolis;
  for (std::size_t a = 0; a < 3; ++a)
    for (Eigen::Index r = 0; r < c.zeta[a].rows(); ++r)
      for (Eigen::Index s = r + 1; s < c.zeta[a].cols(); ++s)
        if (std::abs(c.zeta[a](r, s)) > 1e-4)
          out.push_back({{"axis", kPrincipalAxes[a]},
                         {"r", m.modes[static_cast<std::size_t>(r)].label()},
                         {"s", m.modes[static_cast<std::size_t>(s)].label()},
                         {"zeta", c.zeta[a](r, s)}});
  return out;
}

ordered_json tau_json(const CentrifugalDistortion& c) {
  const int pairs[6][2] = {{0, 0}, {1, 1}, {2, 2}, {0, 1}, {0, 2}, {1, 2}};
  ordered_json out = ordered_json::object();
  for (int p = 0; p < 6; ++p)
    for (int q = p; q < 6; ++q) {
      const std::string key = std::string(kPrincipalAxes[pairs[p][0]]) + kPrincipalAxes[pairs[p][1]] +
                              kPrincipalAxes[pairs[q][0]] + kPrincipalAxes[pairs[q][1]];
      out[key] = or_null(c.tau(pairs[p][0], pairs[p][1], pairs[q][0], pairs[q][1]));
    }
  return out;
}

ordered_json reduction_json(const CentrifugalDistortion& c) {
  const std::string rep(representation_name(c.representation));
  ordered_json out = ordered_json::array();
  if (c.a_reduction) {
    const WatsonA& a = *c.a_reduction;
    out.push_back({{"name", "A"}, {"representation", rep},
                   {"constants_khz", {{"DeltaJ", a.delta_j}, {"DeltaJK", a.delta_jk}, {"DeltaK", a.delta_k},
                                      {"deltaJ", a.small_delta_j}, {"deltaK", a.small_delta_k}}}});
  }
  if (c.s_reduction) {
    const WatsonS& s = *c.s_reduction;
    out.push_back({{"name", "S"}, {"representation", rep},
                   {"constants_khz", {{"DJ", s.d_j}, {"DJK", s.d_jk}, {"DK", s.d_k}, {"d1", s.d1}, {"d2", s.d2}}}});
  }
  if (c.symmetric_top)
    out.push_back({{"name", "symmetric top"}, {"representation", nullptr},
                   {"constants_khz", {{"DJ", c.symmetric_top->d_j}, {"DJK", c.symmetric_top->d_jk},
                                      {"DK", c.symmetric_top->d_k}}}});
  if (c.linear_d)
    out.push_back({{"name", "linear"}, {"representation", nullptr}, {"constants_khz", {{"D", *c.linear_d}}}});
  if (c.spherical_top)
    out.push_back({{"name", "spherical top"}, {"representation", nullptr},
                   {"constants_khz", {{"DJ", c.spherical_top->d_j}, {"DT", c.spherical_top->d_t}}}});
  return out;
}

ordered_json constants_mass_set_json(const MassSetConstants& m) {
  const RotationalConstants& r = m.constants.rotation;
  ordered_json mhz = ordered_json::array(), cm = ordered_json::array(), moments = ordered_json::array();
  for (std::size_t a = 0; a < 3; ++a) {
    mhz.push_back(or_null(r.mhz[a]));
    cm.push_back(or_null(r.wavenumbers[a]));
    moments.push_back(r.frame.moments(static_cast<Eigen::Index>(a)));
  }
  ordered_json amplitudes = ordered_json::array();
  for (const PairAmplitude& p : m.constants.amplitudes)
    amplitudes.push_back({{"i", p.first + 1}, {"j", p.second + 1}, {"r", p.distance}, {"l", p.amplitude},
                          {"K", p.perpendicular_correction}});
  return {{"title", m.title},
          {"rotor", rotor_type_name(r.frame.type)},
          {"axes", principal_axes_json(r.frame)},
          {"moments", moments},
          {"rotational_constants_mhz", mhz},
          {"rotational_constants_cm", cm},
          {"kappa", or_null(r.kappa)},
          {"coriolis", coriolis_json(m)},
          {"tau_mhz", tau_json(m.constants.centrifugal)},
          {"reduction", reduction_json(m.constants.centrifugal)},
          {"temperature", m.constants.temperature},
          {"mean_amplitudes", amplitudes}};
}

}  // namespace

std::string constants_json(const ConstantsReport& report) {
  ordered_json problems = ordered_json::array();
  for (const ProblemConstants& p : report.problems) {
    ordered_json sets = ordered_json::array();
    for (const MassSetConstants& m : p.mass_sets) sets.push_back(constants_mass_set_json(m));
    problems.push_back({{"index", p.index}, {"problem", p.problem}, {"mass_sets", sets}});
  }
  return ordered_json{{"problems", problems}}.dump(2) + "\n";
}

}  // namespace korven::kit
