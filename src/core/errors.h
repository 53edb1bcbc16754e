#pragma once

#include <stdexcept>
#include <string>

namespace vtl {

// Base of the errors the core raises. Start-up turns any of them into the
// "Application Error" report; the command-line tools print the message.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file could not be opened for reading: "Cannot open file "%s". %s".
class EFOpenError : public Error {
 public:
  using Error::Error;
};

// A file could not be created: "Cannot create file "%s". %s".
class EFCreateError : public Error {
 public:
  using Error::Error;
};

// Reading or writing an open file failed part-way.
class EInOutError : public Error {
 public:
  using Error::Error;
};

// The bytes are not an executable image whose section table can be read.
class EInvalidImage : public Error {
 public:
  using Error::Error;
};

// The executable carries no archive after its image.
class ENoAttachedArchive : public Error {
 public:
  using Error::Error;
};

// The archive reader could not open its input.
class EZipError : public Error {
 public:
  using Error::Error;
};

}  // namespace vtl
