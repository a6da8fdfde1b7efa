#include "automation/tarnwickAutostart.h"

#include "platform/settings/Registry.h"
#include "platform/system/System.h"
#include "runtime/ApplicationInfo.h"
#include "runtime/Errors.h"
#include "runtime/Registry.h"

namespace {

const char* const runKey = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// Shared by every instance: only the first assignment in the program's run is special.
bool firstAssignment = true;

} // namespace

TTarnwickAutostart::TTarnwickAutostart(bool designing)
{
    if (!designing)
        m_appName = runtime::applicationTitle();
}

TTarnwickAutostart::~TTarnwickAutostart() = default;

void TTarnwickAutostart::resetFirstAssignment()
{
    firstAssignment = true;
}

bool TTarnwickAutostart::autostart()
{
    if (m_appName.empty())
        return m_lastKnown;
    runtime::Registry registry;
    registry.setRootKey(platform::HKEY_LOCAL_MACHINE);
    // When the key cannot be opened the value simply reads as missing.
    registry.openKey(runKey, true);
    m_lastKnown = !registry.readString(m_appName).empty();
    return m_lastKnown;
}

void TTarnwickAutostart::setAutostart(bool value)
{
    if (firstAssignment) {
        value = autostart();
        firstAssignment = false;
    }
    if (m_appName.empty())
        return;
    runtime::Registry registry;
    registry.setRootKey(platform::HKEY_LOCAL_MACHINE);
    registry.openKey(runKey, true);
    if (value) {
        std::string command = platform::GetModuleFileNameA();
        // With no path of its own the entry would start its parameters as a program.
        if (command.empty())
            throw runtime::RegistryError(
                runtime::formatMessage("Failed to set data for '%s'", m_appName));
        if (!m_parameters.empty())
            command += ' ' + m_parameters;
        registry.writeString(m_appName, command);
        m_lastKnown = true;
    } else {
        // Raised, or the box would say "off" while the program still starts at log-on.
        if (!registry.deleteValue(m_appName) && registry.valueExists(m_appName))
            throw runtime::RegistryError(
                runtime::formatMessage("Failed to delete data for '%s'", m_appName));
        m_lastKnown = false;
    }
}
