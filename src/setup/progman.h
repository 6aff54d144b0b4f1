#pragma once
// The Program Manager group and item for the update client, made through a
// DDE conversation whose client is the window's hidden label "Label1", and
// the nested busy pointer the conversation shows meanwhile.
#include <cstdint>
#include <string>

#include "setup/installer_state.h"
#include "setup/main_window.h"

namespace setup {

constexpr int16_t kCreateGroupAndItem = 1;
constexpr int16_t kDeleteItemAndGroup = 2;  // the group holds only the item

// The Start-menu group for the update client, and its item's title.
std::string ProgramGroupName(const std::string& systemName, const std::string& productVersion);
std::string ProgramItemTitle(const std::string& systemName);

// Composes the item's command line (short path of the unquoted command, a
// space, the arguments) and hands it to Program Manager.
void CreateShortcutItem(Context& ctx, MainWindow& window, const std::string& group, const std::string& command,
                        const std::string& arguments, const std::string& title);

// Writes the item as a shortcut file, without a shell to talk to: the
// group's folder in the all-users Start menu (the user's where the system
// has no all-users one) and the shortcut in it, replacing one there.
// Logged; false when it could not be made.
bool CreateStartMenuShortcut(Context& ctx, const std::string& group, const std::string& target,
                             const std::string& workingFolder, const std::string& title);

void CreateProgManItem(Context& ctx, MainWindow& window, const std::string& group, const std::string& commandLine,
                       const std::string& title);

// Talks to Program Manager; every failure of the conversation is ignored.
void PerformDDE(Context& ctx, MainWindow& window, const std::string& group, const std::string& commandLine,
                const std::string& title, int16_t action);

// 11 asks for the hourglass, 0 ends a request; the hourglass shows while
// any request is outstanding.
void SetBusyPointer(Context& ctx, int pointer);

}  // namespace setup
