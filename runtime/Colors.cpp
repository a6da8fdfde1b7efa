#include "runtime/Colors.h"

#include <QGuiApplication>
#include <array>
#include <optional>

namespace runtime {

namespace {

struct Role
{
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

// The desktop's colours by their index, as the toolkit's palette names them. The 3-D
// colours follow what the toolkit draws its own bevels with: shadow is Dark, highlight
// Light, the darkest edge Shadow. Index 25 was never assigned.
std::optional<Role> roleOf(TColor index)
{
    using P = QPalette;
    static const std::array<std::optional<Role>, 31> roles = {{
        Role{P::Active, P::Button},            // 0 scroll bar
        Role{P::Active, P::Dark},              // 1 desktop background
        Role{P::Active, P::Highlight},         // 2 active caption
        Role{P::Inactive, P::Highlight},       // 3 inactive caption
        Role{P::Active, P::Window},            // 4 menu
        Role{P::Active, P::Base},              // 5 window
        Role{P::Active, P::Shadow},            // 6 window frame
        Role{P::Active, P::WindowText},        // 7 menu text
        Role{P::Active, P::Text},              // 8 window text
        Role{P::Active, P::HighlightedText},   // 9 caption text
        Role{P::Active, P::Button},            // 10 active border
        Role{P::Active, P::Button},            // 11 inactive border
        Role{P::Active, P::Mid},               // 12 application workspace
        Role{P::Active, P::Highlight},         // 13 highlight
        Role{P::Active, P::HighlightedText},   // 14 highlighted text
        Role{P::Active, P::Button},            // 15 button face
        Role{P::Active, P::Dark},              // 16 button shadow
        Role{P::Disabled, P::WindowText},      // 17 grey text
        Role{P::Active, P::ButtonText},        // 18 button text
        Role{P::Inactive, P::HighlightedText}, // 19 inactive caption text
        Role{P::Active, P::Light},             // 20 button highlight
        Role{P::Active, P::Shadow},            // 21 3-D dark shadow
        Role{P::Active, P::Midlight},          // 22 3-D light
        Role{P::Active, P::ToolTipText},       // 23 info text
        Role{P::Active, P::ToolTipBase},       // 24 info background
        std::nullopt,                          // 25
        Role{P::Active, P::Link},              // 26 hot-tracked item
        Role{P::Active, P::Highlight},         // 27 active caption gradient
        Role{P::Inactive, P::Highlight},       // 28 inactive caption gradient
        Role{P::Active, P::Highlight},         // 29 menu highlight
        Role{P::Active, P::Window},            // 30 menu bar
    }};
    if (index >= roles.size())
        return std::nullopt;
    return roles[index];
}

} // namespace

TColor colorToRGB(TColor color, const QPalette& palette)
{
    if (!isSystemColor(color))
        return color & 0xFFFFFF;
    const auto role = roleOf(color & ~SystemColor);
    if (!role)
        return clBlack;
    return fromQColor(palette.color(role->group, role->role));
}

TColor colorToRGB(TColor color)
{
    return colorToRGB(color, QGuiApplication::palette());
}

QColor toQColor(TColor color, const QPalette& palette)
{
    const TColor value = colorToRGB(color, palette);
    return QColor(redOf(value), greenOf(value), blueOf(value));
}

QColor toQColor(TColor color)
{
    return toQColor(color, QGuiApplication::palette());
}

TColor fromQColor(const QColor& color)
{
    const QColor plain = color.toRgb();
    return rgb(plain.red(), plain.green(), plain.blue());
}

} // namespace runtime
