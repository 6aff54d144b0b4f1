#pragma once
// A DDE client conversation, one at a time.
#include <cstdint>
#include <string>

namespace platform {

enum class DdeResult { Ok, Refused, Timeout, NoConversation };

class DdeClient {
public:
    virtual ~DdeClient() = default;
    // Opens a conversation with service and topic; false when no server answers.
    virtual bool Connect(const std::string& service, const std::string& topic) = 0;
    virtual void Disconnect() = 0;
    // Sends one execute request and waits at most timeoutMs for the answer.
    virtual DdeResult Execute(const std::string& command, uint32_t timeoutMs) = 0;
    // Asks for the item's data as text and waits at most timeoutMs for it.
    virtual DdeResult Request(const std::string& item, uint32_t timeoutMs, std::string& reply) = 0;
};

}  // namespace platform
