#pragma once

#include <QColor>
#include <QPalette>
#include <cstdint>

namespace runtime {

// A colour as the window's controls store it: 0x00BBGGRR for a plain colour, or
// 0x80000000 plus a system colour index for one of the desktop's colours.
using TColor = std::uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;

constexpr TColor SystemColor = 0x80000000;
constexpr TColor clWindow = SystemColor + 5;
constexpr TColor clWindowText = SystemColor + 8;
constexpr TColor clHighlight = SystemColor + 13;
constexpr TColor clHighlightText = SystemColor + 14;
constexpr TColor clBtnFace = SystemColor + 15;
constexpr TColor clBtnShadow = SystemColor + 16;
constexpr TColor clGrayText = SystemColor + 17;
constexpr TColor clBtnText = SystemColor + 18;
constexpr TColor clBtnHighlight = SystemColor + 20;

constexpr bool isSystemColor(TColor color)
{
    return (color & SystemColor) != 0;
}

// The plain 0x00BBGGRR value; a system colour is looked up in the application's palette
// as it is now, an index the desktop does not have gives black.
TColor colorToRGB(TColor color);
// The same against a given palette.
TColor colorToRGB(TColor color, const QPalette& palette);

QColor toQColor(TColor color);
QColor toQColor(TColor color, const QPalette& palette);

// The plain value of an opaque colour.
TColor fromQColor(const QColor& color);

constexpr TColor rgb(int red, int green, int blue)
{
    return static_cast<TColor>(red & 0xFF) | static_cast<TColor>(green & 0xFF) << 8 |
           static_cast<TColor>(blue & 0xFF) << 16;
}
constexpr int redOf(TColor color)
{
    return static_cast<int>(color & 0xFF);
}
constexpr int greenOf(TColor color)
{
    return static_cast<int>(color >> 8 & 0xFF);
}
constexpr int blueOf(TColor color)
{
    return static_cast<int>(color >> 16 & 0xFF);
}

} // namespace runtime
