#include "kit/app/cli.h"

#include <filesystem>
#include <iostream>
#include <optional>

#include <CLI/CLI.hpp>

#include "kit/commands/build_deck.h"
#include "kit/commands/check_report.h"
#include "kit/io/deck_replay.h"
#include "kit/io/deck_writer.h"
#include "kit/io/engine_run.h"
#include "kit/io/geometry_input.h"
#include "kit/commands/json_output.h"
#include "kit/base/kit_error.h"
#include "kit/io/listing_reader.h"
#include "kit/commands/matrix_export.h"
#include "kit/commands/modes_report.h"
#include "kit/commands/molecule_view.h"
#include "kit/vibrations/vibrations.h"

namespace korven::kit {
namespace {

struct BuildArgs {
  std::string geometry, format, output, title, coordinates = "redundant";
  std::vector<std::string> isotopologues;
  bool force = false, save = false, symmetry = false;
  double tolerance = 0.01;
};

struct DeckArgs {
  std::string deck, listing;
  int problem = 0;
  bool json = false;
};

int run_build(const BuildArgs& a) {
  if (a.geometry == "-" && (a.format.empty() || a.output.empty()))
    throw input_error("-", "reading standard input needs --format and -o");
  BuildOptions options;
  options.source_name = a.geometry == "-" ? std::string("standard input") : a.geometry;
  options.coordinates = a.coordinates == "independent" ? CoordinateMode::independent : CoordinateMode::redundant;
  options.title = a.title;
  options.save = a.save;
  options.symmetry = a.symmetry;
  options.tolerance = a.tolerance;
  for (const std::string& text : a.isotopologues) options.isotopologues.push_back(parse_isotopologue(text));
  const std::filesystem::path out =
      a.output.empty() ? std::filesystem::path(default_deck_name(a.geometry)) : std::filesystem::path(a.output);
  // The geometry's own faults come first: they are what the user must mend.
  const std::vector<Molecule> molecules = read_geometry(a.geometry, a.format);
  if (!a.force && std::filesystem::exists(out))
    throw input_error(out.string(), "exists; use --force to replace it");
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

// The deck's listing: the one named, or the engine's run of the deck in a
// private folder.
Listing listing_for(const DeckArgs& a) {
  if (!a.listing.empty()) return read_listing_file(a.listing);
  const EngineRun run = run_engine(a.deck);
  if (run.status != 0)
    throw input_error(a.deck, "KORVEN ended with a run-time failure: " + engine_failure_line(run));
  return read_listing(run.listing, a.deck + " (its listing)");
}

std::optional<int> problem_choice(const DeckArgs& a, std::size_t problems) {
  if (a.problem == 0) return std::nullopt;
  if (a.problem < 0 || static_cast<std::size_t>(a.problem) > problems)
    throw input_error(a.deck, "has " + std::to_string(problems) + " problem" + (problems == 1 ? "" : "s") +
                                  "; --problem " + std::to_string(a.problem) + " names none of them");
  return a.problem;
}

int run_check(const DeckArgs& a) {
  const Deck deck = replay_deck(a.deck);
  const Listing listing = listing_for(a);
  const CheckReport report = check_deck(deck, listing, problem_choice(a, deck.problems.size()), a.deck);
  std::cout << (a.json ? check_json(report) : check_text(report));
  return report.exit_status();
}

struct ModesArgs {
  DeckArgs deck;
  std::string hessian, format, units = "hartree/bohr2", force_constants;
  int mass_set = 0;
  double scale = 1, ped_threshold = 10;
};

int run_modes(const ModesArgs& a) {
  ModesOptions o;
  o.hessian = a.hessian;
  if (!a.format.empty()) o.format = hessian_format_from_name(a.format);
  o.units = *hessian_units_from_name(a.units);
  if (a.mass_set != 0) o.mass_set = a.mass_set;
  if (a.deck.problem != 0) o.problem = a.deck.problem;
  o.scale = a.scale;
  o.ped_threshold = a.ped_threshold;
  const Deck deck = replay_deck(a.deck.deck);
  const Listing listing = listing_for(a.deck);
  const ModesReport report = analyze_modes(deck, listing, o, a.deck.deck);
  if (!a.force_constants.empty() && !report.problems.empty() && !report.problems.front().mass_sets.empty()) {
    const ProblemModes& p = report.problems.front();
    write_matrix_market(a.force_constants, p.mass_sets.front().f,
                        "internal force constants of " + a.deck.deck + ", problem " + std::to_string(p.index) +
                            ", mass set " + std::to_string(p.mass_set_numbers.front()) +
                            " (mdyn/A, mdyn A/rad^2, mdyn/rad)");
  }
  std::cout << (a.deck.json ? modes_json(report) : modes_text(report, a.ped_threshold));
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
  const Listing listing = listing_for(a.deck);
  const std::filesystem::path dir =
      a.output.empty() ? std::filesystem::path(a.deck.deck).stem() : std::filesystem::path(a.output);
  const MatrixExport plan = plan_export(deck, listing, only, a.deck.deck);
  write_export(plan, export_index_json(plan), dir, a.force);
  for (const ExportedMatrix& m : plan.matrices)
    std::cout << (dir / m.file).string() << ": " << m.rows << " x " << m.columns << "\n";
  std::cout << (dir / "index.json").string() << ": " << plan.matrices.size() << " file"
            << (plan.matrices.size() == 1 ? "" : "s") << "\n";
  return kExitSuccess;
}

int run_view(const OutputArgs& a) {
  const Deck deck = replay_deck(a.deck.deck);
  if (deck.problems.empty()) throw input_error(a.deck.deck, "holds no problem to draw");
  const int position = problem_choice(a.deck, deck.problems.size()).value_or(1);
  // The engine's run tells why it rejects a problem; a run that ends early
  // still leaves the picture of what the deck holds.
  Listing listing;
  std::string run_note;
  if (!a.deck.listing.empty()) {
    listing = read_listing_file(a.deck.listing);
  } else {
    const EngineRun run = run_engine(a.deck.deck);
    if (run.status != 0) run_note = "KORVEN ended with a run-time failure: " + engine_failure_line(run);
    try {
      listing = read_listing(run.listing, a.deck.deck + " (its listing)");
    } catch (const InputError&) {
      listing = Listing{};
    }
  }
  if (run_note.empty() && !deck.run_end.empty()) run_note = deck.run_end;
  const ListedProblem* listed = static_cast<std::size_t>(position) <= listing.problems.size()
                                    ? &listing.problems[static_cast<std::size_t>(position) - 1]
                                    : nullptr;
  const std::string out =
      a.output.empty() ? std::filesystem::path(a.deck.deck).stem().string() + ".svg" : a.output;
  const MoleculePicture picture = picture_of(deck, position, listed, run_note, a.deck.deck);
  write_picture_file(out, molecule_svg(picture), a.force);
  std::cout << out << ": problem " << position << ", " << picture.x.size() << " atoms, " << picture.bonds.size()
            << (picture.bonds.size() == 1 ? " bond, " : " bonds, ") << picture.coordinates.size() << " coordinate"
            << (picture.coordinates.size() == 1 ? "" : "s") << "\n";
  return kExitSuccess;
}

void add_deck_options(CLI::App* cmd, DeckArgs& a) {
  cmd->add_option("DECK", a.deck, "the deck")->required();
  cmd->add_option("--listing", a.listing, "read this listing of the deck instead of running it");
  cmd->add_option("--problem", a.problem, "only the problem at this position in the deck, from 1");
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

  BuildArgs build;
  CLI::App* b = app.add_subcommand("build", "write a deck for the molecules of a geometry file");
  b->add_option("GEOMETRY", build.geometry, "any file Open Babel reads; - for standard input")->required();
  b->add_option("--format", build.format, "the geometry's format (Open Babel's name: xyz, mol, sdf, pdb, cml, ...)");
  b->add_option("-o,--output", build.output, "the deck (default: the geometry's stem, upper case, .DAT)");
  b->add_flag("--force", build.force, "replace an existing deck");
  b->add_option("--title", build.title, "the first title card (default: the molecule's title or formula)");
  b->add_option("--coordinates", build.coordinates, "redundant (default) or independent")
      ->check(CLI::IsMember({"redundant", "independent"}));
  b->add_option("--isotopologue", build.isotopologues,
                "LABEL=ATOM:ISOTOPE[,ATOM:ISOTOPE...], e.g. D2O=2:2H,3:2H; one more mass set each");
  b->add_flag("--save", build.save, "set the problem card's save flag");
  b->add_flag("--symmetry", build.symmetry, "find the point group and write symmetry coordinates");
  b->add_option("--tolerance", build.tolerance, "symmetry tolerance in Angstrom (default 0.01)")
      ->check(CLI::PositiveNumber & CLI::Range(0.0, 0.5));

  DeckArgs check;
  CLI::App* c = app.add_subcommand("check", "say what a deck describes");
  add_deck_options(c, check);
  c->add_flag("--json", check.json, "one JSON object instead of the table");

  ModesArgs modes;
  CLI::App* md = app.add_subcommand("modes", "harmonic wavenumbers, PED and isotope shifts from a deck and a Hessian");
  add_deck_options(md, modes.deck);
  md->add_option("--hessian", modes.hessian, "the Cartesian Hessian: .fchk, ORCA .hess, or plain text")->required();
  md->add_option("--hessian-format", modes.format, "fchk, orca or text (default: from the extension)")
      ->check(CLI::IsMember({"fchk", "orca", "text"}));
  md->add_option("--units", modes.units, "units of a plain-text Hessian: hartree/bohr2 (default) or mdyn/A")
      ->check(CLI::IsMember({"hartree/bohr2", "mdyn/A"}));
  md->add_option("--mass-set", modes.mass_set, "only this mass set, from 1");
  md->add_option("--scale", modes.scale, "multiplies every wavenumber (default 1)")->check(CLI::PositiveNumber);
  md->add_option("--ped-threshold", modes.ped_threshold, "leave out contributions below this percent (default 10)")
      ->check(CLI::Range(0.0, 100.0));
  md->add_option("--force-constants", modes.force_constants, "write F of the first mass set analysed as a Matrix Market file");
  md->add_flag("--json", modes.deck.json, "one JSON object instead of the tables");

  OutputArgs exporting;
  CLI::App* ex = app.add_subcommand("export", "write B, G, U and the blocks of G' as Matrix Market files");
  add_deck_options(ex, exporting.deck);
  ex->add_option("-o,--output", exporting.output, "the folder (default: the deck's stem)");
  ex->add_flag("--force", exporting.force, "replace an earlier export in that folder");

  OutputArgs viewing;
  CLI::App* vw = app.add_subcommand("view", "draw a problem's molecule with its atom numbers as an SVG picture");
  add_deck_options(vw, viewing.deck);
  vw->add_option("-o,--output", viewing.output, "the picture (default: the deck's stem with .svg)");
  vw->add_flag("--force", viewing.force, "replace an existing picture");

  // CLI11 calls a word that names no command a missing command; say what it is.
  if (argc > 1 && argv[1][0] != '-') {
    try {
      app.get_subcommand(argv[1]);
    } catch (const CLI::OptionNotFound&) {
      std::cerr << "korvenkit: " << argv[1] << " is not a command: build, check, modes, export or view (korvenkit --help)\n";
      return kExitUnusable;
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? kExitSuccess : kExitUnusable;
  }
  try {
    if (b->parsed()) return run_build(build);
    if (c->parsed()) return run_check(check);
    if (md->parsed()) return run_modes(modes);
    if (ex->parsed()) return run_export(exporting);
    if (vw->parsed()) return run_view(viewing);
  } catch (const InputError& e) {
    std::cerr << "korvenkit: " << e.what() << "\n";
    return kExitUnusable;
  } catch (const std::exception& e) {
    std::cerr << "korvenkit: " << e.what() << "\n";
    return kExitUnusable;
  }
  return kExitSuccess;
}

}  // namespace korven::kit
