// pelmo-cli in scripts: --help against the manual page.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "test_support.hpp"

namespace pelmo {
namespace {

const std::string kCli = PELMO_CLI_PATH;
const std::string kSource = PELMO_SOURCE_DIR;

/// Standard output of a shell command.
std::string Output(const std::string& command) {
  std::string out;
  std::FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  ::pclose(p);
  return out;
}

/// The long option names ("--par") in `text`.
std::set<std::string> OptionNames(const std::string& text) {
  static const std::regex kName("--[a-z0-9][a-z0-9-]*");
  std::set<std::string> names;
  for (std::sregex_iterator i(text.begin(), text.end(), kName), end; i != end; ++i) {
    names.insert(i->str());
  }
  return names;
}

TEST(CliScripts, HelpAndManualPageListTheSameOptions) {
  // --help: the name column of the option lines ("  --par FILE  load ...").
  std::set<std::string> help;
  std::istringstream helpText(Output(kCli + " --help"));
  for (std::string line; std::getline(helpText, line);) {
    if (line.starts_with("  -")) help.merge(OptionNames(line.substr(0, line.find("  ", 2))));
  }
  // The manual page: the heading line after each .TP of the OPTIONS section.
  std::set<std::string> man;
  std::ifstream page(kSource + "/docs/pelmo-cli.1");
  bool options = false, heading = false;
  for (std::string line; std::getline(page, line);) {
    if (line.starts_with(".SH")) options = line == ".SH OPTIONS";
    if (options && heading) {
      man.merge(OptionNames(std::regex_replace(line, std::regex(R"(\\-)"), "-")));
    }
    heading = line == ".TP";
  }
  EXPECT_GT(help.size(), 10u);
  EXPECT_EQ(help, man);
}

}  // namespace
}  // namespace pelmo
