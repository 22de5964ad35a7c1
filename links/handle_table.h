#pragma once

#include <map>
#include <memory>

// The devices a USB backend has open, each behind the opaque handle the link holds: the
// address of the backend's own record of the device, which the table owns.
template <typename Device>
class HandleTable {
  public:
    void* Add(std::unique_ptr<Device> device) {
        void* handle = device.get();
        open_[handle] = std::move(device);
        return handle;
    }
    // Null for a handle that is not open (a closed one, or null itself).
    Device* Find(void* handle) const {
        const auto it = open_.find(handle);
        return it == open_.end() ? nullptr : it->second.get();
    }
    // Closes the device by destroying its record; false when none is open under the handle.
    bool Close(void* handle) { return open_.erase(handle) == 1; }

  private:
    std::map<void*, std::unique_ptr<Device>> open_;
};
