// The two error types that cross the core's interface: an input/output error on
// a PC file (or the cache's temp file), carrying the file name and the system's
// reason, and the conversion error of a text that should have been a number.
#pragma once

#include <stdexcept>
#include <string>

namespace travosk {

class InOutError : public std::runtime_error {
 public:
  InOutError(std::string file, std::string reason)
      : std::runtime_error(reason + ": " + file), file_(std::move(file)), reason_(std::move(reason)) {}
  const std::string& file() const { return file_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string file_;
  std::string reason_;
};

// "'%s' is not a valid integer value"
class ConversionError : public std::runtime_error {
 public:
  explicit ConversionError(const std::string& text)
      : std::runtime_error("'" + text + "' is not a valid integer value"), text_(text) {}
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// A card operation that the system refuses because the card or a file asks
// for more than its tables can hold, or because the link failed mid-way.
class CardError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace travosk
