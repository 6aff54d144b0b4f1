#pragma once
// A fresh installer for each test: state, fake platform and the window,
// with UPDATE.LST written where the installer looks for it.
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include <unistd.h>

#include "app/command_line.h"
#include "app/frmUPDATE.h"
#include "fakes.h"

namespace fakes {

// A folder whose name, joined with a backslash to a file name, is a valid
// host path: on the host a backslash is an ordinary file-name character.
class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/lu-test-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempFolder() { std::system(("rm -rf '" + path_ + "' '" + path_ + "\\'* 2>/dev/null").c_str()); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

struct Installer {
    Journal journal;
    FakeOs os{journal};
    FakeForms forms{journal};
    setup::InstallerState state;
    TempFolder server;
    std::unique_ptr<frmUPDATE> window;

    static constexpr const char* kHeader = "Vantrel,WEB130,WEB131,WEB120,WEB140,WEB110";

    Installer() {
        os.installerFolder = server.Path();
        os.settings["Vantrel\\Setup\\CS_Path"] = "C:\\Vantrel";
        os.SetIni("C:\\Vantrel\\Sys\\TOVASK.INI", "Tovask", "Ver", "1.30");
        os.AddFile("C:\\Vantrel\\Sys\\TOVASK.INI");
        os.folders.insert({"C:\\Vantrel", "C:\\Vantrel\\Sys"});
        os.AddFile(os.GetInstallerFile(), "the installer");
        WriteList(std::string(kHeader) + "\r\n");
        forms.os = &os;
        window = std::make_unique<frmUPDATE>(setup::Context{state, os, forms});
    }

    std::string ListPath() const { return server.Path() + "\\UPDATE.LST"; }

    void WriteList(const std::string& content) const {
        std::ofstream(ListPath(), std::ios::binary) << content;
    }

    // What the program's entry point does once the run is over: the log's
    // last line; returns the exit code.
    int End() {
        setup::Context ctx{state, os, forms};
        return setup::EndRun(ctx);
    }

    // Runs the load event; true when the program ended during it.
    bool Load() {
        try {
            window->Form_Load();
            return false;
        } catch (const ProgramEnded&) {
            return true;
        }
    }
};

// One run of the program on a machine that outlives it (the lifecycle
// model's): a fresh state and window, as each new process has.
struct Process {
    FakeForms forms;
    setup::InstallerState state;
    std::unique_ptr<frmUPDATE> window;

    Process(FakeOs& machine, Journal& journal, const std::string& arguments) : forms(journal), machine_(machine) {
        state.Options = app::ParseCommandLine(arguments);
        forms.os = &machine;
        window = std::make_unique<frmUPDATE>(setup::Context{state, machine, forms});
    }

    // The whole run, as the program's entry point makes it: the load, what
    // it schedules, the log's last line; the exit code. A kill (Killed)
    // leaves it at once.
    int Run() {
        try {
            window->Form_Load();
            forms.RunScheduled();
        } catch (const ProgramEnded&) {
        }
        setup::Context ctx{state, machine_, forms};
        return setup::EndRun(ctx);
    }

private:
    FakeOs& machine_;
};

}  // namespace fakes
