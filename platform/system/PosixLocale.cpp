#include "platform/system/Locale.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <langinfo.h>
#include <locale.h>

namespace platform {

namespace {

// The length of the valid UTF-8 sequence at text[at] and its code point; 0 when the bytes
// there are no valid sequence (stray continuation, overlong form, surrogate, beyond
// U+10FFFF, cut short).
std::size_t decodeUtf8(const std::string& text, std::size_t at, char32_t& codePoint)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length;
    char32_t minimum;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(at + i);
        if ((next & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

void appendUtf8(std::string& out, char32_t codePoint)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

class PosixLocale : public LocaleService
{
public:
    PosixLocale() : m_locale(userLocale())
    {
        const char* codeset = m_locale ? ::nl_langinfo_l(CODESET, m_locale) : "";
        if (std::strcmp(codeset, "UTF-8") == 0) {
            m_encoding = Encoding::Utf8;
        } else if (m_locale) {
            // MB_CUR_MAX reads the calling thread's locale; switch for the one question.
            const locale_t previous = ::uselocale(m_locale);
            m_encoding = MB_CUR_MAX == 1 ? Encoding::SingleByte : Encoding::OtherMultiByte;
            ::uselocale(previous);
        }
    }

    ~PosixLocale() override
    {
        if (m_locale)
            ::freelocale(m_locale);
    }

    PosixLocale(const PosixLocale&) = delete;
    PosixLocale& operator=(const PosixLocale&) = delete;

    void lowerCase(std::string& text) override
    {
        switch (m_encoding) {
        case Encoding::Utf8:
            lowerUtf8(text);
            break;
        case Encoding::SingleByte:
            for (char& c : text)
                c = static_cast<char>(::tolower_l(static_cast<unsigned char>(c), m_locale));
            break;
        case Encoding::OtherMultiByte:
            // Bytes of a double-byte character may look like A-Z; only plain ASCII is safe
            // to touch in encodings that keep ASCII below 0x80.
            for (char& c : text)
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c - 'A' + 'a');
            break;
        }
    }

    int collate(const std::string& a, const std::string& b) override
    {
        return m_locale ? ::strcoll_l(a.c_str(), b.c_str(), m_locale)
                        : std::strcmp(a.c_str(), b.c_str());
    }

private:
    enum class Encoding { Utf8, SingleByte, OtherMultiByte };

    static locale_t userLocale()
    {
        if (locale_t all = ::newlocale(LC_ALL_MASK, "", locale_t(nullptr)))
            return all;
        // One category names a locale that is not installed: take what exists, "C" for
        // the rest. A failed newlocale leaves its base untouched.
        locale_t result = ::newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        for (const int mask : {LC_CTYPE_MASK, LC_COLLATE_MASK}) {
            if (!result)
                break;
            if (locale_t withCategory = ::newlocale(mask, "", result))
                result = withCategory;
        }
        return result;
    }

    void lowerUtf8(std::string& text) const
    {
        std::string lowered;
        lowered.reserve(text.size());
        for (std::size_t at = 0; at < text.size();) {
            char32_t codePoint = 0;
            const std::size_t length = decodeUtf8(text, at, codePoint);
            if (length == 0) {
                lowered += text[at++];
                continue;
            }
            appendUtf8(lowered, static_cast<char32_t>(
                                    ::towlower_l(static_cast<wint_t>(codePoint), m_locale)));
            at += length;
        }
        text.swap(lowered);
    }

    locale_t m_locale;
    Encoding m_encoding = Encoding::OtherMultiByte;
};

} // namespace

std::unique_ptr<LocaleService> LocaleService::createDefault()
{
    return std::make_unique<PosixLocale>();
}

} // namespace platform
