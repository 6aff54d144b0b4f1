#pragma once
// Sequential text input by file number: open, read one line at a time,
// test for the end, close. Lines end at CR LF, LF or a lone CR; a UTF-8
// byte-order mark at the start of a file is skipped. Failures raise runtime
// errors (file not found, input past end of file, bad file number).
#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace platform {

class SequentialFiles {
public:
    SequentialFiles();
    ~SequentialFiles();
    SequentialFiles(const SequentialFiles&) = delete;
    SequentialFiles& operator=(const SequentialFiles&) = delete;

    int FreeFile() const;  // lowest file number not in use
    void OpenForInput(int fileNumber, const std::string& path);
    std::string LineInput(int fileNumber);
    bool Eof(int fileNumber);
    void Close(int fileNumber);

private:
    class Reader;
    Reader& At(int fileNumber);
    std::map<int, std::unique_ptr<Reader>> open_;
};

}  // namespace platform
