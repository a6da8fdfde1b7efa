#pragma once

#include <string>

namespace runtime {

// A settings file in the Windows directory, opened by its bare name. Nothing is cached:
// every call reads or writes the file.
class IniFile
{
public:
    explicit IniFile(std::string fileName);

    const std::string& fileName() const;
    // Whether the file is there, looked for exactly where the reads and writes go.
    bool exists() const;

    // Read through a buffer of 1024 characters: at most 1023 characters come back (fewer
    // when the cut would split a UTF-8 sequence).
    std::string readString(const std::string& section, const std::string& ident,
                           const std::string& defaultValue) const;
    // The value text read as a string; longer than two characters and starting "0x"/"0X":
    // the rest is hex; otherwise strToIntDef. Anything that does not convert as a whole
    // gives defaultValue.
    int readInteger(const std::string& section, const std::string& ident, int defaultValue) const;

    // Throw IniFileError "Unable to write to <fileName>" when the system refuses the write.
    void writeString(const std::string& section, const std::string& ident,
                     const std::string& value);
    // Decimal text.
    void writeInteger(const std::string& section, const std::string& ident, int value);

private:
    std::string m_fileName;
};

// Signed 32-bit integer: leading blanks skipped, optional "+"/"-", decimal digits, or "$"
// followed by hex digits (a value of up to 32 bits wraps into the signed range, so
// "$FFFFFFFF" is -1). Decimal out of range, empty text or trailing characters give
// defaultValue.
int strToIntDef(const std::string& text, int defaultValue);

} // namespace runtime
