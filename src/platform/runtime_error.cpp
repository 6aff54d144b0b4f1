#include "platform/runtime_error.h"

#include <utility>

namespace platform {

RuntimeError::RuntimeError(int32_t number, std::string description)
    : number_(number), description_(std::move(description)) {}

RuntimeError::RuntimeError(int32_t number) : RuntimeError(number, ErrorDescription(number)) {}

std::string ErrorDescription(int32_t number) {
    switch (number) {
    case errnum::kOverflow: return "Overflow";
    case errnum::kSubscriptOutOfRange: return "Subscript out of range";
    case errnum::kBadFileNameOrNumber: return "Bad file name or number";
    case errnum::kFileNotFound: return "File not found";
    case errnum::kFileAlreadyOpen: return "File already open";
    case errnum::kInputPastEnd: return "Input past end of file";
    case errnum::kPathNotFound: return "Path not found";
    case errnum::kDdeNoResponse: return "No foreign application responded to a DDE initiate";
    case errnum::kDdeRefused: return "Foreign application won't perform DDE method or operation";
    case errnum::kDdeTimeout: return "Timeout while waiting for DDE response";
    case errnum::kDdeNoChannel: return "No DDE link is open";
    default: return "Application-defined or object-defined error";
    }
}

void Raise(int32_t number) { throw RuntimeError(number); }

void ErrObject::Set(const RuntimeError& e) {
    number_ = e.Number();
    description_ = e.Description();
}

void ErrObject::Clear() {
    number_ = 0;
    description_.clear();
}

}  // namespace platform
