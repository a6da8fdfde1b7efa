#include "scan/Masks.h"

#include <array>
#include <cassert>
#include <cstddef>

namespace {

constexpr std::array<unsigned char, 256> foldTable = [] {
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[c] = static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return table;
}();

unsigned char fold(char c)
{
    return foldTable[static_cast<unsigned char>(c)];
}

[[noreturn]] void invalidMask(const std::string& mask, std::size_t position)
{
    // The number first, so a "%d" inside the mask itself stays as it is.
    std::string pattern = "'%s' is an invalid mask at (%d)";
    pattern.replace(pattern.find("%d"), 2, std::to_string(position));
    throw EMaskException(runtime::formatMessage(pattern, mask));
}

} // namespace

TMask::TMask(const std::string& Mask)
{
    const std::size_t length = Mask.size();
    bool pendingStar = false;
    int afterStarCount = 0;

    // position: 1-based, where a fault in this element is reported.
    const auto emit = [&](Element element, std::size_t position) {
        element.afterStar = pendingStar;
        if (pendingStar && ++afterStarCount > MaxAfterStar)
            invalidMask(Mask, position);
        m_elements.push_back(element);
        pendingStar = false;
    };

    std::size_t i = 0;
    while (i < length) {
        const char c = Mask[i];
        if (c == '*') {
            pendingStar = true;
            ++i;
        } else if (c == '?') {
            // "*?" is "*": the star already covers the one character.
            if (!pendingStar)
                emit({false, Kind::AnyChar, false, 0, 0}, i + 1);
            ++i;
        } else if (c == '[') {
            ++i;
            bool inverted = false;
            if (i < length && Mask[i] == '!') {
                inverted = true;
                ++i;
            }
            std::bitset<256> members;
            bool havePrevious = false;
            unsigned char previous = 0;
            while (i < length && Mask[i] != ']') {
                if (Mask[i] == '-') {
                    if (!havePrevious)
                        invalidMask(Mask, i + 1);
                    if (i + 1 >= length) {
                        i = length;
                        break;
                    }
                    // Whatever follows is the range end, "]" included.
                    const unsigned char last = fold(Mask[i + 1]);
                    for (unsigned v = previous; v <= last; ++v)
                        members.set(v);
                    i += 2;
                } else {
                    previous = fold(Mask[i]);
                    havePrevious = true;
                    members.set(previous);
                    ++i;
                }
            }
            if (i >= length)
                invalidMask(Mask, length + 1);
            if (members.none())
                invalidMask(Mask, i + 1);
            m_sets.push_back(members);
            emit({false, Kind::Set, inverted, 0, static_cast<std::uint32_t>(m_sets.size() - 1)},
                 i + 1);
            ++i;
        } else {
            emit({false, Kind::Literal, false, fold(c), 0}, i + 1);
            ++i;
        }
    }
    emit({false, Kind::Literal, false, 0, 0}, length + 1);

    // A code 0 before the end would stand for the end in the middle of the name.
    m_fixedPlaces = true;
    for (std::size_t k = 0; k < m_elements.size(); ++k) {
        const Element& element = m_elements[k];
        if (element.kind == Kind::Literal && element.literal == 0 && k + 1 < m_elements.size())
            m_fixedPlaces = false;
        if (element.afterStar) {
            if (m_star != std::string::npos)
                m_fixedPlaces = false;
            m_star = k;
        }
    }
    // Without a star the whole mask counts from the end too, the length being fixed.
    const std::size_t characters = m_elements.size() - 1;
    const std::size_t first = m_star == std::string::npos ? 0 : m_star;
    for (std::size_t k = characters; m_fixedPlaces && k-- > first;) {
        if (m_elements[k].kind == Kind::Literal) {
            m_letterFromEnd = characters - k;
            m_letter = static_cast<char>(m_elements[k].literal);
            break;
        }
    }
}

inline bool TMask::satisfies(const Element& element, const std::string& name, std::size_t at) const
{
    const bool atEnd = at >= name.size();
    switch (element.kind) {
    case Kind::Literal:
        // Code 0 stands for the end of the name and nothing else.
        return atEnd ? element.literal == 0
                     : element.literal != 0 && fold(name[at]) == element.literal;
    case Kind::AnyChar:
        return !atEnd;
    case Kind::Set:
        return !atEnd && m_sets[element.set][fold(name[at])] != element.inverted;
    }
    return false;
}

bool TMask::matchesFully(const std::string& Filename) const
{
    if (!m_fixedPlaces)
        return matchesAnywhere(Filename);
    // Every element but the last stands for one character; the last is the end.
    const std::size_t length = Filename.size();
    const std::size_t characters = m_elements.size() - 1;
    if (m_star == std::string::npos) {
        if (length != characters)
            return false;
        for (std::size_t k = characters; k-- > 0;) {
            if (!satisfies(m_elements[k], Filename, k))
                return false;
        }
        return true;
    }
    if (length < characters)
        return false;
    // The end of the name first: that is where most names differ from "*.bak".
    const std::size_t shift = length - characters;
    for (std::size_t k = characters; k-- > m_star;) {
        if (!satisfies(m_elements[k], Filename, k + shift))
            return false;
    }
    for (std::size_t k = 0; k < m_star; ++k) {
        if (!satisfies(m_elements[k], Filename, k))
            return false;
    }
    return true;
}

bool TMask::matchesAnywhere(const std::string& Filename) const
{
    struct Retry
    {
        std::size_t position;
        std::size_t element;
    };
    // Entries are pushed in increasing element order and only by after-star elements, so
    // there is never more than one per such element.
    std::array<Retry, MaxAfterStar> store;
    std::size_t stored = 0;

    const std::size_t length = Filename.size();
    const std::size_t count = m_elements.size();
    std::size_t p = 0;
    std::size_t i = 0;
    // The highest after-star element reached so far. Once its retries are used up, a retry
    // of an earlier star can only reach it again further on, where every place has been
    // tried: the answer is no without the exponential walk over earlier stars.
    std::size_t deepest = 0;
    bool reachedStar = false;

    for (;;) {
        bool passed = true;
        for (; i < count; ++i) {
            const Element& element = m_elements[i];
            if (element.afterStar) {
                if (!reachedStar || i > deepest)
                    deepest = i;
                reachedStar = true;
                while (p < length && !satisfies(element, Filename, p))
                    ++p;
                if (p < length) {
                    assert(stored < store.size());
                    store[stored++] = {p + 1, i};
                }
            }
            if (!satisfies(element, Filename, p)) {
                passed = false;
                break;
            }
            if (p < length)
                ++p;
        }
        if (passed)
            return true;
        if (stored == 0)
            return false;
        const Retry retry = store[--stored];
        if (retry.element < deepest)
            return false;
        p = retry.position;
        i = retry.element;
    }
}

bool TMask::OnlyWildcardsAndDots() const
{
    for (const Element& element : m_elements) {
        if (element.kind == Kind::Literal && element.literal != '.' && element.literal != 0)
            return false;
    }
    return true;
}
