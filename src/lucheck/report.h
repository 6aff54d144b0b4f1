#pragma once
// Diagnostics and their output, as compiler-style text or as JSON.
#include <ostream>
#include <string>
#include <vector>

namespace lucheck {

enum class Severity { kError, kWarning, kNote };

struct Diagnostic {
    std::string file;  // "UPDATE.LST", or a payload file's name
    int line = 0;      // 0: about the file as a whole
    Severity severity = Severity::kError;
    std::string message;
};

struct Summary {
    int errors = 0;
    int warnings = 0;
    int notes = 0;
    int entries = 0;
    int payloadFiles = 0;
    std::string seal;  // "not sealed", "intact" or "damaged"
};

Summary Count(const std::vector<Diagnostic>& diagnostics);

// "UPDATE.LST:12: error: text" lines, then one summary line.
void PrintText(std::ostream& out, const std::vector<Diagnostic>& diagnostics, const Summary& summary);
void PrintJson(std::ostream& out, const std::string& package, const std::vector<Diagnostic>& diagnostics,
               const Summary& summary);

// A JSON string literal.
std::string Json(const std::string& text);

}  // namespace lucheck
