// How vexlan reports what went wrong: every failure is an exception that
// carries its message and the program's exit status.
//
//   UsageError  the command line asks for something that cannot be (status 2)
//   RunError    a file or a render failed (status 1)
#pragma once

#include <stdexcept>
#include <string>

class CliError : public std::runtime_error {
 public:
  CliError(const std::string& message, int status) : std::runtime_error(message), status_(status) {}
  int Status() const { return status_; }

 private:
  int status_;
};

enum : int { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

struct UsageError : CliError {
  explicit UsageError(const std::string& message) : CliError(message, ExitUsage) {}
};

struct RunError : CliError {
  explicit RunError(const std::string& message) : CliError(message, ExitFailed) {}
};
