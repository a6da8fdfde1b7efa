#pragma once

#include "platform/settings/Profile.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace runtime {

// A settings file in the Windows directory, opened by its bare name: the reading rules both
// kinds of access share.
class CustomIniFile
{
public:
    explicit CustomIniFile(std::string fileName);
    virtual ~CustomIniFile() = default;
    CustomIniFile(const CustomIniFile&) = delete;
    CustomIniFile& operator=(const CustomIniFile&) = delete;

    const std::string& fileName() const;

    // Read through a buffer of 1024 characters: at most 1023 characters come back (fewer
    // when the cut would split a UTF-8 sequence).
    std::string readString(const std::string& section, const std::string& ident,
                           const std::string& defaultValue) const;
    // The value text read as a string; longer than two characters and starting "0x"/"0X":
    // the rest is hex; otherwise strToIntDef. Anything that does not convert as a whole
    // gives defaultValue.
    int readInteger(const std::string& section, const std::string& ident, int defaultValue) const;

    // Throw IniFileError "Unable to write to <fileName>" when the system refuses the write.
    virtual void writeString(const std::string& section, const std::string& ident,
                             const std::string& value) = 0;
    // Decimal text.
    void writeInteger(const std::string& section, const std::string& ident, int value);

protected:
    // The value as the system's profile call gives it, before the buffer's cut.
    virtual std::string readValue(const std::string& section, const std::string& ident,
                                  const std::string& defaultValue) const = 0;
    [[noreturn]] void failWrite() const;

private:
    std::string m_fileName;
};

// Nothing cached: every call reads or writes the file.
class IniFile : public CustomIniFile
{
public:
    using CustomIniFile::CustomIniFile;

    // Whether anything is there, looked for exactly where the reads and writes go.
    bool exists() const;
    void writeString(const std::string& section, const std::string& ident,
                     const std::string& value) override;

protected:
    std::string readValue(const std::string& section, const std::string& ident,
                          const std::string& defaultValue) const override;
};

// The file read once, at the first read; writes are kept until updateFile(), which sets
// them all, in order, in the file as it is on disk then and replaces it in one step. So a
// crash leaves the old file or the new one whole, and changes made by hand or by another
// program since the read are kept.
class MemIniFile : public CustomIniFile
{
public:
    using CustomIniFile::CustomIniFile;

    // Whether the file was there when it was read. Reads it if not read yet.
    bool exists() const;
    void writeString(const std::string& section, const std::string& ident,
                     const std::string& value) override;
    // As writeString, but what updateFile writes is merge(the value the file holds then, or
    // nullopt, value), so a change another program made since the read is not undone.
    using Merge = std::function<std::string(const std::optional<std::string>& current,
                                            const std::string& value)>;
    void writeMerged(const std::string& section, const std::string& ident, const std::string& value,
                     Merge merge);
    void updateFile();

protected:
    // Throws IniFileError "Unable to read <fileName>" when something is there that cannot
    // be read as a file: it is never taken for a file of defaults.
    std::string readValue(const std::string& section, const std::string& ident,
                          const std::string& defaultValue) const override;

private:
    const platform::ProfileDocument& document() const;

    mutable std::optional<platform::ProfileDocument> m_document;
    mutable bool m_existed = false;
    std::vector<platform::ProfileEntry> m_changes;
};

// Signed 32-bit integer: leading blanks skipped, optional "+"/"-", decimal digits, or "$"
// followed by hex digits (a value of up to 32 bits wraps into the signed range, so
// "$FFFFFFFF" is -1). Decimal out of range, empty text or trailing characters give
// defaultValue.
int strToIntDef(const std::string& text, int defaultValue);

} // namespace runtime
