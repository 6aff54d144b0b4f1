#include "lucheck/report.h"

namespace lucheck {

namespace {

const char* Name(Severity severity) {
    switch (severity) {
    case Severity::kError: return "error";
    case Severity::kWarning: return "warning";
    case Severity::kNote: return "note";
    }
    return "";
}

std::string Plural(int count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

Summary Count(const std::vector<Diagnostic>& diagnostics) {
    Summary summary;
    for (const Diagnostic& d : diagnostics)
        ++(d.severity == Severity::kError ? summary.errors : d.severity == Severity::kWarning ? summary.warnings
                                                                                              : summary.notes);
    return summary;
}

std::string Json(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            const char* hex = "0123456789abcdef";
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void PrintText(std::ostream& out, const std::vector<Diagnostic>& diagnostics, const Summary& summary) {
    for (const Diagnostic& d : diagnostics) {
        out << d.file;
        if (d.line > 0) out << ':' << d.line;
        out << ": " << Name(d.severity) << ": " << d.message << '\n';
    }
    out << Plural(summary.errors, "error", "errors") << ", " << Plural(summary.warnings, "warning", "warnings")
        << ", " << Plural(summary.notes, "note", "notes") << "; " << Plural(summary.entries, "entry", "entries")
        << " listed, " << Plural(summary.payloadFiles, "payload file", "payload files") << '\n';
}

void PrintJson(std::ostream& out, const std::string& package, const std::vector<Diagnostic>& diagnostics,
               const Summary& summary) {
    out << "{\"package\": " << Json(package) << ", \"diagnostics\": [";
    for (std::size_t i = 0; i < diagnostics.size(); ++i) {
        const Diagnostic& d = diagnostics[i];
        out << (i ? ",\n  " : "\n  ") << "{\"file\": " << Json(d.file) << ", \"line\": " << d.line
            << ", \"severity\": \"" << Name(d.severity) << "\", \"message\": " << Json(d.message) << "}";
    }
    out << "],\n \"summary\": {\"errors\": " << summary.errors << ", \"warnings\": " << summary.warnings
        << ", \"notes\": " << summary.notes << ", \"entries\": " << summary.entries
        << ", \"payload_files\": " << summary.payloadFiles << ", \"seal\": " << Json(summary.seal) << "}}\n";
}

}  // namespace lucheck
