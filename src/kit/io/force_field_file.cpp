#include "kit/io/force_field_file.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "kit/base/kit_error.h"
#include "kit/base/text.h"

namespace korven::kit {
namespace {

using nlohmann::ordered_json;

// F′ is symmetric to this fraction of its largest element, or refused.
constexpr double kSymmetryTolerance = 1e-9;

ordered_json optional_number(const std::optional<double>& x) { return x ? ordered_json(*x) : ordered_json(nullptr); }

ForceFieldCoordinate coordinate_of(const nlohmann::json& j) {
  return {j.at("row").get<int>(), j.at("name").get<std::string>(), j.at("class").get<std::string>()};
}

ForceFieldParameter parameter_of(const nlohmann::json& j) {
  ForceFieldParameter p;
  p.name = j.at("name").get<std::string>();
  p.kind = j.at("kind").get<std::string>();
  p.value = j.at("value").get<double>();
  if (!j.at("sigma").is_null()) p.sigma = j.at("sigma").get<double>();
  p.fixed = j.at("fixed").get<bool>();
  p.determined = j.at("determined").get<bool>();
  if (j.contains("coordinates")) p.coordinates = j.at("coordinates").get<std::vector<int>>();
  return p;
}

Matrix matrix_of(const nlohmann::json& rows, const std::string& path, std::size_t n) {
  if (!rows.is_array() || rows.size() != n)
    throw input_error(path, format("force_constants has %zu rows for %zu coordinates", rows.size(), n));
  Matrix f(static_cast<Eigen::Index>(n), static_cast<Eigen::Index>(n));
  for (std::size_t i = 0; i < n; ++i) {
    const std::vector<double> row = rows[i].get<std::vector<double>>();
    if (row.size() != n) throw input_error(path, format("row %zu of force_constants has %zu values for %zu", i + 1, row.size(), n));
    for (std::size_t j = 0; j < n; ++j) f(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j)) = row[j];
  }
  if (!f.allFinite()) throw input_error(path, "force_constants holds a value that is not finite");
  const double largest = f.cwiseAbs().maxCoeff();
  if ((f - f.transpose()).cwiseAbs().maxCoeff() > kSymmetryTolerance * std::max(largest, 1.0))
    throw input_error(path, "force_constants is not symmetric");
  return f;
}

}  // namespace

std::string force_field_json(const ForceFieldFile& file) {
  ordered_json coords = ordered_json::array();
  for (const ForceFieldCoordinate& c : file.coordinates)
    coords.push_back({{"row", c.row}, {"name", c.name}, {"class", c.coordinate_class}});
  ordered_json params = ordered_json::array();
  for (const ForceFieldParameter& p : file.parameters) {
    ordered_json j = {{"name", p.name},   {"kind", p.kind},   {"value", p.value}, {"sigma", optional_number(p.sigma)},
                      {"fixed", p.fixed}, {"determined", p.determined}};
    if (p.kind == "scale") j["coordinates"] = p.coordinates;
    params.push_back(j);
  }
  ordered_json rows = ordered_json::array();
  for (Eigen::Index i = 0; i < file.f.rows(); ++i) {
    std::vector<double> row(static_cast<std::size_t>(file.f.cols()));
    for (Eigen::Index j = 0; j < file.f.cols(); ++j) row[static_cast<std::size_t>(j)] = file.f(i, j);
    rows.push_back(row);
  }
  const ordered_json out = {{"format", kForceFieldFormat},
                            {"deck", file.deck},
                            {"source", file.source},
                            {"units", "mdyn/A (stretches), mdyn A/rad^2 (angles), mdyn/rad (stretch-angle)"},
                            {"coordinates", coords},
                            {"parameters", params},
                            {"force_constants", rows}};
  return out.dump(2) + "\n";
}

ForceFieldFile read_force_field(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw input_error(path, "cannot be read");
  std::stringstream text;
  text << in.rdbuf();
  nlohmann::json j;
  try {
    j = nlohmann::json::parse(text.str());
  } catch (const nlohmann::json::exception& e) {
    throw input_error(path, std::string("is not JSON: ") + e.what());
  }
  try {
    if (!j.is_object() || j.value("format", std::string()) != kForceFieldFormat)
      throw input_error(path, std::string("is not a force-field file (its \"format\" is not \"") + kForceFieldFormat + "\")");
    ForceFieldFile f;
    f.source = j.at("source").get<std::string>();
    f.deck = j.at("deck").get<std::string>();
    for (const auto& c : j.at("coordinates")) f.coordinates.push_back(coordinate_of(c));
    for (const auto& p : j.at("parameters")) f.parameters.push_back(parameter_of(p));
    f.f = matrix_of(j.at("force_constants"), path, f.coordinates.size());
    return f;
  } catch (const nlohmann::json::exception& e) {
    throw input_error(path, std::string("a key is missing or of the wrong type: ") + e.what());
  }
}

}  // namespace korven::kit
