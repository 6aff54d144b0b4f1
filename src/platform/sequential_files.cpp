#include "platform/sequential_files.h"

#include <cerrno>
#include <vector>

#include "platform/runtime_error.h"

namespace platform {

// Buffered reader over one open file.
class SequentialFiles::Reader {
public:
    explicit Reader(std::FILE* file) : file_(file), buffer_(1 << 16) { SkipByteOrderMark(); }
    ~Reader() { std::fclose(file_); }

    bool AtEnd() { return Peek() == EOF; }

    std::string ReadLine() {
        if (AtEnd()) Raise(errnum::kInputPastEnd);
        std::string line;
        for (;;) {
            if (pos_ == end_ && !Fill()) return line;
            const char* start = buffer_.data() + pos_;
            std::size_t n = 0;
            while (pos_ + n < end_ && start[n] != '\r' && start[n] != '\n') ++n;
            line.append(start, n);
            pos_ += n;
            if (pos_ < end_) break;  // stopped at a terminator
        }
        const char terminator = buffer_[pos_++];
        if (terminator == '\r' && Peek() == '\n') ++pos_;
        return line;
    }

private:
    int Peek() {
        if (pos_ == end_ && !Fill()) return EOF;
        return static_cast<unsigned char>(buffer_[pos_]);
    }

    bool Fill() {
        pos_ = 0;
        end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
        return end_ > 0;
    }

    void SkipByteOrderMark() {
        if (!Fill()) return;
        if (end_ >= 3 && static_cast<unsigned char>(buffer_[0]) == 0xEF &&
            static_cast<unsigned char>(buffer_[1]) == 0xBB &&
            static_cast<unsigned char>(buffer_[2]) == 0xBF)
            pos_ = 3;
    }

    std::FILE* file_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

SequentialFiles::SequentialFiles() = default;
SequentialFiles::~SequentialFiles() = default;

int SequentialFiles::FreeFile() const {
    int number = 1;
    while (open_.count(number)) ++number;
    return number;
}

void SequentialFiles::OpenForInput(int fileNumber, const std::string& path) {
    if (fileNumber < 1 || fileNumber > 511) Raise(errnum::kBadFileNameOrNumber);
    if (open_.count(fileNumber)) Raise(errnum::kFileAlreadyOpen);
    if (path.empty()) Raise(errnum::kBadFileNameOrNumber);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) Raise(errno == ENOENT ? errnum::kFileNotFound : errnum::kPathNotFound);
    open_[fileNumber] = std::make_unique<Reader>(file);
}

SequentialFiles::Reader& SequentialFiles::At(int fileNumber) {
    auto it = open_.find(fileNumber);
    if (it == open_.end()) Raise(errnum::kBadFileNameOrNumber);
    return *it->second;
}

std::string SequentialFiles::LineInput(int fileNumber) { return At(fileNumber).ReadLine(); }

bool SequentialFiles::Eof(int fileNumber) { return At(fileNumber).AtEnd(); }

void SequentialFiles::Close(int fileNumber) {
    At(fileNumber);
    open_.erase(fileNumber);
}

}  // namespace platform
