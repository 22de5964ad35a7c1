#pragma once

#include <span>
#include <string>

// A page's own text for one result code of its update operation.
struct VerdictEntry {
    int code;
    const char* text;
};

// The final message of a programming run: success only with code 0 and no signature error;
// then the page's text for the code; then the signature error; then the bare code.
std::string VerdictText(int code, bool signatureError, std::span<const VerdictEntry> pageTexts);

// The texts of the serial link's update results (COM Port page, serial command line).
std::span<const VerdictEntry> SerialUpdateVerdicts();
// The texts of the network link's update results (Network page, network command line).
std::span<const VerdictEntry> NetworkUpdateVerdicts();
// The texts of the FTDI link's update results (USB I page, FTDI command line).
std::span<const VerdictEntry> FtdiUpdateVerdicts();
// The texts of the SiLabs link's update results (USB II page, USBXpress command line).
std::span<const VerdictEntry> SilabsUpdateVerdicts();
