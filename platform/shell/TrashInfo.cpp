#include "platform/shell/TrashInfo.h"

#include "platform/core/FileStorage.h"
#include "platform/core/HexDigit.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace platform {

namespace {

// Names in the trash leave room for ".trashinfo" and a number.
constexpr std::size_t TrashNameLimit = NAME_MAX - 10 - 12;
constexpr int NumberedNames = 100;

std::string deletionDate()
{
    // One formatting per second is plenty for a collection that moves many files a second.
    static std::time_t formatted = -1;
    static char text[32];
    const std::time_t now = std::time(nullptr);
    if (now != formatted) {
        std::tm local = {};
        ::localtime_r(&now, &local);
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
        formatted = now;
    }
    return text;
}

} // namespace

std::string percentEncodePath(std::string_view path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(path.size());
    for (char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9') || std::strchr("-_.~/", c)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 15];
        }
    }
    return encoded;
}

std::string percentDecodePath(std::string_view text)
{
    std::string decoded;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const int high = text[k] == '%' && k + 2 < text.size() ? hexDigitValue(text[k + 1]) : -1;
        const int low = high >= 0 ? hexDigitValue(text[k + 2]) : -1;
        if (low >= 0) {
            decoded += static_cast<char>(high * 16 + low);
            k += 2;
        } else {
            decoded += text[k];
        }
    }
    return decoded;
}

std::string trashInfoText(const std::string& pathKey)
{
    return "[Trash Info]\nPath=" + percentEncodePath(pathKey) + "\nDeletionDate=" + deletionDate() +
           "\n";
}

std::string trashBaseName(const std::string& name)
{
    if (name.size() <= TrashNameLimit)
        return name;
    std::size_t length = TrashNameLimit;
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80)
        --length;
    return name.substr(0, length);
}

std::string candidateName(const std::string& base, int attempt)
{
    if (attempt == 1)
        return base;
    if (attempt <= NumberedNames)
        return base + "." + std::to_string(attempt);
    // Past a hundred namesakes, counting up for each would make every further one slower.
    static std::mt19937 random{std::random_device{}()};
    return base + "." + std::to_string(random());
}

std::optional<FileFailure> InfoFile::linkAs(int infoFolder, const std::string& name)
{
    // Once linked and taken back, the unnamed file cannot be linked again.
    if (!m_unnamed.valid() || m_linked) {
        m_linked = false;
        m_unnamed = OwnedFd(::openat(infoFolder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        if (m_unnamed.valid() && !writeAll(m_unnamed.get(), m_text)) {
            m_unnamed.reset();
            return failureOf(errno ? errno : EIO);
        }
    }
    if (m_unnamed.valid()) {
        const std::string self = "/proc/self/fd/" + std::to_string(m_unnamed.get());
        if (::linkat(AT_FDCWD, self.c_str(), infoFolder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            m_linked = true;
            return std::nullopt;
        }
        if (errno != ENOENT)
            return failureOf(errno);
        // No /proc to link through.
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return failureOf(errno);
    }
    OwnedFd info(::openat(infoFolder, name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!info.valid())
        return failureOf(errno);
    if (!writeAll(info.get(), m_text)) {
        const int error = errno ? errno : EIO;
        ::unlinkat(infoFolder, name.c_str(), 0);
        return failureOf(error);
    }
    m_linked = true;
    return std::nullopt;
}

} // namespace platform
