#pragma once
// The exception classes of the runtime library.

#include <exception>
#include <string>

// The base of every exception the program raises; it carries a message.
class Exception : public std::exception {
public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  // The message text.
  const std::string& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }

private:
  std::string FMessage;
};

// Declares an exception class with a message-only constructor.
#define VARNEX_DECLARE_EXCEPTION(Name, Base)                 \
  class Name : public Base {                                 \
  public:                                                    \
    explicit Name(std::string message) : Base(std::move(message)) {} \
  }

// The silent abort: ends a command without any message.
class EAbort : public Exception {
public:
  EAbort() : Exception("Operation aborted") {}
  explicit EAbort(std::string message) : Exception(std::move(message)) {}
};

// A failure of a file stream.
VARNEX_DECLARE_EXCEPTION(EStreamError, Exception);
// A file that cannot be opened.
VARNEX_DECLARE_EXCEPTION(EFOpenError, EStreamError);
// A file that cannot be created.
VARNEX_DECLARE_EXCEPTION(EFCreateError, EStreamError);
// A read that fails or comes up short.
VARNEX_DECLARE_EXCEPTION(EReadError, EStreamError);
// A write that fails or comes up short.
VARNEX_DECLARE_EXCEPTION(EWriteError, EStreamError);
// Content that is not a valid image.
VARNEX_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
// An INI file value that cannot be read as its type.
VARNEX_DECLARE_EXCEPTION(EIniFileException, Exception);
// An invalid argument to a runtime routine (for example an empty path).
VARNEX_DECLARE_EXCEPTION(EInOutError, Exception);
// A file that cannot be created because its name is taken and must not be replaced.
VARNEX_DECLARE_EXCEPTION(EFileExists, EFCreateError);
