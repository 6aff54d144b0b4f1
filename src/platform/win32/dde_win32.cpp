#include "platform/win32/dde_win32.h"

#include <vector>

namespace platform::win32 {

namespace {
HDDEDATA CALLBACK ClientCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) { return nullptr; }
}  // namespace

Win32DdeClient::~Win32DdeClient() {
    Disconnect();
    if (instance_) DdeUninitialize(instance_);
}

bool Win32DdeClient::Initialize() {
    if (instance_) return true;
    return DdeInitializeA(&instance_, ClientCallback, APPCMD_CLIENTONLY, 0) == DMLERR_NO_ERROR;
}

bool Win32DdeClient::Connect(const std::string& service, const std::string& topic) {
    Disconnect();
    if (!Initialize()) return false;
    HSZ serviceName = DdeCreateStringHandleA(instance_, service.c_str(), CP_WINANSI);
    HSZ topicName = DdeCreateStringHandleA(instance_, topic.c_str(), CP_WINANSI);
    conversation_ = DdeConnect(instance_, serviceName, topicName, nullptr);
    DdeFreeStringHandle(instance_, serviceName);
    DdeFreeStringHandle(instance_, topicName);
    return conversation_ != nullptr;
}

void Win32DdeClient::Disconnect() {
    if (conversation_) DdeDisconnect(conversation_);
    conversation_ = nullptr;
}

// The data as text, up to its terminating NUL.
DdeResult Win32DdeClient::Request(const std::string& item, uint32_t timeoutMs, std::string& reply) {
    if (!conversation_) return DdeResult::NoConversation;
    HSZ itemName = DdeCreateStringHandleA(instance_, item.c_str(), CP_WINANSI);
    HDDEDATA data = DdeClientTransaction(nullptr, 0, conversation_, itemName, CF_TEXT, XTYP_REQUEST, timeoutMs, nullptr);
    DdeFreeStringHandle(instance_, itemName);
    if (!data) return LastFailure();
    std::vector<BYTE> bytes(DdeGetData(data, nullptr, 0, 0));
    DdeGetData(data, bytes.data(), static_cast<DWORD>(bytes.size()), 0);
    DdeFreeDataHandle(data);
    reply.assign(bytes.begin(), bytes.end());
    reply.resize(reply.find('\0') == std::string::npos ? reply.size() : reply.find('\0'));
    return DdeResult::Ok;
}

DdeResult Win32DdeClient::LastFailure() {
    switch (DdeGetLastError(instance_)) {
    case DMLERR_EXECACKTIMEOUT:
    case DMLERR_DATAACKTIMEOUT: return DdeResult::Timeout;
    case DMLERR_NO_CONV_ESTABLISHED:
    case DMLERR_INVALIDPARAMETER: return DdeResult::NoConversation;
    default: return DdeResult::Refused;
    }
}

DdeResult Win32DdeClient::Execute(const std::string& command, uint32_t timeoutMs) {
    if (!conversation_) return DdeResult::NoConversation;
    std::vector<BYTE> data(command.begin(), command.end());
    data.push_back(0);
    DWORD result = 0;
    if (DdeClientTransaction(data.data(), static_cast<DWORD>(data.size()), conversation_, nullptr, CF_TEXT,
                             XTYP_EXECUTE, timeoutMs, &result))
        return DdeResult::Ok;
    return LastFailure();
}

}  // namespace platform::win32
