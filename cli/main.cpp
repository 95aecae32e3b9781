// pelmo-cli: runs transformation jobs from the command line, with the same
// engine, checks and messages as the desktop program.
//
// ADDING AN OPTION: find the function of its group below (JobOptions,
// LayoutOptions, OutputOptions, BatchOptions, EstimationOptions) and add one
// `g.Add(...)` there with
//   - its names ("--threads", or "-q,--quiet"),
//   - the names of its values ("N", "DX DY DH", "[FILE]" for an optional
//     one, "" for a switch),
//   - its help line, and
//   - an action `[](Run& r, const Given& v) { ... }` that applies the values
//     (v[0], v[1], ...) to the run: the session, its settings, or a field
//     you add to `Run`.
// Actions run in command-line order once the whole line has been read, so
// later options override earlier ones and the properties file. In an
// action, `v.Bad()` is a usage error (exit 2, "--name needs <what>"; give
// <what> as the last argument of Add when the value names do not say it) and
// `throw JobStop{text}` stops with a message (exit 1). --help lists the
// option in its group; add it to the man page docs/pelmo-cli.1 too (a test
// checks that both list the same options).

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/terminal.hpp"
#include "core/data_dir.hpp"
#include "core/errors.hpp"
#include "core/fileio.hpp"
#include "core/numtext.hpp"
#include "core/settings.hpp"
#include "formats/ascii_layout.hpp"
#include "geodesy/selftest.hpp"
#include "job/estimate_run.hpp"
#include "job/job_start.hpp"
#include "paramfiles/paramsets.hpp"
#include "paramfiles/properties.hpp"

#ifndef PELMO_VERSION
#define PELMO_VERSION "1.04"
#endif

namespace pelmo::cli {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitJobStopped = 1;
constexpr int kExitUsage = 2;
constexpr int kExitWarnings = 3;

/// A usage error: the text after "pelmo-cli: " (exit 2).
struct UsageError {
  std::string text;
};
/// A job that stops before it starts: the text after "pelmo-cli: " (exit 1).
struct JobStop {
  std::string text;
};
/// The program ends here with this exit status (--version, --selftest).
struct Finish {
  int status;
};

/// Everything the options set up: the session with its settings and what
/// the batch tool itself needs.
struct Run {
  TerminalFrontEnd fe;
  Session session{fe, DecimalSignFromEnvironment()};
  TransformSettings& t = session.settings;
  std::optional<std::string> type;         ///< --type
  std::optional<std::string> saveParFile;  ///< --save-par
  std::optional<std::string> outDir;       ///< --out-dir
  bool typeFromPar = false;                ///< a properties file was loaded
  bool strict = false;                     ///< --strict: warnings give exit status 3
  std::vector<std::string> files;          ///< SOURCE TARGET, or SOURCE... with --out-dir
  std::vector<std::string> control;        ///< --estimate: one or two files
  int parameters = kSevenParameters;       ///< --three-parameter: 3
  std::optional<std::string> reportFile;   ///< --report
  std::optional<std::string> save7parFile; ///< --save-7par
};

struct OptionDef;
/// One occurrence of an option on the command line and its values.
struct Given {
  const OptionDef* def;
  std::vector<std::string> values;
  const std::string& operator[](std::size_t i) const { return values[i]; }
  /// Usage error "--name needs <what>".
  [[noreturn]] void Bad() const;
};
using Action = std::function<void(Run&, const Given&)>;

/// An option: its name for messages, what its values must be, its action.
struct OptionDef {
  std::string name;
  std::string needs;
  bool isSwitch = false;
  Action action;
};

void Given::Bad() const { throw UsageError{def->name + " needs " + def->needs}; }

/// The options of one group of --help; Add() defines one option.
class Group {
 public:
  Group(CLI::App& app, std::vector<std::unique_ptr<OptionDef>>& defs, std::vector<Given>& given,
        std::string title)
      : app_(app), defs_(defs), given_(given), title_(std::move(title)) {}

