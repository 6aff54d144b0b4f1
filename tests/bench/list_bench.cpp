// Times ReadUpdateList on a list of 100,000 FILE entries written to a
// temporary folder; prints the median of several runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "fakes.h"
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

    std::sort(milliseconds.begin(), milliseconds.end());
    const double median = milliseconds[kRuns / 2];
    std::printf("ReadUpdateList: %d entries (%zu bytes), median of %d runs: %.2f ms, %.1f ns/entry\n", kEntries,
                text.size(), kRuns, median, median * 1e6 / kEntries);
    return 0;
}
