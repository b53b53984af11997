// ToolOptions: parsing of the shared and the tool's own options.
#include "tools/common/ToolOptions.h"

#include "framewell/Version.h"

#include <algorithm>
#include <cstdio>

namespace fw::tool {

namespace {

constexpr int MAX_TIMEOUT_SECONDS = 86400;

std::string Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') {
    text.remove_prefix(1);
  }
  while (!text.empty() && text.back() == ' ') {
    text.remove_suffix(1);
  }
  return std::string(text);
}

} // namespace

std::string CheckAETitle(std::string_view title) {
  const std::string trimmed = Trimmed(title);
  if (trimmed.empty()) {
    return "an AE title must not be empty";
  }
  if (trimmed.size() > 16) {
    return "an AE title has at most 16 characters";
  }
  for (char c : trimmed) {
    if (c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return "an AE title must not contain \"\\\" or control characters";
    }
  }
  return {};
}

CommandLine::CommandLine(std::string program, std::string usage, std::string description, int defaultTimeoutSeconds)
    : program_(std::move(program)), usage_(std::move(usage)), description_(std::move(description)) {
  common_.timeoutSeconds = defaultTimeoutSeconds;
  options_.push_back({{"--help"}, "", "show this help and exit", [this](std::string_view) {
                        help_ = true;
                        return std::string();
                      }});
  options_.push_back({{"--version"}, "", "show the version and exit", [this](std::string_view) {
                        version_ = true;
                        return std::string();
                      }});
  options_.push_back(
      {{"-v", "--verbose"}, "", "copy all log lines and the network trace to standard error", [this](std::string_view) {
         common_.verbose = true;
         return std::string();
       }});
  if (defaultTimeoutSeconds <= 0) {
    return; // a tool without a network peer
  }
  options_.push_back({{"--aet", "-aet"},
                      "TITLE",
                      "calling AE title (default " + std::string(DEFAULT_CALLING_AET) + ")",
                      [this](std::string_view value) {
                        std::string error = CheckAETitle(value);
                        if (error.empty()) {
                          common_.callingAET = Trimmed(value);
                          common_.callingAETGiven = true;
                        }
                        return error;
                      }});
  options_.push_back({{"--aec", "-aec"},
                      "TITLE",
                      "called AE title (default " + std::string(DEFAULT_CALLED_AET) + ")",
                      [this](std::string_view value) {
                        std::string error = CheckAETitle(value);
                        if (error.empty()) {
                          common_.calledAET = Trimmed(value);
                        }
                        return error;
                      }});
  options_.push_back({{"--timeout"},
                      "SECONDS",
                      "network time-out in seconds (default " + std::to_string(defaultTimeoutSeconds) + ")",
                      [this](std::string_view value) {
                        long seconds = 0;
                        bool digits = !value.empty() && value.size() <= 6;
                        for (char c : value) {
                          digits = digits && c >= '0' && c <= '9';
                          seconds = seconds * 10 + (c - '0');
                        }
                        if (!digits || seconds < 1 || seconds > MAX_TIMEOUT_SECONDS) {
                          return "the time-out is a whole number of seconds from 1 to " +
                                 std::to_string(MAX_TIMEOUT_SECONDS);
                        }
                        common_.timeoutSeconds = static_cast<int>(seconds);
                        return std::string();
                      }});
}

void CommandLine::AddFlag(std::string name, std::string help, bool &target) {
  options_.push_back({{std::move(name)}, "", std::move(help), [&target](std::string_view) {
                        target = true;
                        return std::string();
                      }});
}

void CommandLine::AddValue(std::string name, std::string valueName, std::string help, std::string &target,
                           ValueCheck check, int valueCount) {
  options_.push_back({{std::move(name)},
                      std::move(valueName),
                      std::move(help),
                      [&target, check = std::move(check)](std::string_view value) {
                        std::string error = check ? check(value) : std::string();
                        if (error.empty()) {
                          target = std::string(value);
                        }
                        return error;
                      },
                      std::max(1, valueCount)});
}

