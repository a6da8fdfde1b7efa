#include "platform/settings/ProfileDocument.h"

namespace platform {

bool ProfileDocument::isValidEntry(std::string_view section, std::string_view key,
                                   std::string_view value)
{
    return KeyFileDocument::isValidEntry(windowsProfileSyntax, section, key, value);
}

} // namespace platform