  /// `values`: value names separated by blanks ("" for a switch, "[X]" for
  /// one optional value). `needs`: the end of the usage message for a
  /// missing or bad value (default: "a file" for FILE, else `values`).
  CLI::Option* Add(const std::string& names, const std::string& values, const std::string& help,
                   Action action, std::string needs = "") const {
    auto def = std::make_unique<OptionDef>();
    const OptionDef* s = def.get();
    const auto record = [&given = given_, s](const CLI::results_t& r) {
      given.push_back({s, r});
      return true;
    };
    CLI::Option* o = app_.add_option(names, record, help);
    def->name = o->get_name();
    def->needs = !needs.empty() ? std::move(needs) : values == "FILE" ? "a file" : values;
    def->action = std::move(action);
    def->isSwitch = values.empty();
    defs_.push_back(std::move(def));
    const auto count = static_cast<int>(std::count(values.begin(), values.end(), ' ') + 1);
    if (values.empty()) {
      o->expected(0);
    } else if (values.front() == '[') {
      o->expected(0, 1);
    } else {
      o->type_size(count)->expected(1);
    }
    return o->type_name(values)->group(title_)->trigger_on_parse();
  }

 private:
  CLI::App& app_;
  std::vector<std::unique_ptr<OptionDef>>& defs_;
  std::vector<Given>& given_;
  std::string title_;
};

// ------------------------------------------------------------- helpers

/// Sets one projection group from its name; false for an unknown name.
bool SetProjection(TransformSettings& t, std::string_view name, bool input) {
  std::string n(name);
  std::transform(n.begin(), n.end(), n.begin(), [](unsigned char c) { return std::tolower(c); });
  bool* in[] = {&t.optInGK, &t.optINGKallgemein, &t.optINetrs, &t.optInKrovak, &t.optInBL};
  bool* out[] = {&t.optOutGK, &t.optOutGKallgemein, &t.optOUTetrs, &t.optOutKrovak, &t.optOutBL};
  bool** flags = input ? in : out;
  static constexpr std::string_view kNames[] = {"gk-germ", "gk-general", "utm", "krovak", "ell"};
  for (int i = 0; i < 5; ++i) {
    if (n == kNames[i]) {
      for (int j = 0; j < 5; ++j) *flags[j] = (i == j);
      return true;
    }
  }
  return false;
}

bool EndsWithShp(const std::string& name) {
  if (name.size() < 4) return false;
  std::string ext = name.substr(name.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".shp";
}

void LoadPar(Run& r, const std::string& file) {
  OptionTable dialog = r.session.OptionValues;
  try {
    LoadProperties(file, r.session, dialog);
  } catch (const PropertiesError& e) {
    throw JobStop{file + ": " + PropertiesErrorMessage(e.number(), false) + " (" + e.what() + ")"};
  }
  for (int k = 0; k < kOptionCount; ++k) {
    if (k != opt::kSevPar && k != opt::kTranslation) r.session.OptionValues[k] = dialog[k];
  }
  r.typeFromPar = true;
}

/// What the entries of the option table mean, and what they hold: a
/// number, a check-box state (0, 1, 2) or a truth value (True, False).
struct OptionEntry {
  const char* meaning;
  enum Kind { kNumber, kCheck, kTruth } kind;
};
constexpr OptionEntry kOptionEntries[kOptionCount] = {
    {"lock the window's text fields (0, 1)", OptionEntry::kCheck},
    {"GK-Germ input: central meridian (degrees; index = meridian / 3)", OptionEntry::kNumber},
    {"GK-Germ output: central meridian", OptionEntry::kNumber},
    {"UTM input: central meridian (zone = (meridian + 177) / 6 + 1)", OptionEntry::kNumber},
    {"UTM output: central meridian", OptionEntry::kNumber},
    {"UTM input: scale (0.9996)", OptionEntry::kNumber},
    {"UTM output: scale", OptionEntry::kNumber},
    {"window: expert layout (0, 1)", OptionEntry::kCheck},
    {"window: upper progress bar (0, 1)", OptionEntry::kCheck},
    {"window: lower progress bar (0, 1)", OptionEntry::kCheck},
    {"seven-parameter mode (True, False)", OptionEntry::kTruth},
    {"translation mode (True, False)", OptionEntry::kTruth},
    {"GK-general input: false easting (m)", OptionEntry::kNumber},
    {"GK-general input: central meridian (degrees)", OptionEntry::kNumber},
    {"GK-general input: false northing (m)", OptionEntry::kNumber},
    {"GK-general input: scale", OptionEntry::kNumber},
    {"GK-general output: false easting (m)", OptionEntry::kNumber},
    {"GK-general output: central meridian (degrees)", OptionEntry::kNumber},
    {"GK-general output: false northing (m)", OptionEntry::kNumber},
    {"GK-general output: scale", OptionEntry::kNumber},
};

/// The --help section on the entries of --option.
std::string OptionEntriesHelp() {
  std::string text = "Entries of --option N=TEXT:\n";
  for (int n = 0; n < kOptionCount; ++n) {
    text += (n < 10 ? "   " : "  ") + std::to_string(n) + "  " + kOptionEntries[n].meaning + "\n";
  }
  return text;
}

void SetOption(Run& r, const Given& v) {
  const auto eq = v[0].find('=');
  int n = -1;
  if (eq != std::string::npos) {
    try {
      n = std::stoi(v[0].substr(0, eq));
    } catch (const std::exception&) {
      n = -1;
    }
  }
  if (n < 0 || n >= kOptionCount) v.Bad();
  const std::string text = v[0].substr(eq + 1);
  // Refused here rather than at the first point of the job.
  const OptionEntry& e = kOptionEntries[n];
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  const bool ok = e.kind == OptionEntry::kNumber  ? IsNumeric(text)
                  : e.kind == OptionEntry::kCheck ? text == "0" || text == "1" || text == "2"
                                                  : lower == "true" || lower == "false";
  if (!ok) {
    throw UsageError{"--option " + v[0] + ": entry " + std::to_string(n) + " (" + e.meaning +
                     ") needs " +
                     (e.kind == OptionEntry::kNumber  ? "a number"
                      : e.kind == OptionEntry::kCheck ? "0, 1 or 2"
                                                      : "True or False")};
  }
  r.session.OptionValues[n] = text;
}

int RunSelfTest(const std::string& file) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) {
    throw JobStop{"Die Datei \"" + file + "\" kann nicht angelegt werden (Selbsttest nicht geschrieben)"};
  }
  pelmo::geotra::WriteSelfTest(out);
  out.close();
  if (!out) throw JobStop{"Fehler beim Schreiben von \"" + file + "\""};
  return kExitOk;
}

