#include "links/ftdi/ftdi_library.h"

#include <cstdlib>

std::unique_ptr<FtdiLibrary> MakeFtdiLibrary() {
    const char* bus = std::getenv(kFtdiBusVariable);
    if (bus != nullptr && *bus != '\0') {
        return MakeSimulatedFtdiLibrary(bus);
    }
    return MakeLibFtdiLibrary();
}