void CommandLine::SetArguments(std::vector<std::string> names, bool variadic) {
  argumentNames_ = std::move(names);
  variadic_ = variadic;
}

const CommandLine::Option *CommandLine::Find(std::string_view name) const {
  for (const Option &option : options_) {
    for (const std::string &n : option.names) {
      if (n == name) {
        return &option;
      }
    }
  }
  return nullptr;
}

std::optional<int> CommandLine::Parse(int argc, const char *const *argv) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg.front() != '-') {
      arguments_.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (std::optional<int> code = TakeOption(argc, argv, i)) {
      return code;
    }
  }
  if (help_) {
    const std::string text = HelpText();
    std::fwrite(text.data(), 1, text.size(), stdout);
    return EXIT_OK;
  }
  if (version_) {
    std::printf("%s %s\n", program_.c_str(), FRAMEWELL_VERSION_STRING);
    return EXIT_OK;
  }
  return CheckArgumentCount();
}

std::optional<int> CommandLine::TakeOption(int argc, const char *const *argv, int &i) {
  const std::string_view arg = argv[i];
  const std::size_t equals = arg.find('=');
  const std::string_view name = arg.substr(0, equals);
  const Option *option = Find(name);
  if (option == nullptr) {
    return UsageError("unknown option " + std::string(name));
  }
  std::string value;
  if (option->valueName.empty()) {
    if (equals != std::string_view::npos) {
      return UsageError("option " + std::string(name) + " takes no value");
    }
  } else if (equals != std::string_view::npos) {
    value = arg.substr(equals + 1);
  } else if (i + option->valueCount < argc) {
    for (int k = 0; k < option->valueCount; ++k) {
      if (k > 0) {
        value += ' ';
      }
      value += argv[++i];
    }
  } else {
    return UsageError("option " + std::string(name) + " needs a value (" + option->valueName + ")");
  }
  const std::string error = option->apply(value);
  if (!error.empty()) {
    return UsageError(std::string(name) + ": " + error);
  }
  return std::nullopt;
}

std::optional<int> CommandLine::CheckArgumentCount() const {
  const bool countFits =
      variadic_ ? arguments_.size() >= argumentNames_.size() : arguments_.size() == argumentNames_.size();
  if (countFits) {
    return std::nullopt;
  }
  std::string expected;
  for (const std::string &n : argumentNames_) {
    expected += (expected.empty() ? "" : " ") + n;
  }
  return UsageError(arguments_.size() < argumentNames_.size() ? "missing arguments, expected " + expected
                                                              : "too many arguments, expected " + expected);
}

int UsageError(std::string_view program, std::string_view message) {
  std::fprintf(stderr, "%.*s: %.*s\nTry '%.*s --help' for more information.\n", static_cast<int>(program.size()),
               program.data(), static_cast<int>(message.size()), message.data(), static_cast<int>(program.size()),
               program.data());
  return EXIT_USAGE;
}

std::string CheckPort(std::string_view value) {
  const bool digits = !value.empty() && value.size() <= 5 &&
                      std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
  const long port = digits ? std::stol(std::string(value)) : 0;
  return port >= 1 && port <= 65535 ? "" : "the port is a number from 1 to 65535";
}

std::string CommandLine::HelpText() const {
  std::string text = "usage: " + program_ + " " + usage_ + "\n" + description_ + "\n\noptions:\n";
  for (const Option &option : options_) {
    std::string left = "  ";
    for (std::size_t k = 0; k < option.names.size(); ++k) {
      left += (k > 0 ? ", " : "") + option.names[k];
    }
    if (!option.valueName.empty()) {
      left += " " + option.valueName;
    }
    if (left.size() < 28) {
      left.resize(28, ' ');
    } else {
      left += "\n" + std::string(28, ' ');
    }
    text += left + option.help + "\n";
  }
  text += "\nexit status: 0 success, 1 a DICOM, device or I/O failure, 2 a usage error\n";
  if (!epilogue_.empty()) {
    text += "\n" + epilogue_;
    if (epilogue_.back() != '\n') {
      text += "\n";
    }
  }
  return text;
}

} // namespace fw::tool
