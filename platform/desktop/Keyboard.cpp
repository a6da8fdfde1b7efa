#include "platform/desktop/Keyboard.h"

#include "platform/core/Service.h"

#include <array>

namespace platform {

namespace {

struct KeyFacts
{
    std::uint8_t virtualKey;
    std::uint8_t scanCode;
    char character; // unshifted; 0 when the key types none
};

// The keys of a United Kingdom keyboard. Where two keys share a scan code (the keypad's
// digits and the cursor block), the one listed first answers the reverse lookup.
constexpr KeyFacts Keys[] = {
    {0x08, 0x0E, '\b'}, {0x09, 0x0F, '\t'}, {0x0D, 0x1C, '\r'}, {0x1B, 0x01, 0x1B},
    {0x20, 0x39, ' '},  {0x03, 0x46, 0x03}, {0x0C, 0x4C, 0},    {0x10, 0x2A, 0},
    {0x11, 0x1D, 0},    {0x12, 0x38, 0},    {0x13, 0x45, 0},    {0x14, 0x3A, 0},
    {0x21, 0x49, 0},    {0x22, 0x51, 0},    {0x23, 0x4F, 0},    {0x24, 0x47, 0},
    {0x25, 0x4B, 0},    {0x26, 0x48, 0},    {0x27, 0x4D, 0},    {0x28, 0x50, 0},
    {0x2C, 0x54, 0},    {0x2D, 0x52, 0},    {0x2E, 0x53, 0},    {0x30, 0x0B, '0'},
    {0x31, 0x02, '1'},  {0x32, 0x03, '2'},  {0x33, 0x04, '3'},  {0x34, 0x05, '4'},
    {0x35, 0x06, '5'},  {0x36, 0x07, '6'},  {0x37, 0x08, '7'},  {0x38, 0x09, '8'},
    {0x39, 0x0A, '9'},  {0x41, 0x1E, 'A'},  {0x42, 0x30, 'B'},  {0x43, 0x2E, 'C'},
    {0x44, 0x20, 'D'},  {0x45, 0x12, 'E'},  {0x46, 0x21, 'F'},  {0x47, 0x22, 'G'},
    {0x48, 0x23, 'H'},  {0x49, 0x17, 'I'},  {0x4A, 0x24, 'J'},  {0x4B, 0x25, 'K'},
    {0x4C, 0x26, 'L'},  {0x4D, 0x32, 'M'},  {0x4E, 0x31, 'N'},  {0x4F, 0x18, 'O'},
    {0x50, 0x19, 'P'},  {0x51, 0x10, 'Q'},  {0x52, 0x13, 'R'},  {0x53, 0x1F, 'S'},
    {0x54, 0x14, 'T'},  {0x55, 0x16, 'U'},  {0x56, 0x2F, 'V'},  {0x57, 0x11, 'W'},
    {0x58, 0x2D, 'X'},  {0x59, 0x15, 'Y'},  {0x5A, 0x2C, 'Z'},  {0xBA, 0x27, ';'},
    {0xBB, 0x0D, '='},  {0xBC, 0x33, ','},  {0xBD, 0x0C, '-'},  {0xBE, 0x34, '.'},
    {0xBF, 0x35, '/'},  {0xC0, 0x28, '\''}, {0xDB, 0x1A, '['},  {0xDC, 0x56, '\\'},
    {0xDD, 0x1B, ']'},  {0xDE, 0x2B, '#'},  {0xDF, 0x29, '`'},  {0x60, 0x52, '0'},
    {0x61, 0x4F, '1'},  {0x62, 0x50, '2'},  {0x63, 0x51, '3'},  {0x64, 0x4B, '4'},
    {0x65, 0x4C, '5'},  {0x66, 0x4D, '6'},  {0x67, 0x47, '7'},  {0x68, 0x48, '8'},
    {0x69, 0x49, '9'},  {0x6A, 0x37, '*'},  {0x6B, 0x4E, '+'},  {0x6D, 0x4A, '-'},
    {0x6E, 0x53, '.'},  {0x6F, 0x35, '/'},  {0x70, 0x3B, 0},    {0x71, 0x3C, 0},
    {0x72, 0x3D, 0},    {0x73, 0x3E, 0},    {0x74, 0x3F, 0},    {0x75, 0x40, 0},
    {0x76, 0x41, 0},    {0x77, 0x42, 0},    {0x78, 0x43, 0},    {0x79, 0x44, 0},
    {0x7A, 0x57, 0},    {0x7B, 0x58, 0},    {0x7C, 0x64, 0},    {0x7D, 0x65, 0},
    {0x7E, 0x66, 0},    {0x7F, 0x67, 0},    {0x80, 0x68, 0},    {0x81, 0x69, 0},
    {0x82, 0x6A, 0},    {0x83, 0x6B, 0},    {0x84, 0x6C, 0},    {0x85, 0x6D, 0},
    {0x86, 0x6E, 0},    {0x87, 0x76, 0},    {0x90, 0x45, 0},    {0x91, 0x46, 0},
};

constexpr std::int16_t Shift = 0x100, Ctrl = 0x200, AltGr = 0x600;

struct TypedCharacter
{
    unsigned char character;
    std::int16_t key;
};

// What the unshifted keys do not type: the shifted row and symbols, AltGr's letters, and
// the control characters that Ctrl makes.
constexpr TypedCharacter Others[] = {
    {'!', Shift | 0x31},          {'"', Shift | 0x32},          {0xA3, Shift | 0x33},
    {'$', Shift | 0x34},          {'%', Shift | 0x35},          {'^', Shift | 0x36},
    {'&', Shift | 0x37},          {'*', Shift | 0x38},          {'(', Shift | 0x39},
    {')', Shift | 0x30},          {':', Shift | 0xBA},          {'+', Shift | 0xBB},
    {'<', Shift | 0xBC},          {'_', Shift | 0xBD},          {'>', Shift | 0xBE},
    {'?', Shift | 0xBF},          {'@', Shift | 0xC0},          {'{', Shift | 0xDB},
    {'|', Shift | 0xDC},          {'}', Shift | 0xDD},          {'~', Shift | 0xDE},
    {0xAC, Shift | 0xDF},         {0x80, AltGr | 0x34},         {0xA6, AltGr | 0xDF},
    {0xE1, AltGr | 0x41},         {0xE9, AltGr | 0x45},         {0xED, AltGr | 0x49},
    {0xF3, AltGr | 0x4F},         {0xFA, AltGr | 0x55},         {0xC1, AltGr | Shift | 0x41},
    {0xC9, AltGr | Shift | 0x45}, {0xCD, AltGr | Shift | 0x49}, {0xD3, AltGr | Shift | 0x4F},
    {0xDA, AltGr | Shift | 0x55}, {'\n', Ctrl | 0x0D},          {0x7F, Ctrl | 0x08},
    {0x1C, Ctrl | 0xDC},          {0x1D, Ctrl | 0xDD},          {0x1E, Ctrl | Shift | 0x36},
    {0x1F, Ctrl | Shift | 0xBD},
};

const KeyFacts* factsOf(unsigned virtualKey)
{
    for (const KeyFacts& key : Keys) {
        if (key.virtualKey == virtualKey)
            return &key;
    }
    return nullptr;
}

// Events go nowhere until the runtime installs the keyboard of its platform.
class NoKeyboard : public KeyboardService
{
public:
    void keyEvent(std::uint8_t, std::uint8_t, std::uint32_t, std::uintptr_t) override {}
};

} // namespace

std::unique_ptr<KeyboardService> KeyboardService::createDefault()
{
    return std::make_unique<NoKeyboard>();
}

void keybd_event(std::uint8_t bVk, std::uint8_t bScan, std::uint32_t dwFlags,
                 std::uintptr_t dwExtraInfo)
{
    Service<KeyboardService>::instance().keyEvent(bVk, bScan, dwFlags, dwExtraInfo);
}

KeysForWindow::KeysForWindow(HWND window)
    : m_begun(window != 0),
      m_allowed(!m_begun || Service<KeyboardService>::instance().beginKeys(window))
{
}

KeysForWindow::~KeysForWindow()
{
    if (m_begun)
        Service<KeyboardService>::instance().endKeys();
}

unsigned MapVirtualKeyA(unsigned uCode, unsigned uMapType)
{
    switch (uMapType) {
    case MAPVK_VK_TO_VSC:
        if (const KeyFacts* key = factsOf(uCode))
            return key->scanCode;
        return 0;
    case MAPVK_VSC_TO_VK:
        for (const KeyFacts& key : Keys) {
            if (uCode != 0 && key.scanCode == uCode)
                return key.virtualKey;
        }
        return 0;
    case MAPVK_VK_TO_CHAR:
        if (const KeyFacts* key = factsOf(uCode))
            return static_cast<unsigned char>(key->character);
        return 0;
    default:
        return 0;
    }
}

std::int16_t VkKeyScanA(char ch)
{
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 'a' && c <= 'z')
        return static_cast<std::int16_t>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z')
        return static_cast<std::int16_t>(Shift | c);
    // The main block before the keypad, as Windows searches its tables.
    for (const KeyFacts& key : Keys) {
        if (key.character != 0 && static_cast<unsigned char>(key.character) == c &&
            !(key.virtualKey >= 0x60 && key.virtualKey <= 0x6F) && !(c >= 'A' && c <= 'Z'))
            return key.virtualKey;
    }
    for (const TypedCharacter& other : Others) {
        if (other.character == c)
            return other.key;
    }
    if (c >= 0x01 && c <= 0x1A)
        return static_cast<std::int16_t>(Ctrl | (c - 1 + 'A'));
    return -1;
}

} // namespace platform
