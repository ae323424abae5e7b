// The failure kinds of barcode scanning, named after the decoder's exception classes that the
// scanning export tells apart: any decoder failure (Exception), a reading failure - nothing
// found, a damaged or malformed symbol (ReaderException) - and a bad argument such as an image
// that cannot be loaded (IllegalArgumentException).
#pragma once

#include <stdexcept>
#include <string>

namespace kestrun::imaging::barcode {

class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ReaderException : public Exception {
public:
    using Exception::Exception;
};

class IllegalArgumentException : public Exception {
public:
    using Exception::Exception;
};

} // namespace kestrun::imaging::barcode
