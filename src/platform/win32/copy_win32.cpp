// The copy that hands its content to a looker (the install hashes what it
// copies): each file is read once. A large file's pieces are looked at on a
// thread of their own, in order, while the next ones are read and written;
// a small file's between their read and their write.
#include <windows.h>

#include <vector>

#include "platform/win32/os_win32.h"

namespace platform::win32 {

namespace {

// The attributes a copy takes over from its source, as CopyFileA's do.
constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// Pieces small enough to stay in the processor's cache between the read,
// the look and the write.
constexpr DWORD kPiece = 64u << 10;
// Pieces handed to the looker's thread: large, as each hand-over costs
// calls to the system (under Wine, to its server).
constexpr DWORD kLookerPiece = 1u << 20;
// Pieces in flight between the copy and the looker.
constexpr int kRing = 3;
// From this size on the file is looked at on a thread: below it, starting
// one costs more than it saves.
constexpr uint64_t kThreadFrom = 4u << 20;

using Seen = std::function<void(const void*, std::size_t)>;

// Looks at the pieces the copy hands over, in order, on its own thread. A
// piece's buffer goes back to the copy once it has been looked at; the copy
// writes it meanwhile (both only read it). A piece of size 0 ends the thread.
class Looker {
public:
    explicit Looker(const Seen& seen) : seen_(seen), buffers_(kRing, std::vector<char>(kLookerPiece)) {
        free_ = CreateSemaphoreA(nullptr, kRing, kRing, nullptr);
        filled_ = CreateSemaphoreA(nullptr, 0, kRing, nullptr);
        if (free_ && filled_) thread_ = CreateThread(nullptr, 0, &Looker::Run, this, 0, nullptr);
    }
    ~Looker() {
        if (thread_) {
            Next();
            Hand(0);
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
        }
        if (free_) CloseHandle(free_);
        if (filled_) CloseHandle(filled_);
    }
    bool Started() const { return thread_ != nullptr; }
    // The next free buffer, once the looker is done with it.
    char* Next() {
        WaitForSingleObject(free_, INFINITE);
        return buffers_[handed_ % kRing].data();
    }
    void Hand(DWORD size) {
        sizes_[handed_++ % kRing] = size;
        ReleaseSemaphore(filled_, 1, nullptr);
    }

private:
    static DWORD WINAPI Run(void* self) {
        auto& looker = *static_cast<Looker*>(self);
        for (unsigned looked = 0;; ++looked) {
            WaitForSingleObject(looker.filled_, INFINITE);
            const DWORD size = looker.sizes_[looked % kRing];
            if (size == 0) return 0;
            looker.seen_(looker.buffers_[looked % kRing].data(), size);
            ReleaseSemaphore(looker.free_, 1, nullptr);
        }
    }

    const Seen& seen_;
    std::vector<std::vector<char>> buffers_;
    DWORD sizes_[kRing] = {};
    unsigned handed_ = 0;
    HANDLE free_ = nullptr;
    HANDLE filled_ = nullptr;
    HANDLE thread_ = nullptr;
};

bool ReadPiece(HANDLE in, char* buffer, DWORD piece, uint64_t left, DWORD& read) {
    const DWORD want = left < piece ? static_cast<DWORD>(left) : piece;
    return ReadFile(in, buffer, want, &read, nullptr) && read != 0;
}

bool WritePiece(HANDLE out, const char* buffer, DWORD size) {
    DWORD written = 0;
    return WriteFile(out, buffer, size, &written, nullptr) && written == size;
}

// Each piece looked at on this thread, between its read and its write
// (when there is a looker).
bool CopyLookingHere(HANDLE in, HANDLE out, uint64_t size, const Seen& seen) {
    std::vector<char> piece(static_cast<std::size_t>(size < kPiece ? (size ? size : 1) : kPiece));
    DWORD read = 0;
    for (uint64_t done = 0; done < size; done += read) {
        if (!ReadPiece(in, piece.data(), kPiece, size - done, read)) return false;
        if (seen) seen(piece.data(), read);
        if (!WritePiece(out, piece.data(), read)) return false;
    }
    return true;
}

// Reads the whole source into the destination, piece by piece; false on a
// read or write error, or when the source ends before its size.
bool CopyContent(HANDLE in, HANDLE out, uint64_t size, const Seen& seen) {
    if (size < kThreadFrom || !seen) return CopyLookingHere(in, out, size, seen);
    Looker looker(seen);
    if (!looker.Started()) return CopyLookingHere(in, out, size, seen);
    DWORD read = 0;
    for (uint64_t done = 0; done < size; done += read) {
        char* buffer = looker.Next();
        if (!ReadPiece(in, buffer, kLookerPiece, size - done, read)) return false;
        looker.Hand(read);
        if (!WritePiece(out, buffer, read)) return false;
    }
    return true;
}

// The open file's size as it is held now; a low part of all ones is a
// size like any other unless the system says it failed.
bool SizeNow(HANDLE file, uint64_t& size) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(file, &high);
    size = (static_cast<uint64_t>(high) << 32) | low;
    return low != INVALID_FILE_SIZE || GetLastError() == NO_ERROR;
}

// The source, open, into a new destination with the attributes and the
// last-write time CopyFileA gives it, on the disk before it returns. The
// source is held against writers while it is read, so its size stays what
// it was.
bool CopyOpen(HANDLE in, const WIN32_FILE_ATTRIBUTE_DATA& info, const std::string& destination, int32_t failIfExists,
              const Seen& seen) {
    HANDLE out = CreateFileA(destination.c_str(), GENERIC_WRITE, 0, nullptr, failIfExists ? CREATE_NEW : CREATE_ALWAYS,
                             (info.dwFileAttributes & kCopiedAttributes) | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    uint64_t size = 0;
    const bool copied = SizeNow(in, size) && CopyContent(in, out, size, seen) &&
                        SetFileTime(out, nullptr, nullptr, &info.ftLastWriteTime) && FlushFileBuffers(out);
    CloseHandle(out);
    if (!copied) {
        SetFileAttributesA(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(destination.c_str());
    }
    return copied;
}

}  // namespace

// The source's attributes and time are read by its name: under Wine asking
// an open file for its information costs as much as the copy of a small
// file. Under Wine the system's copy followed by a read of what it wrote
// cost a third more than this, for 2,000 files of 4 KiB.
int32_t Win32Os::CopyFileSeen(const std::string& source, const std::string& destination, int32_t failIfExists,
                              const Seen& seen) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExA(source.c_str(), GetFileExInfoStandard, &info)) return 0;
    HANDLE in = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in == INVALID_HANDLE_VALUE) return 0;
    const bool copied = CopyOpen(in, info, destination, failIfExists, seen);
    CloseHandle(in);
    return copied ? 1 : 0;
}

// Attributes and time from the handle: the file's name may lead elsewhere
// by now. Nobody looks at the pieces.
bool CopyOpenFile(void* source, const std::string& destination) {
    BY_HANDLE_FILE_INFORMATION held;
    LONG high = 0;
    if (!GetFileInformationByHandle(source, &held) || SetFilePointer(source, 0, &high, FILE_BEGIN) != 0) return false;
    const WIN32_FILE_ATTRIBUTE_DATA info{held.dwFileAttributes, held.ftCreationTime, held.ftLastAccessTime,
                                         held.ftLastWriteTime, held.nFileSizeHigh, held.nFileSizeLow};
    return CopyOpen(source, info, destination, 1, Seen());
}

}  // namespace platform::win32