// ------------------------------------------------------------- the options

void JobOptions(const Group& g) {
  g.Add("--par", "FILE", "load a properties file (.par)",
        [](Run& r, const Given& v) { LoadPar(r, v[0]); });
  const std::string projections = "GK-Germ, GK-general, UTM, Krovak, Ell";
  g.Add("--in", "NAME", "input projection: " + projections,
        [](Run& r, const Given& v) { if (!SetProjection(r.t, v[0], true)) v.Bad(); },
        "one of " + projections);
  g.Add("--out", "NAME", "output projection, same names",
        [](Run& r, const Given& v) { if (!SetProjection(r.t, v[0], false)) v.Bad(); },
        "one of " + projections);
  for (int k : {1, 2}) {
    const std::string n = std::to_string(k);
    g.Add("--ell" + n, "FILE", std::string("ellipsoid of the ") + (k == 1 ? "input" : "output") +
                                   " coordinates (.ell file or library name)",
          [k](Run& r, const Given& v) {
            if (!LoadEllipsoidFile(LibraryFile(v[0], ".ell"), r.t, k, r.session.decimalSign())) {
              throw JobStop{"Ellipsoid-Datei \"" + v[0] + "\" kann nicht gelesen werden"};
            }
          });
  }
  for (int k : {1, 2}) {
    g.Add("--7par" + std::to_string(k), "FILE",
          std::string(k == 1 ? "first" : "second") +
              " seven-parameter set (.7pr file or library name)",
          [k](Run& r, const Given& v) {
            if (!LoadSevenParFile(LibraryFile(v[0], ".7pr"), r.t, k, r.session.decimalSign())) {
              throw JobStop{"Parameter-Datei \"" + v[0] + "\" kann nicht gelesen werden"};
            }
            r.session.grids[k - 1] = GridSlot{};
          });
  }
  for (int k : {1, 2}) {
    const std::string n = std::to_string(k);
    g.Add("--grid" + n, "FILE",
          k == 1 ? "shift grid (.gsb, .tif) in place of the first seven-parameter set; a bare "
                   "name is looked up in PROJ's data folders and the shipped library"
                 : "shift grid in place of the second seven-parameter set",
          [k](Run& r, const Given& v) {
            if (v[0].empty()) v.Bad();
            r.session.grids[k - 1].file = v[0];
            (k == 1 ? r.t.txtsevenParSys : r.t.txtsevenParSys2) =
                std::filesystem::path(v[0]).filename().string();
          });
    g.Add("--inverse" + n, "", "apply the grid of --grid" + n + " from its target to its source datum",
          [k](Run& r, const Given&) { r.session.grids[k - 1].inverse = true; });
  }
  g.Add("--option", "N=TEXT", "entry N (0-19) of the option table", SetOption,
        "N=TEXT with N from 0 to 19");
  g.Add("--translation", "DX DY DH", "translation mode with these shifts",
        [](Run& r, const Given& v) {
          r.t.txtDX = v[0];
          r.t.txtDY = v[1];
          r.t.txtDH = v[2];
          r.t.optTranslation = true;
          r.t.optSevPar = false;
          r.session.OptionValues[opt::kSevPar] = kFalseText;
          r.session.OptionValues[opt::kTranslation] = kTrueText;
        });
  g.Add("--type", "ascii|shape",
        "file type (default: the properties file's, else shape for a source ending in .shp, "
        "else ascii)",
        [](Run& r, const Given& v) {
          if (v[0] != "ascii" && v[0] != "shape") v.Bad();
          r.type = v[0];
        },
        "ascii or shape");
}

