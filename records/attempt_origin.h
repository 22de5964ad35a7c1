#pragma once

#include <string>

// Who and where an attempt was made, when the command line does not say: this computer's host
// name as the station, and the logged-in user ($USER, or without it the login name of the
// user the program runs as) as the operator.
std::string DefaultStationName();
std::string DefaultOperatorName();

// The update file's name as every front end records it: its base name. Where it lay is of no
// use on another computer; its SHA-256 says which file it was.
std::string RecordedFileName(const std::string& path);
