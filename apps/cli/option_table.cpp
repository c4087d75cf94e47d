#include "apps/cli/option_table.h"

#include <cstring>

#include "apps/cli/command_line.h"

namespace {

const OptionEntry* find_entry(const OptionTable& table, const char* argument) {
  for (const OptionEntry& entry : table.entries) {
    if (std::strcmp(argument, entry.name) == 0) return &entry;
    if (entry.alias != nullptr && std::strcmp(argument, entry.alias) == 0) return &entry;
  }
  return nullptr;
}

}  // namespace

std::string quoted(Quoting quoting, const std::string& text) {
  return quoting == Quoting::kEscaped ? escaped_for_message(text) : text;
}

bool parse_options(const OptionTable& table, int argc, char** argv, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    const OptionEntry* entry = find_entry(table, argument);
    if (entry == nullptr) {
      // "-" alone is the usual name of standard input, so it counts as an operand.
      const bool option_like = argument[0] == '-' && argument[1] != '\0';
      if (option_like || !table.operand) {
        error = "unknown option '" + quoted(table.quoting, argument) + "' (see --help)";
        return false;
      }
      if (!table.operand(argument, error)) return false;
      continue;
    }
    const char* value = nullptr;
    if (entry->value == OptionValue::kRequired) {
      if (i + 1 >= argc) {
        error = std::string("option ") + argument + " needs a value";
        return false;
      }
      value = argv[++i];
    } else if (entry->value == OptionValue::kOptional && i + 1 < argc && argv[i + 1][0] != '-') {
      value = argv[++i];
    }
    if (!entry->store(value, error)) return false;
    if (entry->ends_parsing) return true;
  }
  return true;
}

std::string options_help(const OptionTable& table) {
  const std::string indent(static_cast<size_t>(table.help_column), ' ');
  std::string text = table.usage;
  for (const OptionEntry& entry : table.entries) {
    if (!entry.listed) continue;
    std::string head = std::string("  ") + entry.name;
    if (*entry.argument != '\0') head += std::string(" ") + entry.argument;
    text += head;
    if (*entry.help == '\0') {
      text += '\n';
      continue;
    }
    // Two spaces at least between an option and its help; a longer option has its help
    // start on the next line.
    if (head.size() + 2 <= indent.size()) {
      text += std::string(indent.size() - head.size(), ' ');
    } else {
      text += '\n' + indent;
    }
    for (const char* c = entry.help; *c != '\0'; ++c) {
      text += *c;
      if (*c == '\n') text += indent;
    }
    text += '\n';
  }
  return text + table.epilogue;
}

OptionEntry help_entry(bool& help) {
  OptionEntry entry{"--help", "-h", "", "this text", OptionValue::kNone, [&help](const char*, std::string&) {
                      help = true;
                      return true;
                    }};
  entry.ends_parsing = true;
  return entry;
}

OptionEntry version_entry(bool& version) {
  OptionEntry entry{"--version", nullptr, "", "print the version and exit", OptionValue::kNone,
                    [&version](const char*, std::string&) {
                      version = true;
                      return true;
                    }};
  entry.ends_parsing = true;
  return entry;
}

OptionEntry seed_entry(uint32_t& seed, bool& seed_given, Quoting quoting) {
  return {"--seed", nullptr, "S",
          "random seed given at the first frame, 0..4294967295\n"
          "(default: the calendar time in seconds, as the plug-in does)",
          OptionValue::kRequired, [&seed, &seed_given, quoting](const char* value, std::string& error) {
            uint64_t number = 0;
            if (!parse_decimal(value, UINT32_MAX, number)) {
              error = "--seed wants a whole number 0..4294967295, not '" + quoted(quoting, value) + "'";
              return false;
            }
            seed = static_cast<uint32_t>(number);
            seed_given = true;
            return true;
          }};
}
