#include "setup/files_in_use.h"

#include <algorithm>

#include "platform/os_services.h"
#include "platform/text.h"
#include "setup/deploy.h"
#include "setup/update_list.h"

namespace setup {

// Only files under the host folder are replaced; those in the system
// directory stay as they are, in use or not.
std::vector<std::string> FindFilesInUse(Context& ctx, const std::string& productFolder) {
    std::vector<std::string> held;
    const std::vector<UpdateFileEntry>& files = ctx.state.UpdateFiles;
    for (std::size_t i = 1; i < files.size(); ++i) {
        if (!FindableName(files[i].FileName) || FolderLeavesHost(files[i].Folder)) continue;
        const Destination destination = DestinationFor(ctx.state.SystemDirectory, productFolder, files[i]);
        if (!destination.replace || std::find(held.begin(), held.end(), destination.path) != held.end()) continue;
        if (ctx.os.FileInUse(destination.path)) held.push_back(destination.path);
    }
    return held;
}

std::string FilesInUseQuestion(const std::vector<std::string>& names) {
    std::string text = "These programs are using files that this update replaces:\r\n";
    for (std::size_t i = 0; i < names.size() && i < kMostNamedInUse; ++i) text += "\r\n" + names[i];
    if (names.size() > kMostNamedInUse) {
        const long more = static_cast<long>(names.size() - kMostNamedInUse);
        text += platform::Cat({"\r\nand ", platform::Number(more), " more"});
    }
    return text + "\r\n\r\nClose them and click Retry. Ignore finishes the update when Windows restarts. Abort "
                  "cancels it.";
}

}  // namespace setup
