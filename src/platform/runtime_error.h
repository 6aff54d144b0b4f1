#pragma once
// Runtime errors: a number and a description, raised as a C++ exception and
// received by the procedures that handle errors. The "current runtime error"
// (ErrObject) is what resume-next handling leaves behind for the code to test.
#include <cstdint>
#include <exception>
#include <string>

namespace platform {

namespace errnum {
constexpr int32_t kOverflow = 6;
constexpr int32_t kSubscriptOutOfRange = 9;
constexpr int32_t kBadFileNameOrNumber = 52;
constexpr int32_t kFileNotFound = 53;
constexpr int32_t kFileAlreadyOpen = 55;
constexpr int32_t kInputPastEnd = 62;
constexpr int32_t kPathNotFound = 76;
constexpr int32_t kDdeNoResponse = 282;
constexpr int32_t kDdeRefused = 285;
constexpr int32_t kDdeTimeout = 286;
constexpr int32_t kDdeNoChannel = 294;
}  // namespace errnum

class RuntimeError : public std::exception {
public:
    RuntimeError(int32_t number, std::string description);
    explicit RuntimeError(int32_t number);  // standard description for the number

    int32_t Number() const noexcept { return number_; }
    const std::string& Description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    int32_t number_;
    std::string description_;
};

// Standard description of a runtime error number.
std::string ErrorDescription(int32_t number);

[[noreturn]] void Raise(int32_t number);

// The current runtime error: number 0 means none.
class ErrObject {
public:
    int32_t Number() const { return number_; }
    const std::string& Description() const { return description_; }
    void Set(const RuntimeError& e);
    void Clear();

private:
    int32_t number_ = 0;
    std::string description_;
};

// Runs one statement in resume-next mode: a runtime error it raises is
// recorded as the current runtime error and execution goes on.
template <class Statement>
void ResumeNext(ErrObject& err, Statement&& statement) {
    try {
        statement();
    } catch (const RuntimeError& e) {
        err.Set(e);
    }
}

}  // namespace platform
