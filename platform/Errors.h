#pragma once
// Failures are exceptions typed by kind, so that callers catch exactly the kind they handle.

#include <stdexcept>
#include <string>

namespace purgala {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Malformed XML, or bytes that do not fit the document's encoding.
class ParseError : public Error {
public:
    using Error::Error;
};

// A file could not be created, written, flushed, renamed or closed.
class InOutError : public Error {
public:
    using Error::Error;
};

// A value that does not convert to the type asked for (an empty integer attribute, "maybe" as a
// boolean, a size text that is not a number).
class ConvertError : public Error {
public:
    using Error::Error;
};

// An object does not offer the interface asked for (a root element that is not `config`).
class InterfaceError : public Error {
public:
    using Error::Error;
};

// A position outside a list.
class ListIndexError : public Error {
public:
    using Error::Error;
};

}  // namespace purgala
