#include "kit/model/molecule.h"

namespace korven::kit {

bool is_linear_molecule(const std::vector<Vec3>& x) {
  if (x.size() <= 2) return true;
  std::size_t far = 1;
  for (std::size_t a = 1; a < x.size(); ++a)
    if ((x[a] - x[0]).norm() > (x[far] - x[0]).norm()) far = a;
  const Vec3 axis = x[far] - x[0];
  if (axis.norm() == 0) return true;
  const Vec3 e = axis.normalized();
  for (const Vec3& p : x) {
    const Vec3 d = p - x[0];
    if ((d - d.dot(e) * e).norm() > 1e-4) return false;
  }
  return true;
}

}  // namespace korven::kit
