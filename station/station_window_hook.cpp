#include "station/station_window_hook.h"

namespace {

StationWindowOpener& Opener() {
    static StationWindowOpener opener;
    return opener;
}

}  // namespace

void SetStationWindowOpener(StationWindowOpener opener) {
    Opener() = std::move(opener);
}

const StationWindowOpener& InstalledStationWindowOpener() {
    return Opener();
}