void LayoutOptions(const Group& g) {
  g.Add("--columns", "LIST",
        "the meaning of each column of an ASCII line, in order, from id (any text, copied), "
        "first, second, height, skip (copied); e.g. id,second,first,height",
        [](Run& r, const Given& v) {
          std::string error;
          if (!ParseAsciiColumns(v[0], r.session.asciiLayout.columns, error)) {
            throw UsageError{"--columns " + v[0] + ": " + error};
          }
          r.session.asciiLayout.active = true;
        },
        "a list such as id,first,second,height");
  g.Add("--separator", "blank|tab|comma|semicolon",
        "what separates the columns (blank: one or more blanks; comma: the decimal sign must be "
        "a point)",
        [](Run& r, const Given& v) {
          if (!ParseAsciiSeparator(v[0], r.session.asciiLayout.separator)) v.Bad();
          r.session.asciiLayout.active = true;
        },
        "blank, tab, comma or semicolon");
  g.Add("--header", "N", "the first N lines are copied unchanged",
        [](Run& r, const Given& v) {
          const char* end = v[0].data() + v[0].size();
          long n = -1;
          if (std::from_chars(v[0].data(), end, n).ptr != end || n < 0) v.Bad();
          r.session.asciiLayout.headerLines = n;
          r.session.asciiLayout.active = true;
        },
        "a number of lines (0 or more)");
}

