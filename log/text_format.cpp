#include "log/text_format.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>

namespace {

std::string VStrPrintf(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[256];
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) {
        return {};
    }
    if (static_cast<std::size_t>(needed) < sizeof small) {
        return std::string(small, static_cast<std::size_t>(needed));
    }
    std::string out(static_cast<std::size_t>(needed) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<std::size_t>(needed));
    return out;
}

}  // namespace

std::string StrPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = VStrPrintf(format, args);
    va_end(args);
    return out;
}

void Logf(LogSink& log, int level, int source, const char* format, ...) {
    if (!log.Wants(level)) {
        return;
    }
    va_list args;
    va_start(args, format);
    const std::string text = VStrPrintf(format, args);
    va_end(args);
    log.Log(level, text, source);
}

std::string UpperCase(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

std::string LowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}
