#pragma once

#include <string>
#include <string_view>

// Text from a device or a file, made safe to print on a terminal or write into a log line:
// control characters (C0, DEL and C1) and bytes that are not well-formed UTF-8 are written
// as escapes ("\n", "\r", "\t", otherwise "\x1b" with two lower-case hexadecimal digits per
// byte), so no such text can move the cursor, retitle the window or start a line of its own.
// Printable ASCII and well-formed UTF-8 pass unchanged.
std::string EscapedText(std::string_view text);
