// The faces of every module object: IPort (its register space), IEventSrc
// (the events it raises) and ICommonBase, which joins both with the parent
// link. A GenTL handle is the address of the object, and ICommonBase (hence
// IPort) sits at that address.
#pragma once

#include <cstddef>
#include <cstdint>

#include "GenTL.h"

namespace GenTL {

class CEventObj;

class IPort {
public:
    // Block access: the size transferred (>= 0), or the negated GigE Vision
    // status of a failed device access.
    virtual int64_t ReadBlock(uint64_t address, void* pBuffer, size_t* piSize) = 0;
    virtual int64_t WriteBlock(uint64_t address, const void* pBuffer, size_t* piSize) = 0;
    virtual void ReadRegister(uint64_t address, uint32_t* value) = 0;
    virtual void WriteRegister(uint64_t address, uint32_t value) = 0;
    virtual void GetURL(char* sURL, size_t* piSize) = 0;
    virtual void GetPortInfo(PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                             size_t* piSize) = 0;
    virtual void GetNumURLs(uint32_t* piNumURLs) = 0;
    virtual void GetURLInfo(uint32_t iURLIndex, URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                            void* pBuffer, size_t* piSize) = 0;

protected:
    ~IPort() = default;
};

class IEventSrc {
public:
    // Enables the module's event object of that type and returns it.
    virtual void RegisterEvent(EVENT_TYPE iEventID, CEventObj** ppEvent) = 0;
    virtual void UnregisterEvent(EVENT_TYPE iEventID) = 0;

protected:
    ~IEventSrc() = default;
};

class ICommonBase : public IPort, public IEventSrc {
public:
    virtual ICommonBase* GetParent() = 0;
    virtual ~ICommonBase() = default;
};

// The handle a consumer sees for a module: the address of its ICommonBase.
inline void* ToHandle(ICommonBase* module) {
    return static_cast<void*>(module);
}

}  // namespace GenTL
