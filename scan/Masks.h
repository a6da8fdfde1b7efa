#pragma once

#include "runtime/Errors.h"

#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// An invalid mask: "'<mask>' is an invalid mask at (<1-based position>)".
class EMaskException : public runtime::Exception
{
public:
    using runtime::Exception::Exception;
};

// One file mask: "*" for any run of characters, "?" for one character, "[...]" for a set
// ("!" first inverts it, "a-z" is a range). Only a-z fold to A-Z; every other byte is
// itself. A name must match as a whole.
class TMask
{
public:
    // Throws EMaskException.
    explicit TMask(const std::string& Mask);
    TMask(const TMask&) = delete;
    TMask& operator=(const TMask&) = delete;

    // Filename is a bare name without its folder. Allocates nothing.
    bool Matches(const std::string& Filename) const
    {
        // Most names of a folder are told apart from "*.bak" by one letter near their end.
        if (m_letterFromEnd != 0) {
            if (Filename.size() < m_letterFromEnd)
                return false;
            const char c = Filename[Filename.size() - m_letterFromEnd];
            if ((c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c) != m_letter)
                return false;
        }
        return matchesFully(Filename);
    }
    // Ours: whether the mask is made only of wildcards, sets and dots ("*", "*.*", "??*",
    // "[!~]*"), so that it takes nearly every name there is.
    bool OnlyWildcardsAndDots() const;

    // More than this many elements directly after a star make the mask invalid.
    static constexpr int MaxAfterStar = 30;

private:
    enum class Kind : std::uint8_t { Literal, AnyChar, Set };
    struct Element
    {
        bool afterStar;
        Kind kind;
        bool inverted;
        unsigned char literal; // folded; 0 is the end of the name
        std::uint32_t set;     // index into m_sets
    };

    bool satisfies(const Element& element, const std::string& name, std::size_t at) const;
    bool matchesFully(const std::string& name) const;
    bool matchesAnywhere(const std::string& name) const;

    std::vector<Element> m_elements;
    std::vector<std::bitset<256>> m_sets;
    // A mask with at most one star ("*.bak", "FILE????.CHK", "~*") fixes where each of its
    // elements stands, counted from the start before the star and from the end after it:
    // no search for places is needed. The star's element, or npos for a mask without one.
    bool m_fixedPlaces = false;
    std::size_t m_star = std::string::npos;
    // The last literal of a mask with fixed places that counts from the end, folded, and
    // how far from the end of the name it stands; 0 for none.
    std::size_t m_letterFromEnd = 0;
    char m_letter = 0;
};

// One element of a mask list; owns its mask.
class TMultiMask
{
public:
    explicit TMultiMask(std::unique_ptr<TMask> Mask) : m_mask(std::move(Mask)) {}
    // The mask the item owns; never freed by the caller.
    TMask* FMask() const { return m_mask.get(); }

private:
    std::unique_ptr<TMask> m_mask;
};
