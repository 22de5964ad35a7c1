#include "records/plant_status.h"

std::string PlantStatusText(const PlantStatus& status) {
    return status.database + ": " + (status.connected ? "connected" : "unreachable") + ", " +
           std::to_string(status.waiting) + " waiting" +
           (status.problem.empty() ? "" : " (" + status.problem + ")");
}
