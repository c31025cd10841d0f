#include "kit/app/cli.h"

#include <filesystem>
#include <iostream>
#include <map>
#include <optional>

#include <CLI/CLI.hpp>

#include "kit/base/atomic_file.h"
#include "kit/base/kit_error.h"
#include "kit/commands/build_deck.h"
#include "kit/commands/check_report.h"
#include "kit/commands/fit_report.h"
#include "kit/commands/constants_report.h"
#include "kit/commands/json_output.h"
#include "kit/commands/matrix_export.h"
#include "kit/commands/modes_report.h"
#include "kit/commands/molecule_view.h"
#include "kit/commands/problem_view.h"
#include "kit/commands/spectrum_report.h"
#include "kit/io/deck_replay.h"
#include "kit/io/deck_writer.h"
#include "kit/io/engine_run.h"
#include "kit/io/force_field_file.h"
#include "kit/io/geometry_input.h"
#include "kit/io/listing_reader.h"
#include "kit/io/matrix_market.h"

namespace korven::kit {
namespace {

struct BuildArgs {
  std::string geometry, format, output, title;
  CoordinateMode coordinates = CoordinateMode::redundant;
  std::vector<std::string> isotopologues;
  bool force = false, save = false, symmetry = false;
  double tolerance = 0.01;
  AxesChoice axes = AxesChoice::standard;
};

struct DeckArgs {
  std::string deck, listing;
  std::optional<int> problem;
  bool json = false;
};

int run_build(const BuildArgs& a) {
  if (a.geometry == "-" && (a.format.empty() || a.output.empty()))
    throw input_error("-", "reading standard input needs --format and -o");
  BuildOptions options;
  options.source_name = a.geometry == "-" ? std::string("standard input") : a.geometry;
  options.coordinates = a.coordinates;
  options.title = a.title;
  options.save = a.save;
  options.symmetry = a.symmetry;
  options.tolerance = a.tolerance;
  options.axes = a.axes;
  for (const std::string& text : a.isotopologues) options.isotopologues.push_back(parse_isotopologue(text));
  const std::filesystem::path out =
      a.output.empty() ? std::filesystem::path(default_deck_name(a.geometry)) : std::filesystem::path(a.output);
  // The geometry's own faults come first: they are what the user must mend.
  const std::vector<Molecule> molecules = read_geometry(a.geometry, a.format);
  if (const std::string why = deck_name_fault(out); !why.empty())
    throw input_error(out.string(), "not a name korven can take as its deck: " + why +
                                        " (korven takes 1 to 12 characters with a period, such as PYRIDINE.DAT)");
  if (!a.force && std::filesystem::exists(out)) throw input_error(out.string(), "exists; use --force to replace it");
  const BuiltDeck built = build_deck(molecules, options);
  for (const std::string& w : built.warnings) std::cerr << "korvenkit: warning: " << w << "\n";
  write_deck_file(out, built.deck, a.force);
  for (const std::string& note : built.notes) std::cout << note << "\n";
  for (const DeckProblem& p : built.deck.problems)
    std::cout << out.string() << ": problem " << p.number << ", " << p.x.size() << " atoms, " << p.nic
              << " internal coordinates, " << p.mass_sets.size() << " mass set"
              << (p.mass_sets.size() == 1 ? "" : "s") << "\n";
  return kExitSuccess;
}

// The problem asked for, checked against the deck's count; none: every one.
std::optional<int> problem_choice(const DeckArgs& a, std::size_t problems) {
  if (!a.problem) return std::nullopt;
  return chosen_problems(a.deck, problems, a.problem, false).front();
}

int run_check(const DeckArgs& a) {
  const Deck deck = replay_deck(a.deck);
  const Listing listing = listing_of(deck, a.deck, a.listing);
  const CheckReport report = check_deck(deck, listing, problem_choice(a, deck.problems.size()), a.deck);
  std::cout << (a.json ? check_json(report) : check_text(report));
  return report.exit_status();
}

struct ModesArgs {
  DeckArgs deck;
  ModesOptions options;
  std::string force_constants;
  std::string molden;
};

int run_modes(ModesArgs a) {
  a.options.problem = a.deck.problem;
  const Deck deck = replay_deck(a.deck.deck);
  const Listing listing = listing_of(deck, a.deck.deck, a.deck.listing);
  const ModesReport report = analyze_modes(deck, listing, a.options, a.deck.deck);
  if (!a.force_constants.empty() && !report.problems.empty() && !report.problems.front().mass_sets.empty()) {
    const ProblemModes& p = report.problems.front();
    write_matrix_market(a.force_constants, p.mass_sets.front().f,
                        "internal force constants of " + a.deck.deck + ", problem " + std::to_string(p.index) +
                            ", mass set " + std::to_string(p.mass_set_numbers.front()) +
                            " (mdyn/A, mdyn A/rad^2, mdyn/rad)");
  }
  if (!a.molden.empty()) {
    const std::vector<std::string> files = write_modes_molden(report, a.molden);
    if (!a.deck.json)
      for (const std::string& f : files) std::cout << f << ": Molden normal modes\n";
  }
  std::cout << (a.deck.json ? modes_json(report) : modes_text(report, a.options.ped_threshold));
  return report.exit_status();
}

struct FitArgs {
  DeckArgs deck;
  FitOptions options;
  std::string groups, write_force_field;
  bool force = false;
};

int run_fit(FitArgs a) {
  a.options.problem = a.deck.problem;
  if (!a.groups.empty() && a.groups != "class" && a.groups != "default")
    throw input_error("--groups " + a.groups, "expected class or default");
  a.options.groups_by_class = a.groups == "class";
  const Deck deck = replay_deck(a.deck.deck);
  const Listing listing = listing_of(deck, a.deck.deck, a.deck.listing);
  const FitReport report = fit_deck(deck, listing, a.options, a.deck.deck);
  if (!a.write_force_field.empty() && !report.problems.empty())
    write_file_atomically(a.write_force_field, force_field_json(report.problems.front().force_field), a.force);
  std::cout << (a.deck.json ? fit_json(report) : fit_text(report));
  return report.exit_status();
}

struct ConstantsArgs {
  DeckArgs deck;
  ConstantsCommandOptions options;
  std::string representation = "Ir";
};

int run_constants(ConstantsArgs a) {
  a.options.problem = a.deck.problem;
  const auto representation = parse_representation(a.representation);
  if (!representation)
    throw input_error(a.deck.deck, "--representation " + a.representation + " is none of Ir, IIr, IIIr, Il, IIl, IIIl");
  a.options.representation = *representation;
  const Deck deck = replay_deck(a.deck.deck);
  const Listing listing = listing_of(deck, a.deck.deck, a.deck.listing);
  const ConstantsReport report = analyze_constants(deck, listing, a.options, a.deck.deck);
  std::cout << (a.deck.json ? constants_json(report) : constants_text(report));
  return report.exit_status();
}

struct OutputArgs {
  DeckArgs deck;
  std::string output;
  bool force = false;
};

int run_export(const OutputArgs& a) {
  const Deck deck = replay_deck(a.deck.deck);
  const std::optional<int> only = problem_choice(a.deck, deck.problems.size());
  const Listing listing = listing_of(deck, a.deck.deck, a.deck.listing);
  const std::filesystem::path dir =
      a.output.empty() ? std::filesystem::path(a.deck.deck).stem() : std::filesystem::path(a.output);
  const MatrixExport plan = plan_export(deck, listing, only, a.deck.deck);
  write_export(plan, export_index_json(plan), dir, a.force);
  for (const ExportedMatrix& m : plan.matrices)
    std::cout << (dir / m.file).string() << ": " << m.rows << " x " << m.columns << "\n";
  std::cout << (dir / "index.json").string() << ": " << plan.matrices.size() << " file"
            << (plan.matrices.size() == 1 ? "" : "s") << "\n";
  for (const std::string& r : plan.refused) std::cerr << "korvenkit: " << a.deck.deck << ": not exported: " << r << "\n";
  return plan.refused.empty() ? kExitSuccess : kExitFinding;
}

// The listing for a picture: a run that ends early still leaves the picture
// of what the deck holds, and says why it ended.
Listing listing_for_view(const Deck& deck, const DeckArgs& a, std::string& run_note) {
  if (!a.listing.empty()) return listing_of(deck, a.deck, a.listing);
  const EngineRun run = run_engine(a.deck);
  if (run.status != 0) run_note = "KORVEN ended with a run-time failure: " + engine_failure_line(run);
  try {
    return read_listing(run.listing, a.deck + " (its listing)");
  } catch (const InputError&) {
    return Listing{};
  }
}

int run_view(const OutputArgs& a) {
  const Deck deck = replay_deck(a.deck.deck);
  if (deck.problems.empty()) throw input_error(a.deck.deck, "holds no problem to draw");
  const int position = problem_choice(a.deck, deck.problems.size()).value_or(1);
  std::string run_note;
  const Listing listing = listing_for_view(deck, a.deck, run_note);
  if (run_note.empty() && !deck.run_end.empty()) run_note = deck.run_end;
  const std::string out =
      a.output.empty() ? std::filesystem::path(a.deck.deck).stem().string() + ".svg" : a.output;
  const ProblemView view(deck, &listing, position, a.deck.deck, false);
  const MoleculePicture picture = picture_of(view, run_note);
  write_file_atomically(out, molecule_svg(picture), a.force);
  std::cout << out << ": problem " << position << ", " << picture.x.size() << " atoms, " << picture.bonds.size()
            << (picture.bonds.size() == 1 ? " bond, " : " bonds, ") << picture.coordinates.size() << " coordinate"
            << (picture.coordinates.size() == 1 ? "" : "s") << "\n";
  return kExitSuccess;
}

struct SpectrumArgs {
  DeckArgs deck;
  SpectrumOptions options;
  std::string range, output;
  bool force = false;
};

int run_spectrum(SpectrumArgs a) {
  a.options.problem = a.deck.problem;
  if (!a.range.empty()) a.options.range = parse_spectrum_range(a.range);
  if (!(a.options.fwhm > 0)) throw input_error("--fwhm", "must be a positive width in cm-1");
  const Deck deck = replay_deck(a.deck.deck);
  const Listing listing = listing_of(deck, a.deck.deck, a.deck.listing);
  const SpectrumPlan plan = plan_spectrum(deck, listing, a.options, a.deck.deck);
  const std::string out = a.output.empty()
                              ? std::filesystem::path(a.deck.deck).replace_extension(".svg").string()
                              : a.output;
  write_file_atomically(out, spectrum_svg(plan.picture), a.force);
  for (const std::string& w : plan.warnings) std::cout << "warning: " << w << "\n";
  std::size_t bands = 0;
  for (const SpectrumPanel& p : plan.picture.panels) bands += p.sticks.size();
  std::cout << out << ": problem " << plan.problem << ", " << plan.picture.panels.size() << " mass set"
            << (plan.picture.panels.size() == 1 ? ", " : "s, ") << bands << " band" << (bands == 1 ? ", " : "s, ")
            << (plan.picture.intensities ? "IR intensities (km/mol)" : "no intensities (IR-active bands of equal height)")
            << "\n";
  return kExitSuccess;
}

// Runs a command, its failures one line on standard error with status 2.
template <class F>
void guarded(CLI::App* cmd, int& status, F run) {
  cmd->callback([&status, run] {
    try {
      status = run();
    } catch (const std::exception& e) {
      std::cerr << "korvenkit: " << e.what() << "\n";
      status = kExitUnusable;
    }
  });
}

void add_deck_options(CLI::App* cmd, DeckArgs& a) {
  cmd->add_option("DECK", a.deck, "the deck")->required();
  cmd->add_option("--listing", a.listing, "read this listing of the deck instead of running it");
  cmd->add_option("--problem", a.problem, "only the problem at this position in the deck, from 1");
}

void add_build(CLI::App& app, BuildArgs& a, int& status) {
  CLI::App* b = app.add_subcommand("build", "write a deck for the molecules of a geometry file");
  b->add_option("GEOMETRY", a.geometry, "any file Open Babel reads; - for standard input")->required();
  b->add_option("--format", a.format, "the geometry's format (Open Babel's name: xyz, mol, sdf, pdb, cml, ...)");
  b->add_option("-o,--output", a.output, "the deck (default: the geometry's stem, upper case, .DAT)");
  b->add_flag("--force", a.force, "replace an existing deck");
  b->add_option("--title", a.title, "the first title card (default: the molecule's title or formula)");
  const std::map<std::string, CoordinateMode> modes{{"redundant", CoordinateMode::redundant},
                                                    {"independent", CoordinateMode::independent}};
  b->add_option("--coordinates", a.coordinates, "redundant (default) or independent")
      ->transform(CLI::CheckedTransformer(modes));
  b->add_option("--isotopologue", a.isotopologues,
                "LABEL=ATOM:ISOTOPE[,ATOM:ISOTOPE...], e.g. D2O=2:2H,3:2H; one more mass set each");
  b->add_flag("--save", a.save, "set the problem card's save flag");
  b->add_flag("--symmetry", a.symmetry, "find the point group and write symmetry coordinates");
  b->add_option("--tolerance", a.tolerance, "symmetry tolerance in Angstrom (default 0.01)")
      ->check(CLI::PositiveNumber & CLI::Range(0.0, 0.5));
  const std::map<std::string, AxesChoice> axes{{"standard", AxesChoice::standard}, {"other", AxesChoice::other}};
  b->add_option("--axes", a.axes,
                "standard (default: a planar C2v molecule in yz, a planar D2h one with z perpendicular to it and x "
                "through the most atoms) or other (x and y turned by 90 degrees: B1 and B2 of C2v trade places)")
      ->transform(CLI::CheckedTransformer(axes));
  guarded(b, status, [&a] { return run_build(a); });
}

void add_check(CLI::App& app, DeckArgs& a, int& status) {
  CLI::App* c = app.add_subcommand("check", "say what a deck describes");
  add_deck_options(c, a);
  c->add_flag("--json", a.json, "one JSON object instead of the table");
  guarded(c, status, [&a] { return run_check(a); });
}

void add_modes(CLI::App& app, ModesArgs& a, int& status) {
  CLI::App* md = app.add_subcommand("modes", "harmonic wavenumbers, PED and isotope shifts from a deck and a Hessian");
  add_deck_options(md, a.deck);
  ModesOptions& o = a.options;
  CLI::Option* hessian = md->add_option("--hessian", o.hessian, "the Cartesian Hessian: .fchk, ORCA .hess, or plain text");
  md->add_option("--force-field", o.force_field, "a force-field file (fit --write-force-field) instead of a Hessian")
      ->excludes(hessian);
  const std::map<std::string, HessianFormat> formats{
      {"fchk", HessianFormat::fchk}, {"orca", HessianFormat::orca}, {"text", HessianFormat::text}};
  md->add_option("--hessian-format", o.format, "fchk, orca or text (default: from the extension)")
      ->transform(CLI::CheckedTransformer(formats));
  const std::map<std::string, HessianUnits> units{{"hartree/bohr2", HessianUnits::hartree_per_bohr2},
                                                  {"mdyn/A", HessianUnits::mdyn_per_angstrom}};
  md->add_option("--units", o.units, "units of a plain-text Hessian: hartree/bohr2 (default) or mdyn/A")
      ->transform(CLI::CheckedTransformer(units));
  md->add_option("--hessian-geometry", o.hessian_geometry,
                 "the geometry (any file Open Babel reads) a plain-text Hessian belongs to, the deck's atoms in "
                 "the deck's order: the Hessian is turned into the deck's frame by the best fit");
  md->add_option("--frame-tolerance", o.frame_tolerance,
                 "how far (A, RMSD after the best fit) the Hessian's geometry may lie from the deck's X "
                 "(default 0.001)")
      ->check(CLI::PositiveNumber);
  md->add_flag("--allow-gradient", o.allow_gradient,
               "run the GF route at a geometry that is not stationary, on purpose (the report says so)");
  md->add_option("--mass-set", o.mass_set, "only this mass set, from 1");
  md->add_option("--scale", o.scale, "multiplies every wavenumber (default 1)")->check(CLI::PositiveNumber);
  md->add_option("--ped-threshold", o.ped_threshold, "leave out contributions below this percent (default 10)")
      ->check(CLI::Range(0.0, 100.0));
  const std::map<std::string, MatchMethod> matches{{"species", MatchMethod::species},
                                                   {"overlap", MatchMethod::overlap}};
  md->add_option("--match", o.match,
                 "isotopologues matched by species (default) or by the overlap of their eigenvectors")
      ->transform(CLI::CheckedTransformer(matches));
  md->add_option("--force-constants", a.force_constants,
                 "write F of the first mass set analysed as a Matrix Market file");
  md->add_option("--dipole-derivatives", o.dipole_derivatives,
                 "dipole derivatives as plain text, 3N rows of 3 (atomic units), in place of the Hessian file's");
  md->add_option("--molden", a.molden,
                 "write the normal modes as a Molden file (with several mass sets, one per set: NAME.TITLE.molden)");
  md->add_flag("--json", a.deck.json, "one JSON object instead of the tables");
  guarded(md, status, [&a] { return run_modes(a); });
}

void add_fit(CLI::App& app, FitArgs& a, int& status) {
  CLI::App* ft = app.add_subcommand("fit", "fit scale factors (and force constants) to observed bands of every mass set");
  add_deck_options(ft, a.deck);
  FitOptions& o = a.options;
  CLI::Option* hessian = ft->add_option("--hessian", o.hessian, "the Cartesian Hessian: .fchk, ORCA .hess, or plain text");
  ft->add_option("--force-field", o.force_field, "a force-field file (fit --write-force-field) instead of a Hessian")
      ->excludes(hessian);
  const std::map<std::string, HessianFormat> formats{
      {"fchk", HessianFormat::fchk}, {"orca", HessianFormat::orca}, {"text", HessianFormat::text}};
  ft->add_option("--hessian-format", o.format, "fchk, orca or text (default: from the extension)")
      ->transform(CLI::CheckedTransformer(formats));
  const std::map<std::string, HessianUnits> units{{"hartree/bohr2", HessianUnits::hartree_per_bohr2},
                                                  {"mdyn/A", HessianUnits::mdyn_per_angstrom}};
  ft->add_option("--units", o.units, "units of a plain-text Hessian: hartree/bohr2 (default) or mdyn/A")
      ->transform(CLI::CheckedTransformer(units));
  ft->add_option("--observed", o.observed, "the observed bands: MASS-SET MODE WAVENUMBER [WEIGHT] per line")->required();
  ft->add_option("--groups", a.groups, "default (by kind, hydrogen apart) or class (one group per coordinate class)");
  ft->add_option("--group", o.groups, "NAME=LIST: these coordinates (1-3,7) form a group of their own");
  ft->add_option("--fix", o.fixes, "NAME=VALUE: hold a group's factor at VALUE");
  ft->add_option("--refine", o.refine, "I,J or SI,SJ (several with ;): refine that element of F' as well");
  ft->add_option("--regularize", o.regularize, "pull each refined element toward its scaled start with this weight")
      ->check(CLI::PositiveNumber);
  ft->add_option("--ped-threshold", o.ped_threshold, "leave out PED contributions below this percent (default 10)")
      ->check(CLI::Range(0.0, 100.0));
  ft->add_option("--write-force-field", a.write_force_field, "write the fitted F' as a force-field file (JSON)");
  ft->add_flag("--force", a.force, "replace an existing force-field file");
  ft->add_flag("--json", a.deck.json, "one JSON object instead of the tables");
  guarded(ft, status, [&a] { return run_fit(a); });
}

void add_constants(CLI::App& app, ConstantsArgs& a, int& status) {
  CLI::App* cc = app.add_subcommand(
      "constants", "rotational, Coriolis and centrifugal-distortion constants and mean amplitudes from a Hessian");
  add_deck_options(cc, a.deck);
  ConstantsCommandOptions& o = a.options;
  CLI::Option* hessian = cc->add_option("--hessian", o.hessian, "the Cartesian Hessian: .fchk, ORCA .hess, or plain text");
  cc->add_option("--force-field", o.force_field, "a force-field file (fit --write-force-field) instead of a Hessian")
      ->excludes(hessian);
  const std::map<std::string, HessianFormat> formats{
      {"fchk", HessianFormat::fchk}, {"orca", HessianFormat::orca}, {"text", HessianFormat::text}};
  cc->add_option("--hessian-format", o.format, "fchk, orca or text (default: from the extension)")
      ->transform(CLI::CheckedTransformer(formats));
  const std::map<std::string, HessianUnits> units{{"hartree/bohr2", HessianUnits::hartree_per_bohr2},
                                                  {"mdyn/A", HessianUnits::mdyn_per_angstrom}};
  cc->add_option("--units", o.units, "units of a plain-text Hessian: hartree/bohr2 (default) or mdyn/A")
      ->transform(CLI::CheckedTransformer(units));
  cc->add_option("--mass-set", o.mass_set, "only this mass set, from 1");
  cc->add_option("--temperature", o.temperature, "K, for the mean amplitudes (default 298.15; 0: zero point)")
      ->check(CLI::NonNegativeNumber);
  cc->add_option("--representation", a.representation,
                 "axes of the asymmetric-top reductions: Ir (default), IIr, IIIr, Il, IIl or IIIl");
  cc->add_flag("--json", a.deck.json, "one JSON object instead of the tables");
  guarded(cc, status, [&a] { return run_constants(a); });
}

void add_export(CLI::App& app, OutputArgs& a, int& status) {
  CLI::App* ex = app.add_subcommand("export", "write B, G, U and the blocks of G' as Matrix Market files");
  add_deck_options(ex, a.deck);
  ex->add_option("-o,--output", a.output, "the folder (default: the deck's stem)");
  ex->add_flag("--force", a.force, "replace an earlier export in that folder");
  guarded(ex, status, [&a] { return run_export(a); });
}

void add_view(CLI::App& app, OutputArgs& a, int& status) {
  CLI::App* vw = app.add_subcommand("view", "draw a problem's molecule with its atom numbers as an SVG picture");
  add_deck_options(vw, a.deck);
  vw->add_option("-o,--output", a.output, "the picture (default: the deck's stem with .svg)");
  vw->add_flag("--force", a.force, "replace an existing picture");
  guarded(vw, status, [&a] { return run_view(a); });
}

void add_spectrum(CLI::App& app, SpectrumArgs& a, int& status) {
  CLI::App* sp = app.add_subcommand("spectrum", "draw the IR spectrum of every mass set as an SVG picture");
  add_deck_options(sp, a.deck);
  SpectrumOptions& o = a.options;
  sp->add_option("--hessian", o.hessian, "the Cartesian Hessian: .fchk, ORCA .hess, or plain text")->required();
  const std::map<std::string, HessianFormat> formats{
      {"fchk", HessianFormat::fchk}, {"orca", HessianFormat::orca}, {"text", HessianFormat::text}};
  sp->add_option("--hessian-format", o.format, "fchk, orca or text (default: from the extension)")
      ->transform(CLI::CheckedTransformer(formats));
  const std::map<std::string, HessianUnits> units{{"hartree/bohr2", HessianUnits::hartree_per_bohr2},
                                                  {"mdyn/A", HessianUnits::mdyn_per_angstrom}};
  sp->add_option("--units", o.units, "units of a plain-text Hessian: hartree/bohr2 (default) or mdyn/A")
      ->transform(CLI::CheckedTransformer(units));
  sp->add_option("--dipole-derivatives", o.dipole_derivatives,
                 "dipole derivatives as plain text, 3N rows of 3 (atomic units), in place of the Hessian file's");
  sp->add_option("--observed", o.observed, "observed bands: MASS-SET MODE WAVENUMBER [WEIGHT] per line, as for fit");
  sp->add_option("--fwhm", o.fwhm, "full width at half maximum of each band's Lorentzian, cm-1 (default 10)");
  sp->add_option("--range", a.range, "the wavenumbers drawn, LO:HI in cm-1 (default: the bands' with a margin)");
  sp->add_option("-o,--output", a.output, "the picture (default: the deck's name with .svg)");
  sp->add_flag("--force", a.force, "replace an existing picture");
  guarded(sp, status, [&a] { return run_spectrum(a); });
}

}  // namespace

int run_cli(int argc, char** argv) {
  CLI::App app{"korvenkit: decks for KORVEN from geometry files, and what a deck describes"};
  app.set_version_flag("--version", std::string("korvenkit ") + KORVEN_VERSION);
  app.require_subcommand(1);
  // A usage error is one line too, like every other error.
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string("korvenkit: ") + e.what() + " (korvenkit --help tells the usage)\n";
  });
  int status = kExitSuccess;
  BuildArgs build;
  DeckArgs check;
  ModesArgs modes;
  FitArgs fitting;
  ConstantsArgs constants;
  OutputArgs exporting, viewing;
  add_build(app, build, status);
  add_check(app, check, status);
  add_modes(app, modes, status);
  add_fit(app, fitting, status);
  add_constants(app, constants, status);
  add_export(app, exporting, status);
  add_view(app, viewing, status);
  SpectrumArgs spectrum;
  add_spectrum(app, spectrum, status);
  // CLI11 calls a word that names no command a missing command; say what it is.
  if (argc > 1 && argv[1][0] != '-') {
    try {
      app.get_subcommand(argv[1]);
    } catch (const CLI::OptionNotFound&) {
      std::cerr << "korvenkit: " << argv[1]
                << " is not a command: build, check, modes, fit, constants, export, view or spectrum (korvenkit --help)\n";
      return kExitUnusable;
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitSuccess : kExitUnusable;
  }
  return status;
}

}  // namespace korven::kit
