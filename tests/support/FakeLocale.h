#pragma once

#include "platform/system/Locale.h"

#include <cctype>
#include <string>
#include <vector>

namespace test {

// Upper-cases instead of lowering and collates backwards, so a test sees that the name
// order goes through the locale calls.
class BackwardsLocale : public platform::LocaleService
{
public:
    using Interface = platform::LocaleService;
    void lowerCase(std::string& text) override
    {
        for (char& c : text)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        lowered += 1;
    }
    int collate(const std::string& a, const std::string& b) override
    {
        seen.push_back(a + "|" + b);
        return b.compare(a);
    }
    int lowered = 0;
    std::vector<std::string> seen;
};

} // namespace test
