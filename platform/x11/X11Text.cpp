#include "platform/x11/X11Text.h"

#include <cerrno>
#include <iconv.h>

namespace platform {

namespace {

constexpr unsigned char Esc = 0x1b;
constexpr unsigned char Csi = 0x9b;
constexpr unsigned char Stx = 0x02;

std::string_view untilNul(std::string_view text)
{
    const auto end = text.find('\0');
    return end == std::string_view::npos ? text : text.substr(0, end);
}

// A character set as the decoder meets it: how iconv calls it and how many bytes make one
// character. An empty name is a set we know nothing about.
struct Charset
{
    const char* iconvName;
    int width;
    // JIS X 0201 katakana travels in EUC-JP behind a single-shift byte.
    bool singleShift = false;
};

const Charset Ascii{"ASCII", 1};
const Charset Latin1{"ISO-8859-1", 1};
const Charset Katakana{"EUC-JP", 1, true};
const Charset Unknown94{"", 1};
const Charset Unknown94x94{"", 2};

const Charset* set94(unsigned char final)
{
    switch (final) {
    case 'B': // ASCII
    case 'J': // JIS X 0201 roman: ASCII but for two rarely used symbols
        return &Ascii;
    case 'I':
        return &Katakana;
    default:
        return &Unknown94;
    }
}

const Charset* set96(unsigned char final)
{
    static const Charset parts[] = {
        {"ISO-8859-1", 1},  {"ISO-8859-2", 1},  {"ISO-8859-3", 1},  {"ISO-8859-4", 1},
        {"ISO-8859-7", 1},  {"ISO-8859-6", 1},  {"ISO-8859-8", 1},  {"ISO-8859-5", 1},
        {"ISO-8859-9", 1},  {"ISO-8859-10", 1}, {"ISO-8859-13", 1}, {"ISO-8859-14", 1},
        {"ISO-8859-15", 1}, {"ISO-8859-16", 1}, {"TIS-620", 1},
    };
    static const char finals[] = "ABCDFGHLMVY_bfT";
    for (std::size_t i = 0; i + 1 < sizeof finals; ++i) {
        if (static_cast<unsigned char>(finals[i]) == final)
            return &parts[i];
    }
    return &Unknown94;
}

const Charset* set94x94(unsigned char final)
{
    static const Charset gb2312{"EUC-CN", 2};
    static const Charset jisx0208{"EUC-JP", 2};
    static const Charset ksc5601{"EUC-KR", 2};
    switch (final) {
    case 'A':
        return &gb2312;
    case '@':
    case 'B':
        return &jisx0208;
    case 'C':
        return &ksc5601;
    default:
        return &Unknown94x94;
    }
}

// Converts bytes of a legacy character set to UTF-8; what cannot be converted becomes '?'.
std::string convert(const char* charset, std::string_view bytes)
{
    const iconv_t cd = *charset ? iconv_open("UTF-8", charset) : reinterpret_cast<iconv_t>(-1);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(bytes.size(), '?');
    std::string out;
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buffer[256];
    while (inLeft > 0) {
        char* next = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(cd, &in, &inLeft, &next, &outLeft);
        out.append(buffer, static_cast<std::size_t>(next - buffer));
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
            out += '?';
            ++in;
            --inLeft;
        }
    }
    iconv_close(cd);
    return out;
}

// The iconv name for the charset name of an extended segment ("iso8859-15", "big5-0").
std::string extendedCharset(std::string_view name)
{
    if (name.empty() || name.size() > 32)
        return {};
    std::string upper;
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!plain)
            return {};
        upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    if (upper.size() > 2 && upper.ends_with("-0"))
        upper.resize(upper.size() - 2);
    if (upper.starts_with("ISO8859-"))
        upper.insert(3, "-");
    return upper;
}

class CompoundTextDecoder
{
public:
    explicit CompoundTextDecoder(std::string_view text) : m_text(text) {}

    std::string decode()
    {
        while (m_at < m_text.size()) {
            const unsigned char c = byte(m_at);
            if (c == Esc) {
                if (!escape())
                    break;
            } else if (c == Csi) {
                skipControlSequence();
            } else if (c < 0x20 || c == 0x7f || (c >= 0x80 && c < 0xa0)) {
                if (c == '\t' || c == '\n')
                    put(&Ascii, std::string(1, static_cast<char>(c)));
                ++m_at;
            } else if (c == 0x20) {
                put(&Ascii, " ");
                ++m_at;
            } else {
                character(c < 0x80 ? m_left : m_right, c < 0x80);
            }
        }
        flush();
        return m_out;
    }

private:
    unsigned char byte(std::size_t at) const { return static_cast<unsigned char>(m_text[at]); }

