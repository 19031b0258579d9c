// The virtual 32-bit register map behind every module port: Read/Write serve
// the consumer (access-checked, notified), Peek/Poke the producer (neither).
// Addresses are byte addresses of 32-bit registers, multiples of 4; lookup is
// direct indexing by address / 4. No lock of its own: each word is read and
// written whole, a multi-word value may be seen half updated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace GenTL {

// Called with the register's address, its value and the registered context.
using RegisterNotification = void (*)(uint64_t address, uint32_t* value, void* context);

enum RegisterAccess : uint32_t { kAccessRO = 1, kAccessWO = 2, kAccessRW = 3 };

class CRegisterMap {
public:
    explicit CRegisterMap(uint64_t initialSlots);
    CRegisterMap(const CRegisterMap&) = delete;
    CRegisterMap& operator=(const CRegisterMap&) = delete;
    virtual ~CRegisterMap();

    virtual uint64_t ReadBlock(uint64_t address, uint32_t* buffer, uint64_t size);
    virtual uint32_t Read(uint64_t address);
    virtual uint64_t WriteBlock(uint64_t address, const uint32_t* buffer, uint64_t size);
    virtual void Write(uint64_t address, uint32_t value);
    virtual void DefineRegister(uint64_t address, uint32_t access, uint32_t value, bool attribute,
                                RegisterNotification onWrite = nullptr, void* context = nullptr,
                                RegisterNotification onRead = nullptr);
    virtual void DefineRegister64(uint64_t address, uint32_t access, uint64_t value, bool attribute,
                                  bool lowWordFirst, RegisterNotification onWrite = nullptr,
                                  void* context = nullptr, RegisterNotification onRead = nullptr);
    virtual void DefineString(uint64_t address, uint32_t access, const std::string& text,
                              uint64_t size, bool attribute, RegisterNotification onWrite = nullptr,
                              void* context = nullptr, RegisterNotification onRead = nullptr);
    virtual void DefineBlock(uint64_t address, uint32_t access, const uint32_t* words,
                             uint64_t size, bool attribute, RegisterNotification onWrite = nullptr,
                             void* context = nullptr, RegisterNotification onRead = nullptr);
    virtual uint32_t GetAccess(uint64_t address) const noexcept;
    virtual uint64_t PeekBlock(uint64_t address, uint32_t* buffer, uint64_t size) const;
    virtual uint32_t Peek(uint64_t address) const;
    virtual uint64_t Peek64(uint64_t address, bool lowWordFirst) const;
    virtual bool GetAttribute(uint64_t address) const noexcept;
    virtual void SetAccess(uint64_t address, uint32_t access);
    virtual void SetNotifications(uint64_t address, RegisterNotification onWrite, void* context,
                                  RegisterNotification onRead);
    virtual void PokeString(uint64_t address, const std::string& text);
    virtual void PokeBlock(uint64_t address, const uint32_t* buffer, uint64_t size);
    virtual void Poke(uint64_t address, uint32_t value);
    virtual void Poke64(uint64_t address, uint64_t value, bool lowWordFirst);
    virtual void SetAttribute(uint64_t address, bool attribute);

    // The largest register number the table can hold.
    static uint64_t MaxRegisterNumber();
    // A consumer's buffer for a block access: present and not empty (invalid
    // parameter otherwise). Every port checks its buffer with it.
    static void ValidateBuffer(const void* buffer, uint64_t size);

private:
    struct Register {
        uint32_t access = 0;
        uint32_t value = 0;
        RegisterNotification onWrite = nullptr;
        RegisterNotification onRead = nullptr;
        void* context = nullptr;
        bool attribute = false;
    };

    // Address checks shared by every operation; `size` is the byte count concerned.
    static void ValidateAddress(uint64_t address, uint64_t size);
    // Also refuses a range whose last register lies beyond the table's limit.
    static void ValidateRange(uint64_t address, uint64_t size);
    static void ValidateAccess(uint32_t access);

    // The defined register at `address`, or null; never throws.
    const Register* Find(uint64_t address) const noexcept;
    Register& Lookup(uint64_t address);
    const Register& Lookup(uint64_t address) const;
    // Replaces the record at `address` (already validated), growing the table.
    void DefineOne(uint64_t address, uint32_t access, uint32_t value, bool attribute,
                   RegisterNotification onWrite, void* context, RegisterNotification onRead);

    std::vector<std::unique_ptr<Register>> m_registers;
};

// Loads embedded resource `number` of type `type` from `module` into `text`,
// NUL-padded to the next multiple of 4 strictly above its size; returns that
// padded size.
uint32_t LoadXmlResource(void* module, int number, const char* type, std::string* text);

}  // namespace GenTL
