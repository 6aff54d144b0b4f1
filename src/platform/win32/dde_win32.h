#pragma once
// DDE client conversations through the DDE management library.
#include <windows.h>
#include <ddeml.h>

#include "platform/dde_client.h"

namespace platform::win32 {

class Win32DdeClient : public DdeClient {
public:
    ~Win32DdeClient() override;
    bool Connect(const std::string& service, const std::string& topic) override;
    void Disconnect() override;
    DdeResult Execute(const std::string& command, uint32_t timeoutMs) override;
    DdeResult Request(const std::string& item, uint32_t timeoutMs, std::string& reply) override;

private:
    bool Initialize();
    DdeResult LastFailure();
    DWORD instance_ = 0;
    HCONV conversation_ = nullptr;
};

}  // namespace platform::win32
