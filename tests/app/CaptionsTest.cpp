#include "support/FormFixture.h"

#include <QApplication>
#include <QFontInfo>
#include <QStyle>
#include <QStyleOptionButton>
#include <gtest/gtest.h>

namespace {

using CaptionsTest = test::FormFixture;

// Where a control's caption lies in the control's own font, as its style lays it out, and
// the room it has there; nothing for a control without a caption.
std::optional<std::pair<QRect, QRect>> captionAndRoom(const QWidget& control)
{
    if (const auto* banner = qobject_cast<const TGradLabel*>(&control)) {
        // The letters' ink at (1, 1) and their shadow, inside the fixed bounds.
        const QFontMetrics metrics(banner->paintFont());
        const int deep = banner->Shadow() ? banner->ShadowDeep() : 0;
        return std::pair{metrics.tightBoundingRect(banner->Caption())
                             .translated(1, 1 + metrics.ascent())
                             .adjusted(0, 0, deep, deep),
                         banner->rect()};
    }
    const auto* label = qobject_cast<const QLabel*>(&control);
    const auto* button = qobject_cast<const QAbstractButton*>(&control);
    const QString text = label ? label->text() : button ? button->text() : QString();
    if (text.isEmpty())
        return std::nullopt;
    const auto placed = [&](const QRect& room, int flags) {
        return control.fontMetrics().boundingRect(room, flags | Qt::TextShowMnemonic, text);
    };
    if (label)
        return std::pair{placed(label->contentsRect(), int(label->alignment())),
                         label->contentsRect()};
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = text;
    const QStyle& style = *button->style();
    // After the indicator, to the control's edge; a button's inside its bevel.
    if (qobject_cast<const QCheckBox*>(button) || qobject_cast<const QRadioButton*>(button)) {
        const auto element = qobject_cast<const QCheckBox*>(button)
                                 ? QStyle::SE_CheckBoxContents
                                 : QStyle::SE_RadioButtonContents;
        return std::pair{placed(style.subElementRect(element, &option, button),
                                Qt::AlignLeft | Qt::AlignVCenter),
                         button->rect()};
    }
    const QRect bevel = style.subElementRect(QStyle::SE_PushButtonContents, &option, button);
    return std::pair{placed(bevel, Qt::AlignCenter), bevel};
}

} // namespace

// The window asks for Arial and "MS Sans Serif"; whatever faces the machine gives for them,
// every caption of the three tabs must show whole.
TEST_F(CaptionsTest, EveryCaptionIsWholeInTheFontTheWindowGets)
{
    TForm1& f = start();
    f.show();
    QApplication::processEvents();
    const std::string faces =
        (QFontInfo(f.font()).family() + ", banner " + QFontInfo(f.GradLabel1->paintFont()).family())
            .toStdString();
    int checked = 0;
    for (int page = 0; page < f.TabbedNotebook1->count(); ++page) {
        for (const QWidget* control :
             f.TabbedNotebook1->widget(page)->findChildren<const QWidget*>()) {
            const auto placed = captionAndRoom(*control);
            if (!placed)
                continue;
            ++checked;
            const auto& [caption, room] = *placed;
            EXPECT_TRUE(room.contains(caption))
                << control->metaObject()->className() << " \""
                << control->property("text").toString().toStdString() << "\": its caption reaches "
                << caption.right() << "," << caption.bottom() << ", the room " << room.right()
                << "," << room.bottom() << " (" << faces << ")";
        }
    }
    // The banner, two labels, three buttons, thirteen check boxes and four radio buttons.
    EXPECT_EQ(checked, 23);
}
