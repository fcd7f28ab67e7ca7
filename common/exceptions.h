// Exception classes shared by every subsystem. Failures carry the text that
// the user sees; the helpers never raise, everything else may.
#pragma once
#include <exception>
#include <string>

// The general exception class: the program's own errors ("The source file is
// corrupted", ...) are raised as this class with their message.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }

 private:
  std::string message_;
};

// The silent abort: ends the run (or rolls the installation back) without any
// message. Never shown to the user.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

// The file layer's input/output failure (open, seek, a read past the end).
class EInOutError : public Exception {
 public:
  using Exception::Exception;
};

// A text that is not a decimal integer where one is required.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Exhausted memory.
class EOutOfMemory : public Exception {
 public:
  EOutOfMemory() : Exception("Out of memory") {}
};
