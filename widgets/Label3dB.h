#pragma once

#include "runtime/Colors.h"

#include <QString>
#include <QWidget>
#include <cstdint>

enum TBorderStyle : std::uint8_t { bsNone, bsLight, bsMedium, bsHeavy, bsFrame, bsRaisedFrame };

// Vertical placement of the text, whatever the name says.
enum THorisontalAlign : std::uint8_t { haTop, haCenter, haBottom };

enum TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };

// A text label with a three-dimensional border drawn inside its bounds. It takes no focus
// and never sizes itself to its text; the text always keeps 3 pixels from every edge.
class TLabel3DBorder : public QWidget
{
    Q_OBJECT
public:
    explicit TLabel3DBorder(QWidget* owner = nullptr);

    TBorderStyle BorderStyle() const { return m_borderStyle; }
    void setBorderStyle(TBorderStyle value);
    THorisontalAlign HorisontalAlign() const { return m_horisontalAlign; }
    void setHorisontalAlign(THorisontalAlign value);
    TAlignment Alignment() const { return m_alignment; }
    void setAlignment(TAlignment value);

    const QString& Caption() const { return m_caption; }
    void setCaption(const QString& value);
    // The same caption under the names a plain label uses.
    const QString& text() const { return m_caption; }
    void setText(const QString& value) { setCaption(value); }

    // Setting a colour stops following the parent's.
    runtime::TColor Color() const { return m_color; }
    void setColor(runtime::TColor value);
    bool ParentColor() const { return m_parentColor; }
    void setParentColor(bool value);
    bool Transparent() const { return m_transparent; }
    void setTransparent(bool value);
    bool WordWrap() const { return m_wordWrap; }
    void setWordWrap(bool value);
    bool ShowAccelChar() const { return m_showAccelChar; }
    void setShowAccelChar(bool value);
    bool Enabled() const { return isEnabled(); }

    // The colour the background is filled with: the own colour, or the parent's.
    QColor backgroundColor() const;
    // Where the text goes: the client rectangle less 3 pixels on every side.
    QRect textRect() const;
    // The text drawing flags for the current properties.
    int textFlags() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TBorderStyle m_borderStyle = bsNone;
    THorisontalAlign m_horisontalAlign = haTop;
    TAlignment m_alignment = taLeftJustify;
    QString m_caption;
    runtime::TColor m_color = runtime::clBtnFace;
    bool m_parentColor = true;
    bool m_transparent = false;
    bool m_wordWrap = false;
    bool m_showAccelChar = true;
};