void OutputOptions(const Group& g) {
  g.Add("--decimal", "point|comma|locale",
        "decimal sign of the written numbers (default: locale, the one of LC_ALL, LC_NUMERIC or "
        "LANG, and with an ASCII layout the one of each line; point is what GIS programs read)",
        [](Run& r, const Given& v) {
          if (v[0] != "point" && v[0] != "comma" && v[0] != "locale") v.Bad();
          const char sign = v[0] == "point"   ? '.'
                            : v[0] == "comma" ? ','
                                              : DecimalSignFromEnvironment();
          r.session.setDecimalSign(sign);
          r.session.asciiLayout.decimalSign = sign;
        },
        "point, comma or locale");
  g.Add("--strict", "",
        "plausibility warnings (wrong zone, far from the central meridian, results out of "
        "range) give exit status 3; the target is still written",
        [](Run& r, const Given&) { r.strict = true; });
  g.Add("--save-par", "FILE",
        "write the effective configuration as a properties file (without SOURCE and TARGET: "
        "only that)",
        [](Run& r, const Given& v) { r.saveParFile = v[0]; });
}

void BatchOptions(const Group& g) {
  g.Add("--out-dir", "DIR",
        "several sources: write each result into DIR under the source's name, go on after a "
        "failed file, one line per file and a total",
        [](Run& r, const Given& v) { r.outDir = v[0]; }, "a folder");
  g.Add("--yes", "",
        "answer Yes to every overwrite question; an existing ASCII target is replaced only "
        "with --yes or a Yes typed on a terminal",
        [](Run& r, const Given&) { r.fe.yes = true; });
  g.Add("--quiet", "", "no log lines and no summary",
        [](Run& r, const Given&) { r.fe.quiet = true; });
  g.Add("--threads", "N",
        "transform on N threads (default: one per core); the result is the same with any N",
        [](Run& r, const Given& v) {
          const char* end = v[0].data() + v[0].size();
          int n = 0;
          if (std::from_chars(v[0].data(), end, n).ptr != end || n < 1) v.Bad();
          r.session.threads = n;
        },
        "a number of threads (1 or more)");
  g.Add("--selftest", "[FILE]",
        "write the self-test records (default: test.txt in the temporary folder) and exit",
        [](Run&, const Given& v) {
          const std::string file =
              v.values.empty() || v[0].empty()
                  ? (std::filesystem::temp_directory_path() / "test.txt").string()
                  : v[0];
          throw Finish{RunSelfTest(file)};
        });
  g.Add("--version", "", "print the version and exit", [](Run&, const Given&) {
    std::cout << "pelmo-cli " << PELMO_VERSION << '\n';
    throw Finish{kExitOk};
  });
}

void EstimationOptions(const Group& g) {
  g.Add("--estimate", "CONTROL [CONTROL2]",
        "estimate a parameter set from control points known in the input system (1) and the "
        "output system (2): one file of lines \"id first1 second1 height1 first2 second2 "
        "height2\", or two files of \"id first second height\" matched by id; the report goes "
        "to standard output, the set into the first transformation",
        [](Run& r, const Given& v) { r.control = v.values; }, "one or two control-point files")
      ->type_size(1)
      ->expected(1, 2);
  g.Add("--three-parameter", "", "estimate the three translations only",
        [](Run& r, const Given&) { r.parameters = kThreeParameters; });
  g.Add("--report", "FILE", "also write the estimation report to FILE",
        [](Run& r, const Given& v) { r.reportFile = v[0]; });
  g.Add("--save-7par", "FILE", "write the estimated set as a seven-parameter file (.7pr)",
        [](Run& r, const Given& v) { r.save7parFile = v[0]; });
}

/// --estimate: estimates, prints the report, writes the report file and the
/// .7pr file, and puts the set into the first transformation for a job that
/// follows.
void Estimate(Run& r) {
  if (!r.save7parFile) throw UsageError{"--estimate needs --save-7par FILE"};
  EstimateRun run;
  try {
    run = RunEstimate(r.session, r.control[0], r.control.size() > 1 ? r.control[1] : "",
                      r.parameters);
  } catch (const std::exception& e) {
    throw JobStop{e.what()};
  }
  const std::string report = EstimateReport(run, r.session.decimalSign());
  if (!r.fe.quiet) {
    std::string shown = report;
    std::erase(shown, '\r');
    std::cout << shown << std::flush;
  }
  const SevenParams set = EstimatedSet(run.estimate);
  try {
    if (r.reportFile) WriteEstimateReport(*r.reportFile, report);
    WriteSevenParFile(*r.save7parFile, set);
  } catch (const RunTimeError& e) {
    throw JobStop{e.what()};
  }
  AssignSevenPar(r.t, 1, set, r.session.decimalSign());
  r.session.grids[0] = GridSlot{};  // the set takes the place of a grid
}

