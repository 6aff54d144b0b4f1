#pragma once
// Whether a payload file's registration at install time would work, judged
// from the file's bytes.
#include <cstdint>
#include <string>
#include <vector>

namespace lucheck {

// The reason the installer's registration of a file with this extension
// (upper case, as the installer takes it: "DLL", "OCX", "EXE", "TLB", ...)
// would fail, or an empty string when nothing is wrong or the extension is
// not registered at all.
std::string RegistrationProblem(const std::string& extension, const std::vector<uint8_t>& bytes);

// Whether a program file carries an Authenticode signature: its certificate
// table (data directory 4, which gives a file offset) is present and lies
// within the file. Without one, Windows names an unknown publisher.
bool CarriesSignature(const std::vector<uint8_t>& bytes);

}  // namespace lucheck
