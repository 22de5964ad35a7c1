#pragma once

#include <map>
#include <memory>

#include "links/ftdi/ftdi_library.h"

// The devices a backend has open, each behind the opaque handle the link holds: the address
// of the backend's own record of the device, which the table owns.
template <typename Device>
class FtdiHandles {
  public:
    FtdiHandle Add(std::unique_ptr<Device> device) {
        FtdiHandle handle = device.get();
        open_[handle] = std::move(device);
        return handle;
    }
    // Null for a handle that is not open (a closed one, or null itself).
    Device* Find(FtdiHandle handle) const {
        const auto it = open_.find(handle);
        return it == open_.end() ? nullptr : it->second.get();
    }
    // Closes the device by destroying its record; the invalid-handle status when none is open.
    FtdiStatus Close(FtdiHandle handle) {
        return open_.erase(handle) == 1 ? kFtdiOk : kFtdiInvalidHandle;
    }

  private:
    std::map<FtdiHandle, std::unique_ptr<Device>> open_;
};
