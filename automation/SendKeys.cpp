#include "automation/SendKeys.h"

#include "platform/core/AsciiCase.h"
#include "platform/desktop/Keyboard.h"
#include "platform/system/System.h"
#include "runtime/Application.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <string_view>
#include <thread>

namespace {

struct KeyName
{
    std::string_view name;
    std::uint8_t code;
};

constexpr std::array<KeyName, 72> KeyNames = {{
    {"LButton", 0x01},  {"RButton", 0x02}, {"Cancel", 0x03},    {"MButton", 0x04},
    {"Back", 0x08},     {"Tab", 0x09},     {"Clear", 0x0C},     {"Return", 0x0D},
    {"Shift", 0x10},    {"Control", 0x11}, {"Menu", 0x12},      {"Pause", 0x13},
    {"Capital", 0x14},  {"Escape", 0x1B},  {"Space", 0x20},     {"Prior", 0x21},
    {"Next", 0x22},     {"End", 0x23},     {"Home", 0x24},      {"Left", 0x25},
    {"Up", 0x26},       {"Right", 0x27},   {"Down", 0x28},      {"Select", 0x29},
    {"Print", 0x2A},    {"Execute", 0x2B}, {"SnapShot", 0x2C},  {"Insert", 0x2D},
    {"Delete", 0x2E},   {"Help", 0x2F},    {"NumPad0", 0x60},   {"NumPad1", 0x61},
    {"NumPad2", 0x62},  {"NumPad3", 0x63}, {"NumPad4", 0x64},   {"NumPad5", 0x65},
    {"NumPad6", 0x66},  {"NumPad7", 0x67}, {"NumPad8", 0x68},   {"NumPad9", 0x69},
    {"Multiply", 0x6A}, {"Add", 0x6B},     {"Separator", 0x6C}, {"Subtract", 0x6D},
    {"Decimal", 0x6E},  {"Divide", 0x6F},  {"F1", 0x70},        {"F2", 0x71},
    {"F3", 0x72},       {"F4", 0x73},      {"F5", 0x74},        {"F6", 0x75},
    {"F7", 0x76},       {"F8", 0x77},      {"F9", 0x78},        {"F10", 0x79},
    {"F11", 0x7A},      {"F12", 0x7B},     {"F13", 0x7C},       {"F14", 0x7D},
    {"F15", 0x7E},      {"F16", 0x7F},     {"F17", 0x80},       {"F18", 0x81},
    {"F19", 0x82},      {"F20", 0x83},     {"F21", 0x84},       {"F22", 0x85},
    {"F23", 0x86},      {"F24", 0x87},     {"NumLock", 0x90},   {"Scroll", 0x91},
}};

// The characters typed as Shift and the unshifted key of a United Kingdom keyboard, as
// 8-bit Windows characters.
struct Shifted
{
    char character;
    std::string_view group;
};

constexpr std::array<Shifted, 20> ShiftedCharacters = {{
    {'!', "{!1}"}, {'"', "{!2}"}, {'\xA3', "{!3}"}, {'$', "{!4}"},  {'%', "{!5}"},
    {'^', "{!6}"}, {'&', "{!7}"}, {'*', "{!8}"},    {'(', "{!9}"},  {')', "{!0}"},
    {'_', "{!-}"}, {'+', "{!=}"}, {'~', "{!#}"},    {'@', "{!'}"},  {':', "{!;}"},
    {'<', "{!,}"}, {'>', "{!.}"}, {'?', "{!/}"},    {'|', "{!\\}"}, {'\xAC', "{!`}"},
}};

// The window search reads titles through a buffer of 255 characters, its end included.
constexpr int TitleBuffer = 255;

// A character no key types: VkKeyScanA answers -1 for it.
constexpr char Untypable = '\x81';

std::string trimControls(const std::string& text)
{
    const auto kept = [](char c) { return static_cast<unsigned char>(c) > 32; };
    const auto first = std::find_if(text.begin(), text.end(), kept);
    const auto last = std::find_if(text.rbegin(), text.rend(), kept).base();
    return first < last ? std::string(first, last) : std::string();
}

// Texts here are UTF-8 while the key tables speak Windows code page 1252: a character of
// Latin-1 or the euro sign becomes its 8-bit code, anything else one no key types. Bytes
// that are no UTF-8 stay as they are.
std::string toWindowsCharacters(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int length = lead < 0x80           ? 1
                     : (lead >> 5) == 0x6  ? 2
                     : (lead >> 4) == 0xE  ? 3
                     : (lead >> 3) == 0x1E ? 4
                                           : 0;
        char32_t point = length == 1   ? lead
                         : length == 2 ? lead & 0x1F
                         : length == 3 ? lead & 0x0F
                                       : lead & 0x07;
        for (int k = 1; k < length; ++k) {
            const auto next = i + static_cast<std::size_t>(k) < text.size()
                                  ? static_cast<unsigned char>(text[i + k])
                                  : 0;
            if ((next & 0xC0) != 0x80) {
                length = 0;
                break;
            }
            point = (point << 6) | (next & 0x3F);
        }
        if (length == 0) {
            out += text[i++];
            continue;
        }
        if (point < 0x100)
            out += static_cast<char>(point);
        else
            out += point == 0x20AC ? '\x80' : Untypable;
        i += static_cast<std::size_t>(length);
    }
    return out;
}

