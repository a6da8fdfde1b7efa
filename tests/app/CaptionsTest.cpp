#include "support/FormFixture.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFontInfo>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextBlock>
#include <QTextLayout>
#include <gtest/gtest.h>

namespace {

using CaptionsTest = test::FormFixture;

struct Caption
{
    QString text;
    // Where the control lets the text go, and where the text really goes in its font.
    QRect room;
    QRect needed;
};

QRect textRect(const QWidget& control, const QRect& room, int flags, const QString& text)
{
    return control.fontMetrics().boundingRect(room, flags | Qt::TextShowMnemonic, text);
}

// The caption of a control as its style lays it out; nothing for a control without one.
std::optional<Caption> captionOf(const QWidget& control)
{
    const QStyle& style = *control.style();
    if (const auto* banner = qobject_cast<const TGradLabel*>(&control)) {
        // The letters' ink at (1, 1) and their shadow, inside the control's fixed bounds.
        const QFontMetrics metrics(banner->paintFont());
        QRect ink =
            metrics.tightBoundingRect(banner->Caption()).translated(1, 1 + metrics.ascent());
        if (banner->Shadow())
            ink.adjust(0, 0, banner->ShadowDeep(), banner->ShadowDeep());
        return Caption{banner->Caption(), banner->rect(), ink};
    }
    if (const auto* label = qobject_cast<const QLabel*>(&control)) {
        if (label->text().isEmpty())
            return std::nullopt;
        return Caption{
            label->text(), label->contentsRect(),
            textRect(*label, label->contentsRect(), int(label->alignment()), label->text())};
    }
    const auto* button = qobject_cast<const QAbstractButton*>(&control);
    if (!button || button->text().isEmpty())
        return std::nullopt;
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    if (qobject_cast<const QCheckBox*>(button) || qobject_cast<const QRadioButton*>(button)) {
        // Left-aligned after the indicator; what passes the control's edge is cut.
        const auto element = qobject_cast<const QCheckBox*>(button)
                                 ? QStyle::SE_CheckBoxContents
                                 : QStyle::SE_RadioButtonContents;
        const QRect contents = style.subElementRect(element, &option, button);
        return Caption{
            button->text(), button->rect(),
            textRect(*button, contents, Qt::AlignLeft | Qt::AlignVCenter, button->text())};
    }
    // Centred inside the bevel.
    const QRect contents = style.subElementRect(QStyle::SE_PushButtonContents, &option, button);
    return Caption{button->text(), contents,
                   textRect(*button, contents, Qt::AlignCenter, button->text())};
}

} // namespace

// The window asks for Arial and "MS Sans Serif"; whatever the machine gives for them, every
// caption of the three tabs must show whole at the window's own size.
TEST_F(CaptionsTest, EveryCaptionIsWholeInTheFontTheWindowGets)
{
    TForm1& f = start();
    f.show();
    QApplication::processEvents();
    const QString faces =
        QFontInfo(f.font()).family() + ", banner " + QFontInfo(f.GradLabel1->paintFont()).family();

    int checked = 0;
    for (int page = 0; page < f.TabbedNotebook1->count(); ++page) {
        for (const QWidget* control :
             f.TabbedNotebook1->widget(page)->findChildren<const QWidget*>()) {
            const auto caption = captionOf(*control);
            if (!caption)
                continue;
            ++checked;
            EXPECT_TRUE(caption->room.contains(caption->needed))
                << caption->text.toStdString() << " needs " << caption->needed.x() << ","
                << caption->needed.y() << " " << caption->needed.width() << "x"
                << caption->needed.height() << " inside " << caption->room.width() << "x"
                << caption->room.height() << " (" << faces.toStdString() << ")";
        }
    }
    // The banner, two captions, two buttons, the folder button, thirteen check boxes and
    // four radio buttons.
    EXPECT_EQ(checked, 23);

    // Every line of the About text stays one line.
    f.TabbedNotebook1->setActivePage(QStringLiteral("About"));
    QApplication::processEvents();
    const QTextDocument& about = *f.RichEdit1->document();
    about.documentLayout()->documentSize();
    for (QTextBlock block = about.begin(); block.isValid(); block = block.next())
        EXPECT_LE(block.layout()->lineCount(), 1) << block.text().toStdString();
}
