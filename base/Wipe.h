// Memory that held clear text or key material is overwritten with zeros before it is released.
// Plain C++: the encoding uses it, and so do the COM parts through base/WipedBstr.h.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace qarn::secure {

// Overwrites memory in a way the optimiser cannot drop (the stores go through a volatile pointer
// and the memory counts as read afterwards).
inline void SecureZero(void* p, size_t bytes) noexcept {
    if (!p) return;
    volatile unsigned char* q = static_cast<volatile unsigned char*>(p);
    while (bytes--) *q++ = 0;
#if defined(__GNUC__) || defined(__clang__)
    __asm__ __volatile__("" : : "r"(p) : "memory");
#endif
}

// An allocator whose memory is overwritten with zeros before it is released (also the old buffer
// of a container that grows).
template <class T>
struct ZeroingAllocator {
    using value_type = T;
    ZeroingAllocator() noexcept = default;
    template <class U>
    ZeroingAllocator(const ZeroingAllocator<U>&) noexcept {}
    T* allocate(size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, size_t n) noexcept {
        SecureZero(p, n * sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }
    template <class U>
    bool operator==(const ZeroingAllocator<U>&) const noexcept { return true; }
};

// A string for clear text: its heap buffer is zeroed by the allocator, and its own small-string
// buffer by the destructor (a short text lives inside the object).
template <class Char>
class BasicSecretString : public std::basic_string<Char, std::char_traits<Char>, ZeroingAllocator<Char>> {
    using Base = std::basic_string<Char, std::char_traits<Char>, ZeroingAllocator<Char>>;

public:
    using Base::Base;
    BasicSecretString(const BasicSecretString&) = default;
    BasicSecretString(BasicSecretString&&) = default;
    BasicSecretString& operator=(const BasicSecretString&) = default;
    BasicSecretString& operator=(BasicSecretString&&) = default;
    ~BasicSecretString() { SecureZero(this->data(), (this->capacity() + 1) * sizeof(Char)); }
};

using SecretWString = BasicSecretString<wchar_t>;
using SecretU16String = BasicSecretString<char16_t>;

}  // namespace qarn::secure
