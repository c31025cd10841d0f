// Reading a listing back: the inverse of the record layouts the engine
// writes, field by field at their columns.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "kit/model/listing.h"

namespace korven::kit {

// Reads every problem of a listing: heading, titles, the B section, each
// mass set's G section and symmetrized section (blocks, element lists,
// factoring reports), and every error report record. Records end in CR LF
// (a bare LF is taken too). A listing that stops between two sections of a
// problem, as a run ended by a run-time failure leaves it, is read up to
// there and marked cut_short.
//
// A record that the layouts do not allow where it stands, an element list
// without its end entry, a count that does not match its list, or a field
// the engine filled with asterisks because its value did not fit:
// InputError "NAME: record N: ..." saying what was expected.
Listing read_listing(std::string_view text, const std::string& name_for_errors);

// The same for a file; a file that cannot be read is an InputError too.
Listing read_listing_file(const std::filesystem::path& path);

}  // namespace korven::kit