// ------------------------------------------------------------- --help

constexpr const char* kUsage =
    "Usage: pelmo-cli [OPTIONS] SOURCE TARGET\n"
    "       pelmo-cli [OPTIONS] --out-dir DIR SOURCE...\n"
    "       pelmo-cli --selftest [FILE]\n"
    "       pelmo-cli [OPTIONS] --save-par FILE\n"
    "       pelmo-cli [OPTIONS] --estimate CONTROL [CONTROL2] --save-7par FILE\n"
    "\n"
    "Transforms an ASCII coordinate file or a shapefile (.shp with .shx and .dbf)\n"
    "from one projection and datum into another. Options are applied in order:\n"
    "later ones override earlier ones and the properties file. A SOURCE or TARGET\n"
    "- is standard input or output (ASCII files).\n";

constexpr const char* kFooter =
    "Exit status: 0 done, 1 the job stopped with a message, 2 usage error,\n"
    "3 done with plausibility warnings (--strict).";

/// --help: the usage lines, then the options by group, each described in
/// lines that fit a terminal of 80 columns.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
    constexpr std::size_t kIndent = 26, kWidth = 79;
    std::string out = kUsage;
    for (const std::string& group : app->get_groups()) {
      const auto options = app->get_options([&](const CLI::Option* o) {
        return o->get_group() == group && o->nonpositional();
      });
      if (group.empty() || options.empty()) continue;
      out += "\n" + group + ":\n";
      for (const CLI::Option* o : options) {
        std::string line = "  " + o->get_name(false, true);
        for (std::size_t c = line.find(','); c != std::string::npos; c = line.find(',', c + 2)) {
          line.insert(c + 1, " ");
        }
        if (!o->get_type_name().empty()) line += " " + o->get_type_name();
        // Words of the description from column kIndent on, wrapped.
        std::istringstream words(o->get_description());
        std::string word;
        std::size_t column = line.size();
        bool first = true;
        while (words >> word) {
          if (first && column < kIndent) {
            line.append(kIndent - column, ' ');
          } else if (first || column + 1 + word.size() > kWidth) {
            line += "\n" + std::string(kIndent, ' ');
          } else {
            line += ' ';
          }
          line += word;
          column = line.size() - line.rfind('\n') - 1;
          first = false;
        }
        out += line + "\n";
      }
    }
    return out + "\n" + OptionEntriesHelp() + "\n" + app->get_footer() + "\n";
  }
};

/// The usage message of a command-line error found by the parser.
std::string ParseErrorText(const CLI::ParseError& e, const CLI::App& app,
                           const std::vector<std::unique_ptr<OptionDef>>& defs) {
  if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
    for (const std::string& a : app.remaining()) {
      if (a.starts_with("-")) return "unknown option " + a;
    }
  }
  std::string what = e.what();
  for (const auto& s : defs) {
    if (what.starts_with(s->name + ":") || what.ends_with(" " + s->name)) {
      return s->name + " needs " + s->needs;
    }
  }
  return what;
}

// ------------------------------------------------------------- the job

/// Names the files of the next job and sets its type: --type, else the
/// properties file's, else (`byName`) by the source's extension.
void SetFiles(Run& r, const std::string& source, const std::string& target, bool byName) {
  TransformSettings& t = r.t;
  t.txtQuelldatei = source;
  t.txtZielDatei = target;
  if (r.type) {
    t.optSHP = *r.type == "shape";
    t.optASCII = !t.optSHP;
  } else if (byName) {
    t.optSHP = EndsWithShp(source);
    t.optASCII = !t.optSHP;
  }
}

struct JobResult {
  bool done = false;
  long points = 0;
  double seconds = 0;
  long warnings = 0;  ///< plausibility warnings
};

