#include "widgets/Label3dB.h"

#include <QPainter>

using namespace runtime;

namespace {

// One pixel wide: top and left in the first colour, right and bottom one pixel inside
// the rectangle's far bounds in the second, which also takes the top-right and
// bottom-left corners. Then the rectangle shrinks by one on every side.
void frame(QPainter& painter, QRect& r, TColor first, TColor second)
{
    if (r.width() > 0 && r.height() > 0) {
        const QColor topLeft = toQColor(first);
        const QColor bottomRight = toQColor(second);
        painter.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), topLeft);
        painter.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), topLeft);
        painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
        painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
    }
    r.adjust(1, 1, -1, -1);
}

} // namespace

TLabel3DBorder::TLabel3DBorder(QWidget* owner) : QWidget(owner)
{
    setFocusPolicy(Qt::NoFocus);
    resize(84, 21);
}

void TLabel3DBorder::setBorderStyle(TBorderStyle value)
{
    if (value == m_borderStyle)
        return;
    m_borderStyle = value;
    update();
}

void TLabel3DBorder::setHorisontalAlign(THorisontalAlign value)
{
    if (value == m_horisontalAlign)
        return;
    m_horisontalAlign = value;
    update();
}

void TLabel3DBorder::setAlignment(TAlignment value)
{
    if (value == m_alignment)
        return;
    m_alignment = value;
    update();
}

void TLabel3DBorder::setCaption(const QString& value)
{
    if (value == m_caption)
        return;
    m_caption = value;
    update();
}

void TLabel3DBorder::setColor(TColor value)
{
    if (value == m_color && !m_parentColor)
        return;
    m_color = value;
    m_parentColor = false;
    update();
}

void TLabel3DBorder::setParentColor(bool value)
{
    if (value == m_parentColor)
        return;
    m_parentColor = value;
    update();
}

void TLabel3DBorder::setTransparent(bool value)
{
    if (value == m_transparent)
        return;
    m_transparent = value;
    update();
}

void TLabel3DBorder::setWordWrap(bool value)
{
    if (value == m_wordWrap)
        return;
    m_wordWrap = value;
    update();
}

void TLabel3DBorder::setShowAccelChar(bool value)
{
    if (value == m_showAccelChar)
        return;
    m_showAccelChar = value;
    update();
}

QColor TLabel3DBorder::backgroundColor() const
{
    if (m_parentColor) {
        const QWidget* parent = parentWidget();
        return parent ? parent->palette().color(parent->backgroundRole())
                      : palette().color(QPalette::Window);
    }
    return toQColor(m_color);
}

QRect TLabel3DBorder::textRect() const
{
    return rect().adjusted(3, 3, -3, -3);
}

int TLabel3DBorder::textFlags() const
{
    int flags = Qt::TextExpandTabs;
    if (m_wordWrap)
        flags |= Qt::TextWordWrap;
    switch (m_alignment) {
    case taLeftJustify:
        flags |= Qt::AlignLeft;
        break;
    case taRightJustify:
        flags |= Qt::AlignRight;
        break;
    case taCenter:
        flags |= Qt::AlignHCenter;
        break;
    }
    switch (m_horisontalAlign) {
    case haTop:
        flags |= Qt::AlignTop;
        break;
    case haCenter:
        flags |= Qt::AlignVCenter | Qt::TextSingleLine;
        break;
    case haBottom:
        flags |= Qt::AlignBottom | Qt::TextSingleLine;
        break;
    }
    // One line has nothing to wrap.
    if (flags & Qt::TextSingleLine)
        flags &= ~Qt::TextWordWrap;
    if (m_showAccelChar)
        flags |= Qt::TextShowMnemonic;
    return flags;
}

void TLabel3DBorder::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!m_transparent)
        painter.fillRect(rect(), backgroundColor());

    QRect r = rect();
    switch (m_borderStyle) {
    case bsNone:
        r.adjust(2, 2, -2, -2);
        break;
    case bsLight:
        frame(painter, r, clBtnShadow, clBtnHighlight);
        r.adjust(1, 1, -1, -1);
        break;
    case bsMedium:
        frame(painter, r, clBlack, clBtnHighlight);
        r.adjust(1, 1, -1, -1);
        break;
    case bsHeavy:
        frame(painter, r, clBtnShadow, clBtnHighlight);
        frame(painter, r, clBlack, clBtnFace);
        break;
    case bsFrame:
        frame(painter, r, clBtnShadow, clBtnHighlight);
        frame(painter, r, clBtnHighlight, clBtnShadow);
        break;
    case bsRaisedFrame:
        frame(painter, r, clBtnHighlight, clBtnShadow);
        frame(painter, r, clBtnShadow, clBtnHighlight);
        break;
    }
    r.adjust(1, 1, -1, -1);

    painter.setFont(font());
    painter.setPen(isEnabled() ? palette().color(QPalette::Active, QPalette::WindowText)
                               : toQColor(clGrayText));
    // Line ends of any system break the line, as they do for the system's own labels.
    QString caption = m_caption;
    caption.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    caption.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (r.width() > 0 && r.height() > 0)
        painter.drawText(r, textFlags(), caption);
}
