#pragma once
// A program's options as one table: each entry names the option, its argument and its
// help, and says what parsing does with it. Parsing, --help and any other listing of
// the options (a manual page) all read the same entries, so none can miss an option
// the others know.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What an option takes after its name.
enum class OptionValue {
  kNone,      // a flag: --timing
  kRequired,  // the next argument, whatever it is: --trace FILE
  kOptional,  // the next argument unless it starts with '-': --capture [NAME]
};

// How arguments quoted in messages are shown: with control characters as \xHH
// (escaped_for_message), or as given.
enum class Quoting { kEscaped, kAsGiven };

struct OptionEntry {
  const char* name;      // "--frames"
  const char* alias;     // another spelling ("-h"), or nullptr; not listed in help
  const char* argument;  // as help shows it: "N", "FILE|silence", "[NAME]"; "" for a flag
  const char* help;      // lines joined by '\n', no newline at the end; "" when a
                         // neighbouring entry explains it (--snapshot beside --snapshot-at)
  OptionValue value;
  // Takes the option: `value` is its argument, or nullptr for a flag and for an optional
  // argument not given. False refuses the command line with a one-line message in error.
  std::function<bool(const char* value, std::string& error)> store;
  bool listed = true;         // false: a test hook, parsed but left out of help
  bool ends_parsing = false;  // --help, --version: what follows is not read
};

struct OptionTable {
  const char* usage;     // help's lines above the options, newline-terminated
  int help_column;       // where each entry's help starts in the listing
  std::vector<OptionEntry> entries;
  const char* epilogue;  // help's lines below the options, newline-terminated
  Quoting quoting = Quoting::kEscaped;
  // Takes an argument that is not an option (no leading '-', or "-" alone); nullptr:
  // the program has none, and such an argument is an unknown option.
  std::function<bool(const char* argument, std::string& error)> operand;
};

// Runs argv[1..argc-1] through the table's entries in order. False with a one-line
// message in error ("unknown option '--x' (see --help)", "option --x needs a value", or
// what an entry's store said) at the first argument refused.
bool parse_options(const OptionTable& table, int argc, char** argv, std::string& error);

// The --help text: usage, one listed entry after another, epilogue.
std::string options_help(const OptionTable& table);

// text as messages quote it under `quoting`.
std::string quoted(Quoting quoting, const std::string& text);

// The entries both programs have, storing into the given fields.
OptionEntry help_entry(bool& help);
OptionEntry version_entry(bool& version);
OptionEntry seed_entry(uint32_t& seed, bool& seed_given, Quoting quoting);