/// Runs the job the settings describe.
JobResult RunOneJob(Run& r) {
  TransformSettings& t = r.t;
  r.session.Touch();
  r.fe.interactive = isatty(STDIN_FILENO) != 0 && isatty(STDERR_FILENO) != 0 &&
                     t.txtQuelldatei != kStandardStreamName;
  r.fe.progressLine = !r.fe.quiet && isatty(STDERR_FILENO) != 0;
  r.fe.shapeJob = t.optSHP;
  r.fe.StartJob();
  CatchInterrupt();
  const auto start = std::chrono::steady_clock::now();
  const JobOutcome outcome = RunJob(r.session);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  r.fe.ClearProgress();
  return {outcome == JobOutcome::kDone, r.fe.points, elapsed.count(),
          static_cast<long>(r.session.warnings.Total())};
}

/// "N Punkte in X s".
std::string PointsIn(const Run& r, long points, double seconds) {
  return std::to_string(points) + " Punkte in " + FormatNumber(seconds, r.session.decimalSign()) +
         " s";
}

/// --out-dir: every source into the folder under its own name, one line per
/// file and a total; exit 1 when any failed.
int RunBatch(Run& r, bool byName) {
  namespace fs = std::filesystem;
  const fs::path dir(*r.outDir);
  if (r.files.empty()) throw UsageError{"--out-dir needs at least one SOURCE"};
  // Refused before anything is written: a target that would be its own
  // source or the target of another source.
  std::vector<fs::path> names;
  for (const std::string& f : r.files) {
    if (f == kStandardStreamName) throw UsageError{"--out-dir needs files as SOURCE, not -"};
    const fs::path source(f), folder = source.has_parent_path() ? source.parent_path() : ".";
    std::error_code ec;
    if (fs::equivalent(folder, dir, ec)) {
      throw JobStop{"Der Zielordner \"" + dir.string() + "\" ist der Ordner der Quelldatei \"" + f +
                    "\""};
    }
    if (std::find(names.begin(), names.end(), source.filename()) != names.end()) {
      throw JobStop{"Zwei Quelldateien heißen \"" + source.filename().string() +
                    "\"; im Zielordner gäbe es nur ein Ergebnis"};
    }
    names.push_back(source.filename());
  }
  std::error_code ec;
  if (!fs::is_directory(dir, ec) && (fs::create_directories(dir, ec), ec)) {
    throw JobStop{"Der Zielordner \"" + dir.string() + "\" kann nicht angelegt werden (" +
                  ec.message() + ")"};
  }
  long points = 0;
  double seconds = 0;
  std::size_t done = 0, failed = 0, warned = 0;
  for (const std::string& f : r.files) {
    const std::string target = (dir / fs::path(f).filename()).string();
    if (g_interrupted != 0) {
      std::cerr << "nicht bearbeitet: " << f << '\n';
      continue;
    }
    SetFiles(r, f, target, byName);
    r.fe.jobName = f;
    const JobResult j = RunOneJob(r);
    (j.done ? done : failed) += 1;
    warned += j.warnings > 0 ? 1 : 0;
    points += j.points;
    seconds += j.seconds;
    if (!r.fe.quiet) {
      std::cerr << (j.done ? "ok      " : "FEHLER  ") << f << " -> " << target << ": "
                << PointsIn(r, j.points, j.seconds) << (j.done ? "" : " (abgebrochen)") << '\n';
    }
  }
  if (!r.fe.quiet) {
    const std::size_t skipped = r.files.size() - done - failed;
    std::cerr << r.files.size() << " Dateien: " << done << " fertig, " << failed
              << " fehlgeschlagen" << (skipped > 0 ? ", " + std::to_string(skipped) + " nicht bearbeitet" : "")
              << "; " << PointsIn(r, points, seconds) << '\n';
  }
  if (done != r.files.size()) return kExitJobStopped;
  return r.strict && warned > 0 ? kExitWarnings : kExitOk;
}

