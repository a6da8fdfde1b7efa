#pragma once

#include <string>

// Registers the running program to be started at log-on, as a string value under the
// machine's Run key, or removes that registration.
class TTarnwickAutostart
{
public:
    // Outside the designer the value is named after the application's title.
    explicit TTarnwickAutostart(bool designing = false);
    ~TTarnwickAutostart();
    TTarnwickAutostart(const TTarnwickAutostart&) = delete;
    TTarnwickAutostart& operator=(const TTarnwickAutostart&) = delete;

    // The value's name; empty keeps the component away from the registry.
    const std::string& appName() const { return m_appName; }
    void setAppName(const std::string& value) { m_appName = value; }
    // Appended to the program's path after one blank.
    const std::string& Parameters() const { return m_parameters; }
    void setParameters(const std::string& value) { m_parameters = value; }

    // Whether the registration exists; asks the registry every time.
    bool autostart();
    // Registers (true) or unregisters (false) at once. The first assignment in a run keeps
    // the registration as the registry has it, rewritten with the current path.
    void setAutostart(bool value);

    // Lets a test start over as a freshly started program.
    static void resetFirstAssignment();

private:
    std::string m_appName;
    std::string m_parameters;
    bool m_lastKnown = false;
};
