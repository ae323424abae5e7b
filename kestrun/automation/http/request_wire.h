// How the request object puts a request's text on the wire.
#pragma once

#include <string>
#include <string_view>

namespace kestrun::http {

// A URL in UTF-8 made fit to send, as browsers do: after the host part, every byte outside
// printable ASCII, blanks and the characters " < > are percent-encoded. The host part is left as
// it is (a non-ASCII host name is looked up as an international name).
std::string EncodeUrlForWire(std::string_view utf8Url);

// A token in the HTTP sense (method and header names): one or more of the characters
// ! # $ % & ' * + - . ^ _ ` | ~, digits and ASCII letters.
bool IsHttpToken(std::string_view text);

// The header line handed to the HTTP library for a name and value (UTF-8): "name: value" with the
// value as given (a blank it starts with is kept), or "name;" for a value that is empty or all
// blanks (the library's form for an empty header).
std::string HeaderLineFor(std::string_view name, std::string_view value);

// True when `line` ("Name: value" or "Name;") names the header `name`, ignoring case.
bool HeaderLineNames(std::string_view line, std::string_view name);

} // namespace kestrun::http
