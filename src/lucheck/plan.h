#pragma once
// A dry run of the install against a host folder laid out as on the
// customer's machine: the installer's own install code runs on a file
// system that is only looked at, and what it would do is recorded.
#include <ostream>
#include <string>
#include <vector>

#include "lucheck/package.h"

namespace lucheck {

struct PlanRequest {
    std::string hostFolder;
    std::string hostVersion;
    std::string systemFolder;  // empty: an empty system directory
};

struct PlannedFile {
    std::string source;
    std::string destination;
    std::string action;        // new copy, replace, kept, source missing, destination folder missing, could not copy
    std::string registration;  // the command line, "type-library calls", or empty
    bool arrives = false;      // the file is in place afterwards
};

struct Plan {
    std::string systemName;
    std::string webId;  // empty: the version is turned away and nothing is installed
    std::vector<PlannedFile> files;
    std::string settingsFile;
    std::string startMenuGroup;
    std::string startMenuItem;
    std::string itemCommand;
    bool itemTargetFound = true;  // the item's program is in the host folder or arrives with the package
    std::string eventSource;  // the Application event log's source of the installer's events
    std::string messageFile;  // where the install keeps the events' message file
};

Plan MakePlan(const Package& package, const PlanRequest& request);

// The host version the host folder's Sys\TOVASK.INI gives ([Tovask] Ver),
// as the installer reads it; empty when it gives none.
std::string HostFolderVersion(const std::string& hostFolder);

void PrintPlanText(std::ostream& out, const Plan& plan, const PlanRequest& request);
void PrintPlanJson(std::ostream& out, const Plan& plan, const PlanRequest& request);

}  // namespace lucheck