// One pass into a new string: a replacement in place would move the rest of the string
// for every character, which a long key string made of them turns quadratic. The groups
// put in hold no character of the table, so walking through them changes nothing.
std::string translateShifted(const std::string& keys)
{
    std::string work;
    work.reserve(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const char c = keys[i];
        const auto entry = std::find_if(ShiftedCharacters.begin(), ShiftedCharacters.end(),
                                        [c](const Shifted& s) { return s.character == c; });
        const bool modifier = c == '!' || c == '&' || c == '^';
        if (entry == ShiftedCharacters.end() || (modifier && i > 0 && keys[i - 1] == '{'))
            work += c;
        else
            work += entry->group;
    }
    return work;
}

std::uintptr_t extraFor(unsigned mapped)
{
    return static_cast<std::uintptr_t>(mapped & 0xFFFF) * 256;
}

void keyEvent(std::uint8_t virtualKey, unsigned mapped, std::uint32_t flags, std::uintptr_t extra)
{
    platform::keybd_event(virtualKey, static_cast<std::uint8_t>(mapped), flags, extra);
}

void pressAndRelease(std::uint8_t virtualKey, unsigned mapped)
{
    keyEvent(virtualKey, mapped, 0, extraFor(mapped) + 1);
    keyEvent(virtualKey, mapped, platform::KEYEVENTF_KEYUP, extraFor(mapped) + 1);
}

// Deletes everything up to and including the first opener, then the first closer.
void unwrap(std::string& token, char opener, char closer)
{
    token.erase(0, token.find(opener) + 1);
    const auto close = token.find(closer);
    if (close != std::string::npos)
        token.erase(close, 1);
}

bool takeModifier(std::string& token, char modifier)
{
    const auto at = token.find(modifier);
    if (at == std::string::npos)
        return false;
    token.erase(at, 1);
    return true;
}

} // namespace

void TSendKey::execute()
{
    platform::HWND target = 0;
    if (!TitleText.empty()) {
        target = activateTarget();
        if (target == 0)
            return;
    }
    std::string work = translateShifted(toWindowsCharacters(Keys));
    // Where the search for the first unused closer of each kind resumes. Closers are only
    // ever overwritten, never added, so the first one only moves on; searching from the
    // start each time would make many groups quadratic.
    std::size_t firstBracket = 0, firstBrace = 0;

    std::size_t position = 0;
    while (position < work.size()) {
        std::size_t last = position;
        bool malformed = false;
        const char opener = work[position];
        if (opener == '[' || opener == '{') {
            const char closer = opener == '[' ? ']' : '}';
            // The first closer of the whole string closes it; one before the opener is a
            // plain character sent earlier, and the part up to the next closer is malformed.
            std::size_t& first = opener == '[' ? firstBracket : firstBrace;
            first = work.find(closer, first);
            const std::size_t close = first;
            if (close == std::string::npos || close < position) {
                malformed = true;
                const std::size_t next = work.find(closer, position);
                last = next == std::string::npos ? work.size() - 1 : next;
            } else {
                last = close;
            }
        }
        if (!malformed) {
            const std::string token = work.substr(position, last - position + 1);
            if (opener == '[' || opener == '{') {
                work[position] = '*';
                work[last] = '*';
                if (opener == '{') {
                    std::replace(work.begin() + static_cast<std::ptrdiff_t>(position),
                                 work.begin() + static_cast<std::ptrdiff_t>(last) + 1, '[', '*');
                    std::replace(work.begin() + static_cast<std::ptrdiff_t>(position),
                                 work.begin() + static_cast<std::ptrdiff_t>(last) + 1, ']', '*');
                }
            }
            {
                // Keys meant for that window must not reach whichever one took the focus
                // since: Space may have closed it, and Enter would then land elsewhere.
                const platform::KeysForWindow keys(target);
                if (!keys)
                    return;
                sendToken(token);
            }
            pause();
        }
        position = last + 1;
    }
}

