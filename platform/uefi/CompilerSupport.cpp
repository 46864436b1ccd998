// What clang may call without being asked, as no C library is linked. Built
// with -fno-builtin so that these loops are not turned back into calls to
// themselves.
#include <stddef.h>
#include <stdint.h>

#include "platform/Platform.h"
#include "platform/uefi/UefiRuntime.h"

extern "C" {

void* memset(void* block, int value, size_t count)
{
    auto* bytes = static_cast<uint8_t*>(block);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(value);
    return block;
}

void* memcpy(void* dest, const void* src, size_t count)
{
    auto* to = static_cast<uint8_t*>(dest);
    auto* from = static_cast<const uint8_t*>(src);
    for (size_t i = 0; i < count; ++i)
        to[i] = from[i];
    return dest;
}

void* memmove(void* dest, const void* src, size_t count)
{
    auto* to = static_cast<uint8_t*>(dest);
    auto* from = static_cast<const uint8_t*>(src);
    if (to < from) {
        for (size_t i = 0; i < count; ++i)
            to[i] = from[i];
    } else {
        for (size_t i = count; i > 0; --i)
            to[i - 1] = from[i - 1];
    }
    return dest;
}

int memcmp(const void* a, const void* b, size_t count)
{
    auto* x = static_cast<const uint8_t*>(a);
    auto* y = static_cast<const uint8_t*>(b);
    for (size_t i = 0; i < count; ++i) {
        if (x[i] != y[i])
            return x[i] < y[i] ? -1 : 1;
    }
    return 0;
}

// A pure virtual function was called through a half-built or destroyed
// object: nothing sensible can follow.
int _purecall()
{
    zar::Print(u"\r\nInternal error: pure virtual call.\r\n");
    zar::uefi::AbortApplication(EFI_ABORTED);
}

}  // extern "C"

namespace zar {

void MemSet(void* block, uint8_t value, size_t count)
{
    memset(block, value, count);
}

void MemCopy(void* dest, const void* src, size_t count)
{
    memcpy(dest, src, count);
}

}  // namespace zar
