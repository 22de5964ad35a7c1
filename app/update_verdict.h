#pragma once

#include <span>
#include <string>

// The final message of an update: from the update operation's result code and the link's
// signature-error flag, through the link page's own table of result texts.

struct VerdictEntry {
    int code;
    const char* text;
};

// "Programming successful" for 0 with the flag clear; else the table's text for the code; else
// "Error: this is not a valid device!" when the flag is set; else "Update_AVR() = %i\n".
std::string VerdictText(int code, bool signatureError, std::span<const VerdictEntry> table);

// The result texts of the network link's update.
std::span<const VerdictEntry> NetworkVerdicts();
