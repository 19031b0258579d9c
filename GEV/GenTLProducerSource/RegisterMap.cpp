#include "RegisterMap.h"

#include <stdexcept>

#include "Exceptions.h"
#include "StringFormat.h"

namespace GenTL {

using Platform::Format;

namespace {

constexpr uint64_t kInvalidAddress = ~uint64_t{0};
constexpr uint64_t kWordSize = 4;

// Producer threads poke while consumer threads read: each word moves whole.
uint32_t LoadWord(const uint32_t& word) {
    return __atomic_load_n(&word, __ATOMIC_RELAXED);
}
void StoreWord(uint32_t& word, uint32_t value) {
    __atomic_store_n(&word, value, __ATOMIC_RELAXED);
}

// The text and its NUL, four characters per word, the first in the low byte.
std::vector<uint32_t> PackText(const std::string& text) {
    std::vector<uint32_t> words((text.size() + 1 + kWordSize - 1) / kWordSize, 0);
    for (size_t i = 0; i < text.size(); ++i) {
        words[i / kWordSize] |= static_cast<uint32_t>(static_cast<unsigned char>(text[i]))
                                << (8 * (i % kWordSize));
    }
    return words;
}

}  // namespace

CRegisterMap::CRegisterMap(uint64_t initialSlots) {
    if (initialSlots > MaxRegisterNumber()) {
        throw invalid_parameter_exception(
            Format("Initial size is larger than possible: 0 < %I64u <= %I64u", initialSlots,
                   MaxRegisterNumber()));
    }
    m_registers.resize(static_cast<size_t>(initialSlots));
}

CRegisterMap::~CRegisterMap() = default;

uint64_t CRegisterMap::MaxRegisterNumber() {
    // 64 MiB of address space: far above every module's layout, small enough
    // that the table can never grow to an absurd size.
    return 0x00FFFFFF;
}

void CRegisterMap::ValidateAddress(uint64_t address, uint64_t size) {
    if (address == kInvalidAddress) throw invalid_address_exception("Address is invalid.");
    if (address % kWordSize != 0 || size % kWordSize != 0) {
        throw invalid_address_exception("Address and/or uiSize have to be multiples of four.");
    }
    if (address / kWordSize > MaxRegisterNumber()) {
        throw invalid_parameter_exception(
            Format("Address too large: 0 <= %I64u <= %I64u", address, MaxRegisterNumber()));
    }
}

void CRegisterMap::ValidateRange(uint64_t address, uint64_t size) {
    ValidateAddress(address, size);
    if (size == 0) return;
    const uint64_t lastOffset = size - kWordSize;
    if (lastOffset / kWordSize > MaxRegisterNumber() - address / kWordSize) {
        const uint64_t last =
            lastOffset > kInvalidAddress - address ? kInvalidAddress : address + lastOffset;
        throw invalid_parameter_exception(
            Format("Address too large: 0 <= %I64u <= %I64u", last, MaxRegisterNumber()));
    }
}

void CRegisterMap::ValidateAccess(uint32_t access) {
    if (access < kAccessRO || access > kAccessRW) {
        throw invalid_parameter_exception("iAccess is an unknown ACCESS value.");
    }
}

void CRegisterMap::ValidateBuffer(const void* buffer, uint64_t size) {
    if (buffer == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified pBuffer is invalid: pBuffer = 0x%p.", buffer));
    }
    if (size == 0) throw invalid_parameter_exception("uiSize is not valid.");
}

const CRegisterMap::Register* CRegisterMap::Find(uint64_t address) const noexcept {
    if (address == kInvalidAddress || address % kWordSize != 0) return nullptr;
    const uint64_t number = address / kWordSize;
    if (number >= m_registers.size()) return nullptr;
    const Register* record = m_registers[static_cast<size_t>(number)].get();
    return record != nullptr && record->access != 0 ? record : nullptr;
}

const CRegisterMap::Register& CRegisterMap::Lookup(uint64_t address) const {
    ValidateAddress(address, kWordSize);
    const Register* record = Find(address);
    if (record == nullptr) {
        throw std::out_of_range(Format("Register %I64X is not available.", address));
    }
    return *record;
}

CRegisterMap::Register& CRegisterMap::Lookup(uint64_t address) {
    return const_cast<Register&>(static_cast<const CRegisterMap*>(this)->Lookup(address));
}

void CRegisterMap::DefineOne(uint64_t address, uint32_t access, uint32_t value, bool attribute,
                             RegisterNotification onWrite, void* context,
                             RegisterNotification onRead) {
    auto record = std::make_unique<Register>();
    record->access = access;
    record->value = value;
    record->onWrite = onWrite;
    record->onRead = onRead;
    record->context = context;
    record->attribute = attribute;
    const size_t number = static_cast<size_t>(address / kWordSize);
    if (number >= m_registers.size()) m_registers.resize(number + 1);
    m_registers[number] = std::move(record);
}

uint64_t CRegisterMap::ReadBlock(uint64_t address, uint32_t* buffer, uint64_t size) {
    ValidateAddress(address, size);
    ValidateBuffer(buffer, size);
    const uint64_t count = size / kWordSize;
    for (uint64_t i = 0; i < count; ++i) buffer[i] = Read(address + kWordSize * i);
    return count;
}

uint32_t CRegisterMap::Read(uint64_t address) {
    Register& record = Lookup(address);
    if ((record.access & kAccessRO) == 0) {
        throw access_exception(Format("Register %I64X is not readable.", address));
    }
    if (record.onRead != nullptr) {
        record.onRead(address, &record.value, record.context);
        // The notification may have redefined the register, replacing the record.
        return LoadWord(Lookup(address).value);
    }
    return LoadWord(record.value);
}

uint64_t CRegisterMap::WriteBlock(uint64_t address, const uint32_t* buffer, uint64_t size) {
    ValidateAddress(address, size);
    ValidateBuffer(buffer, size);
    const uint64_t count = size / kWordSize;
    for (uint64_t i = 0; i < count; ++i) Write(address + kWordSize * i, buffer[i]);
    return count;
}

void CRegisterMap::Write(uint64_t address, uint32_t value) {
    Register& record = Lookup(address);
    if ((record.access & kAccessWO) == 0) {
        throw access_denied_exception(Format("Register %I64X is not writable.", address));
    }
    StoreWord(record.value, value);
    if (record.onWrite != nullptr) record.onWrite(address, &record.value, record.context);
}

void CRegisterMap::DefineRegister(uint64_t address, uint32_t access, uint32_t value, bool attribute,
                                  RegisterNotification onWrite, void* context,
                                  RegisterNotification onRead) {
    ValidateAddress(address, kWordSize);
    ValidateAccess(access);
    DefineOne(address, access, value, attribute, onWrite, context, onRead);
}

void CRegisterMap::DefineRegister64(uint64_t address, uint32_t access, uint64_t value,
                                    bool attribute, bool lowWordFirst, RegisterNotification onWrite,
                                    void* context, RegisterNotification onRead) {
    ValidateRange(address, 2 * kWordSize);
    ValidateAccess(access);
    const uint32_t low = static_cast<uint32_t>(value);
    const uint32_t high = static_cast<uint32_t>(value >> 32);
    // The upper register first, so that the table grows at most once.
    DefineOne(address + kWordSize, access, lowWordFirst ? high : low, attribute, onWrite, context,
              onRead);
    DefineOne(address, access, lowWordFirst ? low : high, attribute, onWrite, context, onRead);
}

void CRegisterMap::DefineString(uint64_t address, uint32_t access, const std::string& text,
                                uint64_t size, bool attribute, RegisterNotification onWrite,
                                void* context, RegisterNotification onRead) {
    // The registers first, zero, from the last to the first; then the text.
    DefineBlock(address, access, nullptr, size, attribute, onWrite, context, onRead);
    if (size == 0) return;  // no room even for the NUL
    const std::string stored =
        text.size() + 1 > size ? text.substr(0, static_cast<size_t>(size - 1)) : text;
    const std::vector<uint32_t> words = PackText(stored);
    for (size_t i = 0; i < words.size(); ++i) Poke(address + kWordSize * i, words[i]);
}

void CRegisterMap::DefineBlock(uint64_t address, uint32_t access, const uint32_t* words,
                               uint64_t size, bool attribute, RegisterNotification onWrite,
                               void* context, RegisterNotification onRead) {
    ValidateRange(address, size);
    ValidateAccess(access);
    const uint64_t count = size / kWordSize;
    for (uint64_t i = count; i-- > 0;) {
        DefineOne(address + kWordSize * i, access, words != nullptr ? words[i] : 0, attribute,
                  onWrite, context, onRead);
    }
}

uint32_t CRegisterMap::GetAccess(uint64_t address) const noexcept {
    const Register* record = Find(address);
    return record != nullptr ? record->access : 0;
}

uint64_t CRegisterMap::PeekBlock(uint64_t address, uint32_t* buffer, uint64_t size) const {
    ValidateAddress(address, size);
    ValidateBuffer(buffer, size);
    const uint64_t count = size / kWordSize;
    for (uint64_t i = 0; i < count; ++i) buffer[i] = Peek(address + kWordSize * i);
    return count;
}

uint32_t CRegisterMap::Peek(uint64_t address) const {
    return LoadWord(Lookup(address).value);
}

uint64_t CRegisterMap::Peek64(uint64_t address, bool lowWordFirst) const {
    const uint64_t first = Peek(address);
    const uint64_t second = Peek(address + kWordSize);
    return lowWordFirst ? (second << 32) | first : (first << 32) | second;
}

bool CRegisterMap::GetAttribute(uint64_t address) const noexcept {
    const Register* record = Find(address);
    return record != nullptr && record->attribute;
}

void CRegisterMap::SetAccess(uint64_t address, uint32_t access) {
    ValidateAddress(address, kWordSize);
    ValidateAccess(access);
    Lookup(address).access = access;
}

void CRegisterMap::SetNotifications(uint64_t address, RegisterNotification onWrite, void* context,
                                    RegisterNotification onRead) {
    Register& record = Lookup(address);
    record.onWrite = onWrite;
    record.context = context;
    record.onRead = onRead;
}

void CRegisterMap::PokeString(uint64_t address, const std::string& text) {
    const std::vector<uint32_t> words = PackText(text);
    ValidateRange(address, kWordSize * words.size());
    // Every register must exist before any of them changes.
    std::vector<Register*> records;
    records.reserve(words.size());
    for (size_t i = 0; i < words.size(); ++i) records.push_back(&Lookup(address + kWordSize * i));
    for (size_t i = 0; i < words.size(); ++i) StoreWord(records[i]->value, words[i]);
}

void CRegisterMap::PokeBlock(uint64_t address, const uint32_t* buffer, uint64_t size) {
    ValidateAddress(address, size);
    ValidateBuffer(buffer, size);
    const uint64_t count = size / kWordSize;
    for (uint64_t i = 0; i < count; ++i) Poke(address + kWordSize * i, buffer[i]);
}

void CRegisterMap::Poke(uint64_t address, uint32_t value) {
    StoreWord(Lookup(address).value, value);
}

void CRegisterMap::Poke64(uint64_t address, uint64_t value, bool lowWordFirst) {
    Register& first = Lookup(address);
    Register& second = Lookup(address + kWordSize);
    const uint32_t low = static_cast<uint32_t>(value);
    const uint32_t high = static_cast<uint32_t>(value >> 32);
    StoreWord(first.value, lowWordFirst ? low : high);
    StoreWord(second.value, lowWordFirst ? high : low);
}

void CRegisterMap::SetAttribute(uint64_t address, bool attribute) {
    Lookup(address).attribute = attribute;
}

}  // namespace GenTL
