#include "kit/vibrations/rotation.h"

#include <cmath>

#include "kit/base/constants.h"
#include "kit/base/kit_error.h"

namespace korven::kit {
namespace {

// The unit vector in the positive sense of its largest component (the first
// of two equal ones).
Vec3 positive_sense(Vec3 v) {
  int k = 0;
  for (int i = 1; i < 3; ++i)
    if (std::abs(v(i)) > std::abs(v(k)) + 1e-12) k = i;
  v.normalize();
  return v(k) < 0 ? Vec3(-v) : v;
}

// In the plane normal to u: the projection of the deck axis closest to the
// plane (x before y before z on a tie), normalised.
Vec3 first_in_plane(const Vec3& u) {
  Vec3 best = Vec3::Zero();
  for (int k = 0; k < 3; ++k) {
    const Vec3 p = Vec3::Unit(k) - u * u(k);
    if (p.norm() > best.norm() + 1e-9) best = p;
  }
  return best.normalized();
}

struct Classified {
  RotorType type;
  std::optional<int> unique_axis;
};

Classified classify(const Vector& m, double relative) {
  const double scale = m(2);
  const bool low_equal = m(1) - m(0) <= relative * scale;
  const bool high_equal = m(2) - m(1) <= relative * scale;
  if (m(0) <= relative * scale) return {RotorType::linear, 0};
  if (low_equal && high_equal) return {RotorType::spherical, std::nullopt};
  if (high_equal) return {RotorType::prolate, 0};
  if (low_equal) return {RotorType::oblate, 2};
  return {RotorType::asymmetric, std::nullopt};
}

// The axes (columns a, b, c) and moments from the eigenvalues m (ascending)
// and eigenvectors v of the inertia tensor, by the rules in rotation.h.
void choose_axes(PrincipalFrame& f, const Vector& m, const Matrix& v) {
  switch (f.type) {
    case RotorType::spherical: {
      f.axes = Mat3::Identity();
      f.moments = Vec3::Constant(m.mean());
      return;
    }
    case RotorType::linear:
    case RotorType::prolate: {
      const Vec3 a = positive_sense(v.col(0)), b = first_in_plane(a);
      f.axes << a, b, a.cross(b);
      const double mean = 0.5 * (m(1) + m(2));
      f.moments = Vec3(f.type == RotorType::linear ? 0.0 : m(0), mean, mean);
      return;
    }
    case RotorType::oblate: {
      const Vec3 c = positive_sense(v.col(2)), a = first_in_plane(c);
      f.axes << a, c.cross(a), c;
      const double mean = 0.5 * (m(0) + m(1));
      f.moments = Vec3(mean, mean, m(2));
      return;
    }
    case RotorType::asymmetric: {
      const Vec3 a = positive_sense(v.col(0)), b = positive_sense(v.col(1));
      f.axes << a, b, a.cross(b);
      f.moments = Vec3(m(0), m(1), m(2));
      return;
    }
  }
}

}  // namespace

std::string_view rotor_type_name(RotorType type) {
  switch (type) {
    case RotorType::linear: return "linear";
    case RotorType::spherical: return "spherical";
    case RotorType::prolate: return "prolate";
    case RotorType::oblate: return "oblate";
    case RotorType::asymmetric: break;
  }
  return "asymmetric";
}

PrincipalFrame principal_frame(const std::vector<Vec3>& positions, const std::vector<double>& masses,
                               const ConstantsTolerances& tolerances, const std::string& source) {
  if (positions.size() < 2 || masses.size() != positions.size())
    throw input_error(source, "the molecular constants need two atoms or more, each with its mass");
  PrincipalFrame f;
  f.centre_of_mass = centre_of_mass(positions, masses);
  const SymmetricEigen e = symmetric_eigen(inertia_tensor(positions, masses));  // about the centre of mass (linalg.h)
  if (!(e.values(2) > 0)) throw input_error(source, "the atoms all lie at one point");
  const Classified c = classify(e.values, tolerances.moment_relative);
  f.type = c.type;
  f.unique_axis = c.unique_axis;
  choose_axes(f, e.values, e.vectors);
  for (int a = 0; a < 3; ++a)
    for (int k = 0; k < 3; ++k)
      if (1 - std::abs(f.axes(k, a)) <= tolerances.axis_alignment) f.along_deck_axis[static_cast<std::size_t>(a)] = k;
  return f;
}

double rotational_constant_mhz(double moment) {
  const double kg_m2 = moment * kAtomicMassConstant * 1e-20;
  return kPlanck / (8 * kPi * kPi * kg_m2) / 1e6;
}

double rotational_constant_wavenumber(double moment) {
  return rotational_constant_mhz(moment) * 1e6 / (kSpeedOfLight * 100);
}

RotationalConstants rotational_constants(const PrincipalFrame& frame, const ConstantsTolerances& tolerances) {
  RotationalConstants r;
  r.frame = frame;
  const Vec3& m = frame.moments;
  for (int a = 0; a < 3; ++a) {
    if (a == 0 && frame.type == RotorType::linear) continue;
    r.mhz[static_cast<std::size_t>(a)] = rotational_constant_mhz(m(a));
    r.wavenumbers[static_cast<std::size_t>(a)] = rotational_constant_wavenumber(m(a));
  }
  if (frame.type != RotorType::linear && frame.type != RotorType::spherical) {
    const double a = *r.mhz[0], b = *r.mhz[1], c = *r.mhz[2];
    r.kappa = (2 * b - a - c) / (a - c);
  }
  r.inertial_defect = m(2) - m(0) - m(1);
  r.planar = frame.type != RotorType::linear && std::abs(r.inertial_defect) <= tolerances.planar_relative * m(2);
  return r;
}

PrincipalModes to_principal_frame(const PrincipalFrame& frame, const std::vector<Vec3>& positions,
                                  const std::vector<double>& masses, const Matrix& modes,
                                  const std::vector<double>& eigenvalues) {
  PrincipalModes p{{}, masses, Matrix(modes.rows(), modes.cols()), eigenvalues};
  const Mat3 rt = frame.axes.transpose();
  for (const Vec3& r : positions) p.positions.push_back(rt * (r - frame.centre_of_mass));
  for (Eigen::Index i = 0; i + 2 < modes.rows(); i += 3) p.modes.middleRows(i, 3) = rt * modes.middleRows(i, 3);
  return p;
}

std::vector<Mat3> inertia_derivatives(const PrincipalModes& modes) {
  std::vector<Mat3> out;
  for (Eigen::Index k = 0; k < modes.modes.cols(); ++k) {
    Mat3 a = Mat3::Zero();
    for (std::size_t i = 0; i < modes.positions.size(); ++i) {
      const Vec3& r = modes.positions[i];
      const Vec3 l = modes.modes.block<3, 1>(static_cast<Eigen::Index>(3 * i), k);
      a += std::sqrt(modes.masses[i]) * (2 * r.dot(l) * Mat3::Identity() - r * l.transpose() - l * r.transpose());
    }
    out.push_back(a);
  }
  return out;
}

}  // namespace korven::kit
