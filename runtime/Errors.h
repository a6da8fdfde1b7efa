#pragma once

#include <stdexcept>
#include <string>

namespace runtime {

// Errors that travel up to the toolkit, which shows their text in an error message box.
class Exception : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class ConvertError : public Exception
{
public:
    using Exception::Exception;
};

class IniFileError : public Exception
{
public:
    using Exception::Exception;
};

class RegistryError : public Exception
{
public:
    using Exception::Exception;
};

// Replaces the first "%s" of a message pattern.
inline std::string formatMessage(const std::string& pattern, const std::string& argument)
{
    std::string text = pattern;
    const auto at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, argument);
    return text;
}

} // namespace runtime
