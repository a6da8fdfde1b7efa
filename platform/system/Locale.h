#pragma once

#include "platform/core/Service.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

using LCID = std::uint32_t;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

constexpr int CSTR_LESS_THAN = 1;
constexpr int CSTR_EQUAL = 2;
constexpr int CSTR_GREATER_THAN = 3;

// Case and collation of the user's locale. The POSIX implementation takes LC_CTYPE and
// LC_COLLATE from the environment when it is created (not from the process-wide
// setlocale state, which the toolkit may have changed); a category naming a locale that
// is not installed falls back to "C".
class LocaleService
{
public:
    virtual ~LocaleService() = default;
    // Lower-cases the text in place. Texts are UTF-8 under a UTF-8 locale; bytes that are
    // no valid UTF-8 stay as they are. Under other multi-byte locales only A-Z are lowered.
    virtual void lowerCase(std::string& text) = 0;
    // Below zero, zero or above zero, by the collation of the locale.
    virtual int collate(const std::string& a, const std::string& b) = 0;

    static std::unique_ptr<LocaleService> createDefault();
};

inline void CharLowerBuffA(std::string& text)
{
    Service<LocaleService>::instance().lowerCase(text);
}

// Both default locales are the user's locale here. Flags are not supported: any flag
// gives 0, the failure result.
inline int CompareStringA(LCID locale, std::uint32_t flags, const std::string& a,
                          const std::string& b)
{
    (void)locale;
    if (flags != 0)
        return 0;
    const int order = Service<LocaleService>::instance().collate(a, b);
    return order < 0 ? CSTR_LESS_THAN : order > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL;
}

} // namespace platform
