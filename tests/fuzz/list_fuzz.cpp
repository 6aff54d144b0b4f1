// Fuzz target for the package's two readers: each input is written as
// UPDATE.LST and read into a fresh file list, and read as the class data.
// Besides crashes and hangs it traps on entries that the list reader can
// never produce from a sound reading, and on class data that reads but
// does not read back the same once written.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "fakes.h"
#include "platform/runtime_error.h"
#include "setup/class_data.h"
#include "setup/update_list.h"

namespace {

struct ListFolder {
    ListFolder() {
        // A memory-backed folder where there is one: every input is a file write.
        std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/lu-fuzz-XXXXXX" : "/tmp/lu-fuzz-XXXXXX";
        if (!mkdtemp(&pattern[0])) std::abort();
        path = pattern;
        listPath = path + "\\UPDATE.LST";  // on the host a backslash is an ordinary character
    }
    ~ListFolder() {
        std::remove(listPath.c_str());
        rmdir(path.c_str());
    }
    std::string path;
    std::string listPath;
};

void Write(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (size) std::fwrite(data, 1, size, file);
    std::fclose(file);
}

bool WellFormed(const setup::UpdateFileEntry& e) {
    const bool nameTrimmed = e.FileName.empty() || (e.FileName.front() != ' ' && e.FileName.back() != ' ');
    const bool folderEnds = e.Folder.empty() || e.Folder.back() == '\\';
    return nameTrimmed && folderEnds && e.FileName.find_first_of(",\r\n") == std::string::npos &&
           e.Folder.find_first_of(",\r\n") == std::string::npos && e.Extension.find('.') == std::string::npos;
}

bool SameValues(const std::vector<setup::ClassData>& a, const std::vector<setup::ClassData>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].file != b[i].file || a[i].values.size() != b[i].values.size()) return false;
        for (std::size_t j = 0; j < a[i].values.size(); ++j) {
            const setup::ClassValue &x = a[i].values[j], &y = b[i].values[j];
            if (x.key != y.key || x.name != y.name || x.type != y.type || x.data != y.data) return false;
        }
    }
    return true;
}

// Class data read from the input writes and reads back as it was.
void CheckClassData(const uint8_t* data, size_t size) {
    const std::vector<std::string> listed = {"TVKCOM.DLL", "TVKUPDT.EXE", "A"};
    std::vector<setup::ClassData> read, again;
    setup::ClassDataTrouble trouble;
    if (!setup::ReadClassData(std::string(reinterpret_cast<const char*>(data), size), listed, read, trouble)) {
        if (trouble.line < 1 || trouble.why.empty()) __builtin_trap();
        return;
    }
    if (!setup::ReadClassData(setup::FormatClassData(read), listed, again, trouble) || !SameValues(read, again))
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckClassData(data, size);
    static ListFolder folder;
    Write(folder.listPath, data, size);

    fakes::Journal journal;
    fakes::FakeOs os(journal);
    fakes::FakeForms forms(journal);
    os.AddFile(folder.listPath);
    setup::InstallerState state;
    state.ServerPath = folder.path;
    state.UpdateFiles.assign(1, setup::UpdateFileEntry{});
    setup::Context ctx{state, os, forms};
    try {
        setup::ReadUpdateList(ctx);
    } catch (const platform::RuntimeError&) {
        // Only a list without any line cannot be read: an empty file, or one
        // that holds nothing but the UTF-8 byte-order mark, which is skipped.
        const bool onlyMark = size == 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF;
        if (size != 0 && !onlyMark) __builtin_trap();
    }
    if (forms.Files().FreeFile() != 1) __builtin_trap();  // the list was closed
    for (size_t i = 1; i < state.UpdateFiles.size(); ++i)
        if (!WellFormed(state.UpdateFiles[i])) __builtin_trap();
    return 0;
}
