#pragma once

#include <string>

// Who and where an attempt was made, when the command line does not say: this computer's host
// name as the station, and the logged-in user ($USER) as the operator.
std::string DefaultStationName();
std::string DefaultOperatorName();
