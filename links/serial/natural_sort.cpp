#include "links/serial/natural_sort.h"

#include <cctype>
#include <cstddef>

namespace {

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The digit run starting at `pos`, without its leading zeros; `pos` moves past the run.
std::string_view DigitRun(std::string_view s, std::size_t& pos) {
    const std::size_t start = pos;
    while (pos < s.size() && IsDigit(s[pos])) {
        ++pos;
    }
    std::string_view run = s.substr(start, pos - start);
    while (run.size() > 1 && run.front() == '0') {
        run.remove_prefix(1);
    }
    return run;
}

}  // namespace

bool NaturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            const std::string_view x = DigitRun(a, i);
            const std::string_view y = DigitRun(b, j);
            // Without leading zeros the longer run is the larger number; equal lengths
            // compare digit by digit.
            if (x.size() != y.size()) {
                return x.size() < y.size();
            }
            if (x != y) {
                return x < y;
            }
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        }
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) {
        return (a.size() - i) < (b.size() - j);
    }
    // Equal apart from leading zeros: fall back to plain order so the result is strict.
    return a < b;
}