/// Applies the options in order and runs what they ask for.
int Execute(Run& r, const std::vector<Given>& given) {
  for (const Given& g : given) {
    // A switch given a value ("--yes=3"); without one it holds "true".
    if (g.def->isSwitch && !g.values.empty() && g.values[0] != "true") {
      throw UsageError{g.def->name + " takes no value"};
    }
    g.def->action(r, g);
  }
  if (r.control.empty() && (r.save7parFile || r.reportFile || r.parameters != kSevenParameters)) {
    throw UsageError{"--save-7par, --report and --three-parameter need --estimate"};
  }
  if (r.session.asciiLayout.separator == AsciiSeparator::kComma &&
      r.session.asciiLayout.decimalSign == ',') {
    throw UsageError{"--decimal comma does not go with --separator comma"};
  }
  if (!r.control.empty()) {
    Estimate(r);
    if (r.files.empty() && !r.saveParFile) return kExitOk;
  }
  TransformSettings& t = r.t;
  for (int k : {1, 2}) {
    const GridSlot& grid = r.session.grids[k - 1];
    if (grid.inverse && !grid.active()) {
      throw UsageError{"--inverse" + std::to_string(k) + " needs --grid" + std::to_string(k)};
    }
  }
  const auto& files = r.files;
  if (!r.outDir && files.size() != 2 && !(files.empty() && r.saveParFile)) {
    throw UsageError{files.empty() ? "SOURCE and TARGET are missing"
                                   : "exactly one SOURCE and one TARGET are needed"};
  }
  const bool byName = !r.type && (!r.typeFromPar || (!t.optSHP && !t.optASCII));
  if (!r.outDir) SetFiles(r, files.empty() ? t.txtQuelldatei : files[0],
                          files.empty() ? t.txtZielDatei : files[1], byName);

  if (r.saveParFile) {
    try {
      SaveProperties(*r.saveParFile, r.session, r.session.OptionValues);
    } catch (const PropertiesError& e) {
      throw JobStop{*r.saveParFile + ": " + PropertiesErrorMessage(e.number(), true) + " (" +
                    e.what() + ")"};
    }
    if (files.empty()) return kExitOk;
  }
  if (r.outDir) return RunBatch(r, byName);

  const JobResult j = RunOneJob(r);
  if (!r.fe.quiet) {
    std::cerr << "\n" << PointsIn(r, j.points, j.seconds) << (j.done ? "" : " (abgebrochen)") << '\n';
  }
  if (!j.done) return kExitJobStopped;
  return r.strict && j.warnings > 0 ? kExitWarnings : kExitOk;
}

int Main(int argc, char** argv) {
  CLI::App app{"", "pelmo-cli"};
  app.formatter(std::make_shared<HelpFormatter>());
  app.footer(kFooter);
  app.set_help_flag();
  std::vector<std::unique_ptr<OptionDef>> defs;
  std::vector<Given> given;
  Run r;
  JobOptions(Group(app, defs, given, "Job settings"));
  LayoutOptions(Group(app, defs, given, "ASCII layout"));
  OutputOptions(Group(app, defs, given, "Output"));
  BatchOptions(Group(app, defs, given, "Batch"));
  EstimationOptions(Group(app, defs, given, "Estimation"));
  app.set_help_flag("-h,--help", "show this help and exit")->group("Batch");
  app.add_option("SOURCE", r.files)->group("");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    std::cerr << "pelmo-cli: " << ParseErrorText(e, app, defs)
              << "\n(pelmo-cli --help shows the options)\n";
    return kExitUsage;
  }
  try {
    return Execute(r, given);
  } catch (const UsageError& e) {
    std::cerr << "pelmo-cli: " << e.text << "\n(pelmo-cli --help shows the options)\n";
    return kExitUsage;
  } catch (const JobStop& e) {
    std::cerr << "pelmo-cli: " << e.text << '\n';
    return kExitJobStopped;
  } catch (const Finish& f) {
    return f.status;
  }
}

}  // namespace
}  // namespace pelmo::cli

int main(int argc, char** argv) { return pelmo::cli::Main(argc, argv); }
