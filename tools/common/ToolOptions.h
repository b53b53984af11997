// ToolOptions: the command line every tool of the project shares.
//
//   option                     meaning                              default
//   --help                     usage on standard output, exit 0
//   --version                  program name and version, exit 0
//   -v, --verbose              log lines and network trace on standard error
// Tools that talk to a peer also take:
//   --aet, -aet TITLE          calling AE title                     "QUILLBROOK"
//   --aec, -aec TITLE          called AE title                      "ANY-SCP"
//   --timeout SECONDS          network read time-out                per tool
//
// Exit codes: 0 success, 1 a DICOM, device or I/O failure, 2 a usage error. A value
// may follow its option as the next argument or after "=" ("--aet=X"); "--"
// ends the options. AE titles are 1 to 16 characters without "\" or control
// characters; the time-out is 1 to 86400 seconds.
//
// Each tool adds its own options and names its arguments:
//
//   fw::tool::CommandLine cl("fwfind", "[options] --study|--worklist HOST PORT", "...", 30);
//   cl.AddFlag("--study", "study-level query", study);
//   cl.AddValue("--name", "X", "patient's name", name);
//   cl.SetArguments({"HOST", "PORT"});
//   if (auto code = cl.Parse(argc, argv)) return *code;
//
// A tool reads its command line into a plain options value and hands that to
// the function that does the work, so main stays a few lines:
//
//   ParseResult<FindOptions> ParseFindOptions(int argc, char **argv); // CommandLine as above
//   int RunFind(const FindOptions &options);
//   int main(int argc, char **argv) {
//     const auto parsed = ParseFindOptions(argc, argv);
//     return parsed.exitCode ? *parsed.exitCode : RunFind(parsed.options);
//   }
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fw::tool {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;

inline constexpr std::string_view DEFAULT_CALLING_AET = "QUILLBROOK";
inline constexpr std::string_view DEFAULT_CALLED_AET = "ANY-SCP";

struct CommonOptions {
  std::string callingAET{DEFAULT_CALLING_AET};
  // Whether --aet was given (a tool may take its default from elsewhere).
  bool callingAETGiven = false;
  std::string calledAET{DEFAULT_CALLED_AET};
  int timeoutSeconds = 30;
  bool verbose = false;
};

// Checks an option value; returns an empty text when it is fine, otherwise
// what is wrong with it.
using ValueCheck = std::function<std::string(std::string_view value)>;

// An AE title of 1 to 16 characters, no "\" and no control characters;
// leading and trailing spaces are not significant and are removed.
std::string CheckAETitle(std::string_view title);

// A TCP port: 1 to 5 digits, 1 to 65535.
std::string CheckPort(std::string_view value);

// Prints "program: message" and the --help hint on standard error; returns
// EXIT_USAGE. For usage errors found after the command line was read.
int UsageError(std::string_view program, std::string_view message);

// What a tool's option parser gives: the options to run with, or, when
// exitCode is set, the code to end with at once (after --help, --version or
// a usage error, whose message is already out).
template <typename Options> struct ParseResult {
  Options options;
  std::optional<int> exitCode;
};

class CommandLine {
public:
  // usage: what follows the program name in the usage line. A tool that
  // talks to a peer gives its default time-out (> 0) and gets the AE title
  // and time-out options; 0 leaves them out.
  CommandLine(std::string program, std::string usage, std::string description, int defaultTimeoutSeconds = 0);

  // A switch without a value.
  void AddFlag(std::string name, std::string help, bool &target);
  // An option with a value; check (optional) rejects bad values as a usage
  // error. With valueCount above 1 the option takes that many arguments
  // ("--window W C"), handed to check and target joined by single spaces.
  void AddValue(std::string name, std::string valueName, std::string help, std::string &target, ValueCheck check = {},
                int valueCount = 1);
  // Names of the arguments after the options; with variadic, the last name
  // stands for one or more arguments.
  void SetArguments(std::vector<std::string> names, bool variadic = false);
  // Extra text shown at the end of --help.
  void SetEpilogue(std::string text) { epilogue_ = std::move(text); }

  // Parses the command line. Empty when the tool goes on; otherwise the exit
  // code to end with (after --help, --version, or a usage error, whose
  // message is on standard error).
  std::optional<int> Parse(int argc, const char *const *argv);

  // Prints "program: message" and the --help hint on standard error; returns
  // EXIT_USAGE.
  int UsageError(std::string_view message) const { return fw::tool::UsageError(program_, message); }

  const CommonOptions &Common() const { return common_; }
  const std::vector<std::string> &Arguments() const { return arguments_; }
  std::string HelpText() const;
  const std::string &Program() const { return program_; }

private:
  struct Option {
    std::vector<std::string> names;
    std::string valueName; // empty for a switch
    std::string help;
    std::function<std::string(std::string_view)> apply; // returns an error text
    int valueCount = 1;
  };

  const Option *Find(std::string_view name) const;
  // Applies the option at argv[i], moving i past the values it takes from
  // the following arguments; the usage error's exit code when it fails.
  std::optional<int> TakeOption(int argc, const char *const *argv, int &i);
  // The usage error's exit code when the arguments after the options are
  // too few or too many.
  std::optional<int> CheckArgumentCount() const;

  std::string program_;
  std::string usage_;
  std::string description_;
  std::string epilogue_;
  std::vector<Option> options_;
  std::vector<std::string> argumentNames_;
  bool variadic_ = false;
  bool help_ = false;
  bool version_ = false;
  CommonOptions common_;
  std::vector<std::string> arguments_;
};

} // namespace fw::tool