platform::HWND TSendKey::activateTarget() const
{
    const platform::HWND window = platform::findTitledWindow(
        TitleText,
        OwnWindowsOnly ? platform::WindowsOf::ThisProcess : platform::WindowsOf::AnyProcess,
        TitleBuffer);
    return window != 0 && platform::SetForegroundWindow(window) ? window : 0;
}

void TSendKey::sendToken(const std::string& token) const
{
    std::string rest = token;
    bool shift = false, alt = false, ctrl = false, named = false;
    if (rest.find('{') != std::string::npos && rest.find('}') != std::string::npos) {
        unwrap(rest, '{', '}');
        shift = takeModifier(rest, '!');
        alt = takeModifier(rest, '&');
        ctrl = takeModifier(rest, '^');
    }
    const bool isNamed = rest.find('[') != std::string::npos && rest.find(']') != std::string::npos;
    // A group holding nothing once its braces and modifier are gone types nothing at all.
    if (rest.empty())
        return;
    if (rest.front() >= 'A' && rest.front() <= 'Z')
        shift = true;

    const unsigned shiftMapped =
        platform::MapVirtualKeyA(platform::VK_SHIFT, platform::MAPVK_VK_TO_VSC);
    const unsigned altMapped =
        platform::MapVirtualKeyA(platform::VK_MENU, platform::MAPVK_VK_TO_CHAR);
    const unsigned ctrlMapped =
        platform::MapVirtualKeyA(platform::VK_CONTROL, platform::MAPVK_VK_TO_CHAR);
    if (shift)
        keyEvent(platform::VK_SHIFT, shiftMapped, 0, extraFor(shiftMapped) + 1);
    if (alt)
        keyEvent(platform::VK_MENU, altMapped, 0, extraFor(altMapped) + 1);
    if (ctrl)
        keyEvent(platform::VK_CONTROL, ctrlMapped, 0, extraFor(ctrlMapped) + 1);

    if (isNamed) {
        unwrap(rest, '[', ']');
        const std::string name = trimControls(platform::lowerAscii(rest));
        for (const KeyName& entry : KeyNames) {
            if (trimControls(platform::lowerAscii(entry.name)) == name)
                pressAndRelease(entry.code,
                                platform::MapVirtualKeyA(entry.code, platform::MAPVK_VK_TO_CHAR));
        }
        named = true;
    }
    if (!named) {
        const auto key = static_cast<std::uint8_t>(platform::VkKeyScanA(rest.front()) & 0xFF);
        pressAndRelease(key, platform::MapVirtualKeyA(key, platform::MAPVK_VK_TO_VSC));
    }

    if (shift)
        keyEvent(platform::VK_SHIFT, 0, platform::KEYEVENTF_KEYUP, extraFor(shiftMapped));
    if (alt)
        keyEvent(platform::VK_MENU, 0, platform::KEYEVENTF_KEYUP, extraFor(altMapped));
    if (ctrl)
        keyEvent(platform::VK_CONTROL, 0, platform::KEYEVENTF_KEYUP, extraFor(ctrlMapped));
}

void TSendKey::pause() const
{
    const auto start = platform::GetTickCount();
    // The sum as a signed 32-bit value: below the tick count read means no pause. A
    // negative delay never pauses, also where the sum wraps above the tick count.
    const auto until = static_cast<std::int32_t>(start + static_cast<std::uint32_t>(Delay));
    if (Delay < 0 || until < static_cast<std::int32_t>(start))
        return;
    // Measured as time elapsed, so a tick count passing 2^31 during the pause cannot make
    // it last for weeks.
    for (;;) {
        runtime::processMessages();
        if (platform::GetTickCount() - start > static_cast<std::uint32_t>(Delay))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
