// lucheck: checks an update package before it ships, and shows what the
// installer would do with it on a given host.
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "lucheck/check.h"
#include "lucheck/harvest.h"
#include "lucheck/plan.h"
#include "lucheck/seal.h"
#include "platform/text.h"
#include "setup/class_data.h"
#include "setup/install_record.h"

namespace {

const char kHelp[] =
    "Usage:\n"
    "  lucheck [--json] PACKAGE_DIR\n"
    "      Reads the package as the installer does and reports every mistake the installer would\n"
    "      forgive, and every file that does not match a SHA256SUMS beside UPDATE.LST (which the\n"
    "      installer refuses): FILE:LINE: error|warning|note: text, then a summary line.\n"
    "      Exit status: 0 no errors, 1 errors, 2 the package cannot be read.\n"
    "  lucheck --plan PACKAGE_DIR --host DIR [--version VERSION] [--system-dir DIR] [--json]\n"
    "      A dry run against a host folder laid out as on the customer's machine: each file's\n"
    "      source, destination, what happens and its registration, in install order; then the\n"
    "      web ID written and the Start-menu item. Nothing is written. Without --version, the host\n"
    "      version is the host folder's (Sys\\TOVASK.INI); without --system-dir the system directory\n"
    "      counts as empty.\n"
    "      Exit status: 0 every file arrives, 1 a file does not or the version is turned away,\n"
    "      2 the package cannot be read.\n"
    "  lucheck --seal PACKAGE_DIR\n"
    "      Writes PACKAGE_DIR/SHA256SUMS (sha256sum's format) for UPDATE.LST and every listed file,\n"
    "      which the installer and the check then verify; sha256sum -c SHA256SUMS verifies it too.\n"
    "      Exit status: 0 written, 1 a listed file is missing or unreadable (nothing written),\n"
    "      2 the package cannot be read.\n"
    "  lucheck --harvest PACKAGE_DIR\n"
    "      Writes PACKAGE_DIR/CLASSES.TXT: what each listed DLL, OCX and EXE server writes when it\n"
    "      registers itself: a DLL or OCX loaded in lucheck's own process with the registry redirected\n"
    "      into a scratch key, an EXE run with /RegServer and /UnregServer and the class keys compared\n"
    "      (run it on the build machine: lucheck.exe on Windows). The installer then writes those values\n"
    "      itself and runs no registration code. Seal afterwards: SHA256SUMS covers CLASSES.TXT.\n"
    "      Exit status: 0 written, 1 a file cannot be harvested (nothing written), 2 the package cannot\n"
    "      be read.\n"
    "  lucheck --help\n"
    "\n"
    "Examples:\n"
    "  lucheck dist/update\n"
    "  lucheck --plan dist/update --host test/vantrel-1.30 --version 1.30 --json\n"
    "  lucheck --seal dist/update && lucheck dist/update\n";

struct Options {
    bool help = false;
    bool json = false;
    bool plan = false;
    bool seal = false;
    bool harvest = false;
    std::string package;
    lucheck::PlanRequest request;
};

// Reads the command line; empty when it is whole, else what is wrong with it.
std::string Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return arg + " needs a value after it";
            into = argv[++i];
            return std::string();
        };
        std::string trouble;
        if (arg == "--help" || arg == "-h") options.help = true;
        else if (arg == "--json") options.json = true;
        else if (arg == "--plan") options.plan = true;
        else if (arg == "--seal") options.seal = true;
        else if (arg == "--harvest") options.harvest = true;
        else if (arg == "--host") trouble = value(options.request.hostFolder);
        else if (arg == "--version") trouble = value(options.request.hostVersion);
        else if (arg == "--system-dir") trouble = value(options.request.systemFolder);
        else if (arg.rfind("--", 0) == 0) trouble = "unknown option " + arg;
        else if (!options.package.empty()) trouble = "one PACKAGE_DIR only, not " + options.package + " and " + arg;
        else options.package = arg;
        if (!trouble.empty()) return trouble;
    }
    if (options.help) return std::string();
    if (options.package.empty()) return "no PACKAGE_DIR given";
    if (options.seal && (options.plan || options.json)) return "--seal goes with neither --plan nor --json";
    if (options.harvest && (options.seal || options.plan || options.json))
        return "--harvest goes with none of --seal, --plan and --json";
    if (!options.plan) return std::string();
    if (options.request.hostFolder.empty()) return "--plan needs --host DIR, the host folder to plan against";
    return std::string();
}

