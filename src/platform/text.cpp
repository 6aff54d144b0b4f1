#include "platform/text.h"

#include "platform/runtime_error.h"

namespace platform {

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::vector<std::string> Split(const std::string& text, const std::string& delimiter) {
    std::vector<std::string> fields;
    if (text.empty()) return fields;
    if (delimiter.empty()) {
        fields.push_back(text);
        return fields;
    }
    std::size_t start = 0;
    for (;;) {
        const auto at = text.find(delimiter, start);
        if (at == std::string::npos) {
            fields.push_back(text.substr(start));
            return fields;
        }
        fields.push_back(text.substr(start, at - start));
        start = at + delimiter.size();
    }
}

const std::string& Field(const std::vector<std::string>& fields, std::size_t index) {
    if (index >= fields.size()) Raise(errnum::kSubscriptOutOfRange);
    return fields[index];
}

std::string Number(long value) { return std::to_string(value); }

std::string Number64(uint64_t value) { return std::to_string(value); }

std::string EscapedField(const std::string& field) {
    std::string line;
    for (const char c : field) {
        switch (c) {
        case '\t': line += "%09"; break;
        case '\r': line += "%0D"; break;
        case '\n': line += "%0A"; break;
        case '%': line += "%25"; break;
        case '\0': line += "%00"; break;
        default: line += c;
        }
    }
    return line;
}

static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string UnescapedField(const std::string& field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const int high = i + 2 < field.size() && field[i] == '%' ? HexDigit(field[i + 1]) : -1;
        const int low = high >= 0 ? HexDigit(field[i + 2]) : -1;
        if (low >= 0) {
            text += static_cast<char>(high << 4 | low);
            i += 2;
        } else {
            text += field[i];
        }
    }
    return text;
}

std::string Cat(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (std::string_view part : parts) size += part.size();
    std::string text;
    text.reserve(size);
    for (std::string_view part : parts) text.append(part.data(), part.size());
    return text;
}

}  // namespace platform
