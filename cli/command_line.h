#pragma once

#include "log/text_format.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "log/log_sink.h"

// A command keyword, what checks its operands and what runs it: the operands are the tokens
// after the keyword.
struct CommandKeyword {
    std::string_view keyword;  // upper case; the first token matches it in any case
    // Nothing when the command can be carried out; otherwise the exit code to end with (a
    // usage error's, or 0 after --help printed the usage). Opens nothing.
    std::optional<int> (*check)(std::span<const std::string> operands);
    int (*run)(std::span<const std::string> operands, LogSink& log);
};

// The program's command line, the program's own name left out. Runs the command its first
// token names (or prints the usage or the version) and returns the exit code; returns nothing
// when the first token names no command, so the caller shows the desktop dialog.
std::optional<int> RunCommandLine(std::span<const std::string> args, LogSink& log);

// The part of RunCommandLine that comes before anything is opened: the exit code when the
// command line ends there (a usage error, --help, --version, each printing what it prints), or
// nothing when its command goes ahead or the first token names no command.
std::optional<int> CheckCommandLine(std::span<const std::string> args);

// The windowless commands, in the order their keywords are looked up.
std::span<const CommandKeyword> CommandKeywords();

// The usage text of --help.
std::string_view CommandLineUsage();
// Prints the usage text on standard output, or on standard error when `json` keeps standard
// output for JSON Lines; returns the exit code 0. A `command` keyword with a usage of its own
// (station, records) prints only that.
int PrintUsage(bool json = false, std::string_view command = {});
// The windowless command forms, one a line, for a user who cannot open the dialog.
std::string_view CommandForms();

// The command keyword a first word was probably meant to be ("upd": "UDP"), or nothing when
// it is close to none.
std::optional<std::string> SuggestKeyword(std::string_view word);