// A folder given with ".." steps, as its full path: the installer's rules
// never let a path that climbs out of the host folder through.
std::string WithoutParentSteps(const std::string& folder) {
    const std::filesystem::path path(folder);
    for (const auto& part : path)
        if (part == "..") return std::filesystem::absolute(path).lexically_normal().string();
    return folder;
}

// The package's own files, beside its payload: the list, the seal, the
// class data and the installer (names upper-cased).
bool PackagesOwn(const std::string& name) {
    for (const char* own : {"UPDATE.LST", setup::kSealFileName, setup::kClassDataName, setup::kUninstallerName})
        if (name == platform::UCase(own)) return true;
    return false;
}

int Check(const lucheck::Package& package, bool json) {
    int entries = 0;
    setup::SealStatus seal = setup::SealStatus::kNotSealed;
    const auto diagnostics = lucheck::CheckPackage(package, entries, &seal);
    lucheck::Summary summary = lucheck::Count(diagnostics);
    summary.entries = entries;
    summary.seal = seal == setup::SealStatus::kNotSealed ? "not sealed"
                   : seal == setup::SealStatus::kIntact  ? "intact"
                                                         : "damaged";
    for (const auto& file : package.files)
        if (!PackagesOwn(file.first)) summary.payloadFiles += static_cast<int>(file.second.size());
    if (json)
        lucheck::PrintJson(std::cout, package.folder, diagnostics, summary);
    else
        lucheck::PrintText(std::cout, diagnostics, summary);
    return summary.errors ? 1 : 0;
}

int Plan(const lucheck::Package& package, lucheck::PlanRequest request, bool json) {
    request.hostFolder = WithoutParentSteps(request.hostFolder);
    if (!request.systemFolder.empty()) request.systemFolder = WithoutParentSteps(request.systemFolder);
    std::error_code error;
    if (!std::filesystem::is_directory(request.hostFolder, error)) {
        std::cerr << "lucheck: " << request.hostFolder << ": not a folder\n";
        return 2;
    }
    // Without --version, the host folder's own; one that differs is said.
    const std::string inHost = lucheck::HostFolderVersion(request.hostFolder);
    if (request.hostVersion.empty()) request.hostVersion = inHost;
    if (request.hostVersion.empty()) {
        std::cerr << "lucheck: " << request.hostFolder << "\\Sys\\TOVASK.INI gives no version ([Tovask] Ver): "
                  << "give one with --version VERSION\n";
        return 2;
    }
    if (!inHost.empty() && inHost != request.hostVersion && !json)
        std::cout << "note: " << request.hostFolder << "\\Sys\\TOVASK.INI says version " << inHost
                  << "; planned for " << request.hostVersion << ", as --version asks\n";
    const lucheck::Plan plan = lucheck::MakePlan(package, request);
    if (json)
        lucheck::PrintPlanJson(std::cout, plan, request);
    else
        lucheck::PrintPlanText(std::cout, plan, request);
    bool trouble = plan.webId.empty();
    for (const auto& file : plan.files) trouble |= !file.arrives;
    return trouble ? 1 : 0;
}

int Seal(const lucheck::Package& package) {
    std::string written;
    std::string reason;
    int files = 0;
    if (!lucheck::WriteSeal(package, written, files, reason)) {
        std::cerr << "lucheck: " << reason << "; SHA256SUMS not written\n";
        return 1;
    }
    std::cout << written << ": " << files << " files sealed\n";
    return 0;
}

int HarvestClasses(const lucheck::Package& package) {
    std::string written;
    std::vector<std::string> problems, notes;
    int files = 0;
    const bool harvested = lucheck::Harvest(package, written, files, problems, notes);
    for (const std::string& note : notes) std::cout << note << '\n';
    for (const std::string& problem : problems) std::cerr << "lucheck: " << problem << '\n';
    if (!harvested) {
        std::cerr << "lucheck: CLASSES.TXT not written\n";
        return 1;
    }
    std::cout << written << ": " << files << " files harvested\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const std::string trouble = Parse(argc, argv, options);
    if (!trouble.empty()) {
        std::cerr << "lucheck: " << trouble << "\nlucheck --help shows how to use it\n";
        return 2;
    }
    if (options.help) {
        std::cout << kHelp;
        return 0;
    }
    lucheck::Package package;
    std::string reason;
    if (!lucheck::ReadPackage(options.package, package, reason)) {
        std::cerr << "lucheck: " << reason << '\n';
        return 2;
    }
    if (options.seal) return Seal(package);
    if (options.harvest) return HarvestClasses(package);
    return options.plan ? Plan(package, options.request, options.json) : Check(package, options.json);
}
