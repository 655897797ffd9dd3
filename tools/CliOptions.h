// The command line of sentorix-cli: a command word followed by its options and names.
#pragma once

#include "monitor/data/DocumentValidation.h"

#include <optional>
#include <string>
#include <vector>

namespace sentorix::cli
{

enum class Command { None, List, Add, Remove, Check, MarkChecked, Diff, Help, Version };

struct CliOptions {
    Command command = Command::None;
    Command helpFor = Command::None; // "<command> --help"
    std::vector<std::string> names;
    bool all = false;       // mark-checked --all
    DocumentInput document; // add
    bool passwordFromStdin = false;
    bool kindGiven = false;
};

struct ParseResult {
    bool ok = false;
    std::string error; // one line, for standard error
    CliOptions options;
};

ParseResult parseCommandLine(const std::vector<std::string>& args);

std::string usageText(Command command);

} // namespace sentorix::cli
