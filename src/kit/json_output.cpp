#include "kit/json_output.h"

#include <nlohmann/json.hpp>

namespace korven::kit {
namespace {

using nlohmann::ordered_json;

template <class T>
ordered_json or_null(const std::optional<T>& v) {
  return v ? ordered_json(*v) : ordered_json(nullptr);
}

}  // namespace

std::string check_json(const CheckReport& report) {
  ordered_json problems = ordered_json::array();
  for (const ProblemReport& p : report.problems) {
    ordered_json sets = ordered_json::array();
    for (const MassSetReport& m : p.mass_sets) {
      ordered_json blocks = ordered_json::array();
      for (const BlockReport& b : m.blocks)
        blocks.push_back({{"first", b.first}, {"size", b.size}, {"rank", or_null(b.rank)}, {"species", or_null(b.species)}});
      sets.push_back({{"title", m.title},
                      {"point_group", or_null(m.point_group)},
                      {"g_rank", or_null(m.g_rank)},
                      {"symmetrized", m.symmetrized},
                      {"u_orthonormal_dev", or_null(m.u_orthonormal_dev)},
                      {"factoring_reports", m.factoring_reports},
                      {"blocks", m.symmetrized ? blocks : ordered_json(nullptr)}});
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
                        {"mass_sets", sets}});
  }
  return ordered_json{{"problems", problems}}.dump(2) + "\n";
}

}  // namespace korven::kit
