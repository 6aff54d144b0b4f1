#pragma once
// The package's class registrations as data (CLASSES.TXT): what each
// listed DLL, OCX or EXE server writes when it registers itself, harvested
// by lucheck on the package author's machine, so that the installer writes
// the values itself and runs none of the package's or the host's code.
//
// The file sits in the package folder, which users may write: it is read
// under the same rules by the installer and by lucheck, and trusted no
// further than they allow.
//
//   # comment
//   [TVKCOM.DLL]
//   CLSID\{...}\InprocServer32<TAB><TAB>REG_SZ<TAB><file>
//   CLSID\{...}\InprocServer32<TAB>ThreadingModel<TAB>REG_SZ<TAB>Apartment
//   CLSID\{...}\Implemented Categories\{...}
//
// A section per listed file; a line per value: key (below the machine's
// classes root, HKEY_LOCAL_MACHINE\Software\Classes), value name (empty:
// the key's default value), type, data; or the key alone, made without a
// value. Tabs, line ends, NULs and '%' inside a field are written %09,
// %0D, %0A, %00 and %25. A string that names a file names it through a
// token: <file> (the listed file's destination), <short file> (its short
// form) or <folder> (the destination's folder, no trailing backslash).
#include <cstdint>
#include <string>
#include <vector>

#include "platform/os_services.h"

namespace setup {

constexpr const char* kClassDataName = "CLASSES.TXT";
// Where the values go, below HKEY_LOCAL_MACHINE (HKEY_CLASSES_ROOT's machine part).
constexpr const char* kClassesKey = "Software\\Classes";
constexpr const char* kFileToken = "<file>";
constexpr const char* kShortFileToken = "<short file>";
constexpr const char* kFolderToken = "<folder>";

enum class ValueType { kNone, kString, kExpandString, kMultiString, kNumber, kBinary };

struct ClassValue {
    std::string key;          // below the classes root, no leading or trailing backslash
    std::string name;         // empty: the default value
    ValueType type = ValueType::kNone;  // kNone: the key alone
    std::string data;         // strings as they are (a multi-string's parts NUL-separated),
                              // a number's four bytes little-endian, binary bytes
};

struct ClassData {
    std::string file;  // the listed file's name, upper-cased
    std::vector<ClassValue> values;
};

// What reading found wrong, with the line it is on (1-based).
struct ClassDataTrouble {
    int line = 0;
    std::string why;
};

// Reads the text. `listed`: the names (upper-cased) of the files the
// package lists and installs. False, with the first line that breaks a
// rule, when any does: a line outside a section, a section for a file not
// listed (or named twice), a key outside the class keys (CLSID, TypeLib,
// Interface, AppID, a ProgID with its CLSID, CurVer and DefaultIcon; no
// shell verbs anywhere), an unknown type, data that does not fit its type,
// or a string that names a file other than through a token.
bool ReadClassData(const std::string& text, const std::vector<std::string>& listed, std::vector<ClassData>& data,
                   ClassDataTrouble& trouble);

// The text for the data, as ReadClassData reads it back.
std::string FormatClassData(const std::vector<ClassData>& data);

// Why a key (below the classes root) is not one a package may write;
// empty when it may.
std::string KeyTrouble(const std::string& key);

// Why a string value names a file other than through a token; empty when
// it does not name one, or names it through a token.
std::string FileNameTrouble(const std::string& text);

// The string with its tokens in place, for a file installed at `path`
// (`shortPath`: its short form; the long one where there is none).
std::string WithTokensReplaced(const std::string& text, const std::string& path, const std::string& shortPath);

// The string with every spelling of the path (long or short, any case)
// turned into its token: the harvest's side of WithTokensReplaced.
std::string WithPathsTokenized(const std::string& text, const std::string& path, const std::string& shortPath);

// The value as the registry stores it, for a file installed at `path`.
platform::RegistryValue RegistryValueOf(const ClassValue& value, const std::string& path, const std::string& shortPath);

// Bytes in hexadecimal, as the file and the record write them.
std::string HexBytes(const std::string& bytes);

// A value as a `value` record line gives it: its type as a number, its bytes in hex.
platform::RegistryValue RecordedValue(const std::string& type, const std::string& hex);
// "HKEY_LOCAL_MACHINE\<key> <name>", "(default)" for the default value: for the log and /verify.
std::string ClassValueName(const std::string& key, const std::string& name);

// REG_SZ, REG_DWORD and the rest, as the file spells them; and back.
const char* ValueTypeName(ValueType type);
ValueType ValueTypeNamed(const std::string& name);

}  // namespace setup
