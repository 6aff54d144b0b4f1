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

DdeResult Win32DdeClient::Execute(const std::string& command, uint32_t timeoutMs) {
    if (!conversation_) return DdeResult::NoConversation;
    std::vector<BYTE> data(command.begin(), command.end());
    data.push_back(0);
    DWORD result = 0;
    if (DdeClientTransaction(data.data(), static_cast<DWORD>(data.size()), conversation_, nullptr, CF_TEXT,
                             XTYP_EXECUTE, timeoutMs, &result))
        return DdeResult::Ok;
    switch (DdeGetLastError(instance_)) {
    case DMLERR_EXECACKTIMEOUT: return DdeResult::Timeout;
    case DMLERR_NO_CONV_ESTABLISHED:
    case DMLERR_INVALIDPARAMETER: return DdeResult::NoConversation;
    default: return DdeResult::Refused;
    }
}

}  // namespace platform::win32
