// The plain G and G' loops the engine once ran: every row of G a pass over
// the whole B list, every row of G' a pass over the whole G list and the rest
// of the U list. The differential test holds the engine's listings to these.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bmatrix/element_list.h"
#include "deck/problem.h"
#include "gmatrix/g_matrix.h"
#include "records/units.h"

namespace korven::reference {

// As compute_unsymmetrized_g.
void unsymmetrized_g(const ElementList& b, const std::vector<float>& masses, std::int32_t nic,
                     ElementList& g);

// As SymmetrizedRows: value(k) for k = s ... symmetry_count after next_row().
class SymmetrizedRows {
 public:
  SymmetrizedRows(const ElementList& g, const ElementList& u, std::int32_t nic,
                  std::int32_t symmetry_count);
  std::int32_t next_row();
  float value(std::int32_t k) const { return r_[static_cast<std::size_t>(k)]; }

 private:
  const ElementList& g_;
  const ElementList& u_;
  std::int32_t symmetry_count_;
  std::size_t p_ = 0;
  std::size_t q_ = 0;
  std::int32_t s_ = 1;
  std::vector<float> v_, t_, r_;
};

// As symmetrize_g, over every k = s ... symmetry_count of every row.
void symmetrize_g(Unit& listing, std::int32_t problem_number, const std::string& title,
                  const std::vector<std::int32_t>& blocks, const ElementList& g,
                  const ElementList& u, std::int32_t nic, std::int32_t symmetry_count);

// As run_mass_sets, with the two loops above.
MassSetsEnd run_mass_sets(Units& units, const Problem& problem, ElementList& b,
                          StoredU& stored_u);

}  // namespace korven::reference
