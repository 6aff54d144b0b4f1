#pragma once
// The body of UPDATE.LST: which files to deploy, under which folder selector.
#include "setup/installer_state.h"

#include <string>
#include <vector>

namespace setup {

// What reading the list found.
enum class ListRead {
    kMissing,  // no UPDATE.LST
    kNoBody,   // no START line: a list cut off after its header, or one that lists nothing
    kRead,
};

// A FILE line's name that the installer keeps for itself, and where the
// list names it first.
struct OwnNameListed {
    int line = 0;      // UPDATE.LST's line; 0: the list names none
    std::string name;  // as read: upper-cased
    std::string why;   // OwnNameReason's words
};

// Appends every file the list's body names to UpdateFiles, in list order.
// A missing list adds nothing. `ownName`, where given, receives the first
// name that the installer keeps for itself.
ListRead ReadUpdateList(Context& ctx, OwnNameListed* ownName = nullptr);

// What the reader made of one line after the header.
enum class BodyLine {
    kEmpty,           // skipped
    kPreamble,        // before START: ignored
    kStart,           // opens the body (again: no effect)
    kEnd,             // the reading stops here
    kFolder,          // sets the folder selector
    kFile,            // appends entries
    kNoComma,         // in the body but without a comma: ignored
    kUnknownKeyword,  // in the body, first field not a keyword: ignored
};

// Reads the list's body line by line, as the installer does.
class ListBodyReader {
public:
    // Takes the next line (untrimmed); FILE lines append to `files`.
    BodyLine Read(const std::string& line, std::vector<UpdateFileEntry>& files);
    const std::string& Folder() const { return folder_; }
    bool InBody() const { return inBody_; }

private:
    bool inBody_ = false;
    std::string folder_;
};

// The text after the last "." of a file's name, upper-cased; the whole name
// when it has none. It says how a listed file is registered.
std::string ExtensionOf(const std::string& fileName);

// Whether a FILE line's name can ever be found beside the installer: not
// empty, no wildcards, and nothing that could lead out of the package
// folder (\, /, : or ..). The installer, the seal check and lucheck all ask here.
bool FindableName(const std::string& name);

// Why a listed name is one the installer keeps for itself, in words that
// follow the name ("is the installer's own name"); empty for any other
// name. Its own program (installed and registered, it would start the
// installer), its event message file, and the names its temporaries take
// beside a file (which /verify and the removal take for its own). The
// installer refuses a list that names one; lucheck reports it.
std::string OwnNameReason(const std::string& name);

// Whether a folder selector (the FOLDER line's fields joined, e.g.
// "HELP\EN\") climbs out of the host folder: a part of it is "..". (It is
// always joined to the host folder, so a leading backslash stays inside,
// and a drive makes a path that cannot be written.)
bool FolderLeavesHost(const std::string& selector);

// The header's fields, and which one holds the web ID for a host version:
// -1 when no field does, and the version is not supported.
constexpr int kHeaderFields = 6;
int WebIdField(const std::string& systemName, const std::string& version);
// The host versions the header has a web ID field for, in the fields' order
// (the first is field 1).
std::vector<std::string> HeaderVersions(const std::string& systemName);

}  // namespace setup
