#pragma once
// Text operations with the meanings the whole installer relies on. Texts are
// std::string in the system's ANSI code page.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Removes leading and trailing space characters only; tabs stay.
std::string Trim(const std::string& text);

// Every field between delimiters, empty fields included; no fields at all
// for an empty text.
std::vector<std::string> Split(const std::string& text, const std::string& delimiter);

// Field i of a split result; a missing field raises "Subscript out of range".
const std::string& Field(const std::vector<std::string>& fields, std::size_t index);

// Upper case by the user's locale.
std::string UCase(const std::string& text);

// The parts joined into one text. One call instead of a chain of +, each
// of whose temporaries costs code in a program that must stay small.
std::string Cat(std::initializer_list<std::string_view> parts);

// A whole number in decimal; out of line, as each inlined std::to_string
// costs code.
std::string Number(long value);
// The same for sizes and other counts that may pass 4 GiB, which `long`
// (32 bits on Windows) cannot hold.
std::string Number64(uint64_t value);

// A field of a tab-separated line, as the install record and the package's
// class data write it: tabs, line ends, NULs and '%' as %09, %0D, %0A, %00
// and %25; and back (anything else after a '%' stays as it is).
std::string EscapedField(const std::string& field);
std::string UnescapedField(const std::string& field);

// ANSI text (system code page) to UTF-16.
std::u16string AnsiToWide(const std::string& text);

}  // namespace platform
