// A stand-in for the vendor's USBXpress library, built by the tests as a shared library and
// loaded through the program's own loading code: two devices, a loopback of what is written,
// and the last call recorded. Built a second time without SI_SetFlowControl.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string written;
std::string lastCall;
const char* const kSerials[] = {"SN0", "SN1"};
const char* const kDescriptions[] = {"Pellix-USB", "Other"};

}  // namespace

extern "C" {

int SI_GetNumDevices(std::uint32_t* count) {
    *count = 2;
    return 0;
}
int SI_GetProductString(std::uint32_t device, void* buffer, std::uint32_t flags) {
    if (device > 1) {
        return 0xFF;
    }
    std::strcpy(static_cast<char*>(buffer), flags == 0 ? kSerials[device] : kDescriptions[device]);
    return 0;
}
int SI_Open(std::uint32_t device, void** handle) {
    *handle = reinterpret_cast<void*>(static_cast<std::uintptr_t>(device + 1));
    return 0;
}
int SI_Close(void*) {
    return 0;
}
int SI_Read(void*, void* buffer, std::uint32_t wanted, std::uint32_t* got, void*) {
    *got = static_cast<std::uint32_t>(std::min<std::size_t>(wanted, written.size()));
    std::memcpy(buffer, written.data(), *got);
    written.erase(0, *got);
    return *got == 0 ? 0x0D : 0;
}
int SI_Write(void*, void* buffer, std::uint32_t count, std::uint32_t* done, void*) {
    written.append(static_cast<const char*>(buffer), count);
    *done = count;
    return 0;
}
int SI_FlushBuffers(void*, std::uint8_t, std::uint8_t) {
    return 0;
}
int SI_SetTimeouts(std::uint32_t, std::uint32_t) {
    return 0;
}
int SI_SetBaudRate(void*, std::uint32_t baud) {
    lastCall = "SI_SetBaudRate(" + std::to_string(baud) + ")";
    return 0;
}
int SI_SetLineControl(void*, std::uint16_t) {
    return 0;
}
#ifndef WITHOUT_FLOW_CONTROL
int SI_SetFlowControl(void*, std::uint8_t cts, std::uint8_t rts, std::uint8_t dtr, std::uint8_t dsr,
                      std::uint8_t dcd, int xonXoff) {
    char text[64];
    std::snprintf(text, sizeof text, "SI_SetFlowControl(%u, %u, %u, %u, %u, %d)", cts, rts, dtr,
                  dsr, dcd, xonXoff);
    lastCall = text;
    return 0;
}
#endif
const char* Test_LastCall() {
    return lastCall.c_str();
}
}