    void character(const Charset* set, bool left)
    {
        std::string bytes;
        if (set->width == 2) {
            const auto inSet = [](unsigned char c) {
                return (c & 0x7f) > 0x20 && (c & 0x7f) < 0x7f;
            };
            const bool pair = m_at + 1 < m_text.size() && inSet(byte(m_at)) &&
                              inSet(byte(m_at + 1)) &&
                              (byte(m_at + 1) & 0x80) == (byte(m_at) & 0x80);
            if (!pair) {
                put(&Unknown94, "?");
                ++m_at;
                return;
            }
            bytes += static_cast<char>(byte(m_at) | 0x80);
            bytes += static_cast<char>(byte(m_at + 1) | 0x80);
            m_at += 2;
        } else {
            if (set->singleShift)
                bytes += '\x8e';
            // A 94-character set in the left half reads as its right-half codes.
            const bool shift = left && set != &Ascii;
            bytes += static_cast<char>(shift ? byte(m_at) | 0x80 : byte(m_at));
            ++m_at;
        }
        put(set, bytes);
    }

    // Returns false when the text ends inside the sequence.
    bool escape()
    {
        std::size_t at = m_at + 1;
        while (at < m_text.size() && byte(at) >= 0x20 && byte(at) <= 0x2f)
            ++at;
        if (at >= m_text.size())
            return false;
        const std::string_view intermediate = m_text.substr(m_at + 1, at - m_at - 1);
        const unsigned char final = byte(at);
        m_at = at + 1;
        if (intermediate == "(")
            m_left = set94(final);
        else if (intermediate == ")")
            m_right = set94(final);
        else if (intermediate == "-")
            m_right = set96(final);
        else if (intermediate == "$" || intermediate == "$(")
            m_left = set94x94(final);
        else if (intermediate == "$)")
            m_right = set94x94(final);
        else if (intermediate == "%" && final == 'G')
            utf8Segment();
        else if (intermediate == "%/")
            return extendedSegment();
        return true;
    }

    void utf8Segment()
    {
        const auto end = m_text.find("\x1b%@", m_at);
        const auto segment = m_text.substr(m_at, end == std::string_view::npos ? end : end - m_at);
        static const Charset utf8{"UTF-8", 1};
        put(&utf8, std::string(segment));
        m_at = end == std::string_view::npos ? m_text.size() : end + 3;
    }

    bool extendedSegment()
    {
        if (m_at + 2 > m_text.size() || byte(m_at) < 0x80 || byte(m_at + 1) < 0x80)
            return false;
        const std::size_t length = (byte(m_at) - 0x80) * 128u + (byte(m_at + 1) - 0x80);
        const std::string_view segment = m_text.substr(m_at + 2, length);
        m_at = m_at + 2 + segment.size();
        const auto nameEnd = segment.find(static_cast<char>(Stx));
        if (nameEnd == std::string_view::npos)
            return true;
        flush();
        m_out += convert(extendedCharset(segment.substr(0, nameEnd)).c_str(),
                         segment.substr(nameEnd + 1));
        return true;
    }

    void skipControlSequence()
    {
        ++m_at;
        while (m_at < m_text.size() && byte(m_at) >= 0x20 && byte(m_at) <= 0x3f)
            ++m_at;
        if (m_at < m_text.size())
            ++m_at;
    }

    void put(const Charset* set, const std::string& bytes)
    {
        if (set != m_runSet) {
            flush();
            m_runSet = set;
        }
        m_run += bytes;
    }

    void flush()
    {
        if (m_run.empty())
            return;
        if (m_runSet == &Ascii)
            m_out += m_run;
        else if (!*m_runSet->iconvName)
            m_out.append(m_run.size() / static_cast<std::size_t>(m_runSet->width), '?');
        else
            m_out += convert(m_runSet->iconvName, m_run);
        m_run.clear();
    }

    std::string_view m_text;
    std::size_t m_at = 0;
    const Charset* m_left = &Ascii;
    const Charset* m_right = &Latin1;
    const Charset* m_runSet = &Ascii;
    std::string m_run;
    std::string m_out;
};

} // namespace

std::string latin1ToUtf8(std::string_view text)
{
    std::string out;
    for (const char c : untilNul(text)) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xc0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3f));
        }
    }
    return out;
}

std::string compoundTextToUtf8(std::string_view text)
{
    return CompoundTextDecoder(untilNul(text)).decode();
}

} // namespace platform
