#include "cli/update_verdict.h"

std::span<const VerdictEntry> NetworkVerdicts() {
    return NetworkUpdateVerdicts();
}
