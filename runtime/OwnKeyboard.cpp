#include "runtime/OwnKeyboard.h"

#include "runtime/OwnWindows.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <cstring>

namespace runtime {

namespace {

struct NamedKey
{
    std::uint8_t virtualKey;
    Qt::Key key;
};

constexpr NamedKey NamedKeys[] = {
    {0x03, Qt::Key_Cancel},     {0x08, Qt::Key_Backspace}, {0x09, Qt::Key_Tab},
    {0x0C, Qt::Key_Clear},      {0x0D, Qt::Key_Return},    {0x10, Qt::Key_Shift},
    {0x11, Qt::Key_Control},    {0x12, Qt::Key_Alt},       {0x13, Qt::Key_Pause},
    {0x14, Qt::Key_CapsLock},   {0x1B, Qt::Key_Escape},    {0x21, Qt::Key_PageUp},
    {0x22, Qt::Key_PageDown},   {0x23, Qt::Key_End},       {0x24, Qt::Key_Home},
    {0x25, Qt::Key_Left},       {0x26, Qt::Key_Up},        {0x27, Qt::Key_Right},
    {0x28, Qt::Key_Down},       {0x29, Qt::Key_Select},    {0x2A, Qt::Key_Printer},
    {0x2B, Qt::Key_Execute},    {0x2C, Qt::Key_Print},     {0x2D, Qt::Key_Insert},
    {0x2E, Qt::Key_Delete},     {0x2F, Qt::Key_Help},      {0x90, Qt::Key_NumLock},
    {0x91, Qt::Key_ScrollLock},
};

// The characters that Shift makes of the unshifted ones, on a United Kingdom keyboard
// (8-bit Windows code page: 0xA3 is the pound sign, 0xAC the not sign).
constexpr char Unshifted[] = "1234567890-=;'#,./\\`[]";
constexpr char Shifted[] = "!\"\xa3$%^&*()_+:@~<>?|\xac{}";
static_assert(sizeof Unshifted == sizeof Shifted);

bool isKeypad(std::uint8_t virtualKey)
{
    return virtualKey >= 0x60 && virtualKey <= 0x6F;
}

// The character the key types with only Shift, or nothing, held; 0 when it types none.
unsigned char characterOf(std::uint8_t virtualKey, bool shift)
{
    auto c = static_cast<unsigned char>(
        platform::MapVirtualKeyA(virtualKey, platform::MAPVK_VK_TO_CHAR));
    if (c >= 'A' && c <= 'Z')
        return shift ? c : static_cast<unsigned char>(c - 'A' + 'a');
    if (shift && c != 0 && !isKeypad(virtualKey)) {
        if (const char* at = std::strchr(Unshifted, c))
            return static_cast<unsigned char>(Shifted[at - Unshifted]);
    }
    return c;
}

Qt::Key keyOf(std::uint8_t virtualKey, unsigned char character)
{
    if (virtualKey >= 0x70 && virtualKey <= 0x87)
        return static_cast<Qt::Key>(Qt::Key_F1 + (virtualKey - 0x70));
    for (const NamedKey& named : NamedKeys) {
        if (named.virtualKey == virtualKey)
            return named.key;
    }
    // The toolkit names a printable key by the character it types, letters in upper case.
    if (character >= 0x20 && character != 0x7F)
        return static_cast<Qt::Key>(
            QChar(QLatin1Char(static_cast<char>(character))).toUpper().unicode());
    return Qt::Key_unknown;
}

} // namespace

void OwnKeyboard::keyEvent(std::uint8_t virtualKey, std::uint8_t, std::uint32_t flags,
                           std::uintptr_t)
{
    const bool release = flags & platform::KEYEVENTF_KEYUP;
    switch (virtualKey) {
    case platform::VK_SHIFT:
        m_shift = !release;
        break;
    case platform::VK_CONTROL:
        m_control = !release;
        break;
    case platform::VK_MENU:
        m_alt = !release;
        break;
    default:
        break;
    }

    QWidget* target = nullptr;
    if (m_window != 0) {
        // Keys meant for a window that has gone since go nowhere else.
        target = OwnWindows::shownWindowOf(m_window);
        if (target && target->focusWidget())
            target = target->focusWidget();
    } else {
        target = QApplication::focusWidget();
        if (!target)
            target = QApplication::activeWindow();
    }
    if (!target)
        return;

    const unsigned char character = characterOf(virtualKey, m_shift);
    const Qt::Key key = keyOf(virtualKey, character);
    if (key == Qt::Key_unknown)
        return;
    Qt::KeyboardModifiers modifiers;
    if (m_shift)
        modifiers |= Qt::ShiftModifier;
    if (m_control)
        modifiers |= Qt::ControlModifier;
    if (m_alt)
        modifiers |= Qt::AltModifier;
    if (isKeypad(virtualKey))
        modifiers |= Qt::KeypadModifier;
    // Control and Alt make commands, not text.
    QString text;
    if (character != 0 && !m_control && !m_alt)
        text = QChar(QLatin1Char(static_cast<char>(character)));
    QCoreApplication::postEvent(
        target,
        new QKeyEvent(release ? QEvent::KeyRelease : QEvent::KeyPress, key, modifiers, text));
}

bool OwnKeyboard::beginKeys(platform::HWND window)
{
    m_window = window;
    return OwnWindows::shownWindowOf(window) != nullptr;
}

void OwnKeyboard::endKeys()
{
    m_window = 0;
}

} // namespace runtime
