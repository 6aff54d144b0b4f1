// Times ReadUpdateList on a list of 100,000 FILE entries written to a
// temporary folder, and the package checker on that list with its 100,000
// payload files beside it; prints the median of several runs of each.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "fakes.h"
#include "lucheck/check.h"
#include "lucheck/package.h"
#include "setup/update_list.h"

namespace {

constexpr int kEntries = 100000;
constexpr int kRuns = 7;

std::string ListText() {
    std::string text = "Vantrel,WEB130,WEB131,WEB120,WEB140,WEB110\r\nSTART\r\n";
    for (int i = 0; i < kEntries; ++i) {
        if (i % 1000 == 0) text += "FOLDER, Sys , Sub" + std::to_string(i / 1000) + "\r\n";
        text += "FILE, payload" + std::to_string(i) + ".dll\r\n";
    }
    return text + "END\r\n";
}

}  // namespace

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A package of kEntries payload files, each named by its list: one in
// `dllEvery` a DLL (two bytes, which the checker reads and judges), the
// others data files the installer only copies.
std::string MakePackage(int dllEvery) {
    char pattern[] = "/tmp/lu-bench-pkg-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    std::string list = "Vantrel,WEB130,WEB131,WEB120,WEB140,WEB110\r\nSTART\r\n";
    for (int i = 0; i < kEntries; ++i) {
        if (i % 1000 == 0) list += "FOLDER,Sys,Sub" + std::to_string(i / 1000) + "\r\n";
        const std::string name = "payload" + std::to_string(i) + (i % dllEvery == 0 ? ".dll" : ".dat");
        list += "FILE," + name + "\r\n";
        if (std::FILE* f = std::fopen((folder + "/" + name).c_str(), "wb")) {
            std::fputs("MZ", f);
            std::fclose(f);
        }
    }
    if (std::FILE* f = std::fopen((folder + "/UPDATE.LST").c_str(), "wb")) {
        std::fputs((list + "END\r\n").c_str(), f);
        std::fclose(f);
    }
    return folder;
}

// The checker's time from reading the package folder to its last diagnostic.
int BenchChecker(int dllEvery, const char* what) {
    const std::string folder = MakePackage(dllEvery);
    std::vector<double> seconds;
    std::size_t diagnostics = 0;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        lucheck::Package package;
        std::string reason;
        int entries = 0;
        if (!lucheck::ReadPackage(folder, package, reason)) {
            std::fprintf(stderr, "%s\n", reason.c_str());
            return 1;
        }
        diagnostics = lucheck::CheckPackage(package, entries).size();
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::system(("rm -rf '" + folder + "'").c_str());
    std::printf("lucheck: %d entries, %d payload files (%s), %zu diagnostics, median of 3 runs: %.2f s\n", kEntries,
                kEntries + 1, what, diagnostics, Median(seconds));
    return 0;
}

int main() {
    char pattern[] = "/tmp/lu-bench-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    // On the host a backslash is an ordinary file-name character.
    const std::string listPath = folder + "\\UPDATE.LST";
    const std::string text = ListText();
    if (std::FILE* f = std::fopen(listPath.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }

    fakes::Journal journal;
    fakes::FakeOs os(journal);
    fakes::FakeForms forms(journal);
    os.AddFile(listPath);
    setup::InstallerState state;
    state.ServerPath = folder;
    setup::Context ctx{state, os, forms};

    std::vector<double> milliseconds;
    for (int run = 0; run < kRuns; ++run) {
        state.UpdateFiles.assign(1, setup::UpdateFileEntry{});
        const auto start = std::chrono::steady_clock::now();
        setup::ReadUpdateList(ctx);
        const auto stop = std::chrono::steady_clock::now();
        milliseconds.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
        if (state.UpdateFiles.size() != kEntries + 1) {
            std::fprintf(stderr, "read %zu entries, expected %d\n", state.UpdateFiles.size() - 1, kEntries);
            return 1;
        }
    }
    std::remove(listPath.c_str());
    rmdir(folder.c_str());

    const double median = Median(milliseconds);
    std::printf("ReadUpdateList: %d entries (%zu bytes), median of %d runs: %.2f ms, %.1f ns/entry\n", kEntries,
                text.size(), kRuns, median, median * 1e6 / kEntries);
    return BenchChecker(10, "one in 10 a DLL to judge") || BenchChecker(1, "every one a DLL to judge");
}
