#pragma once
// Callback interfaces of the lobby link.

class ISimpleSocket {
public:
    virtual ~ISimpleSocket() = default;
    // One whole request record arrived; `data` is valid only during the call.
    // Called on the link's receive thread.
    virtual void OnReceive(const char* data, int length) = 0;
};

// A second receiver of the same shape; nothing feeds it.
class IAnonymousPipe {
public:
    virtual ~IAnonymousPipe() = default;
    virtual void OnPipeData(const char* data, int length) = 0;
};
