#include "runtime/MessageBoxes.h"

#include "runtime/Application.h"
#include "runtime/ApplicationInfo.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPushButton>
#include <iostream>

namespace runtime {

namespace {

MessageInterceptor& interceptor()
{
    static MessageInterceptor current;
    return current;
}

std::string titleFor(MessageType type)
{
    switch (type) {
    case MessageType::Warning:
        return "Warning";
    case MessageType::Error:
        return "Error";
    case MessageType::Information:
        return "Information";
    case MessageType::Confirmation:
        return "Confirm";
    }
    return {};
}

// Texts end their lines with CR LF; the toolkit wants plain line feeds.
QString displayText(const std::string& text)
{
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

ModalResult defaultAnswer(unsigned buttons)
{
    if (buttons & ButtonYes)
        return ModalResult::Yes;
    if (buttons & ButtonOk)
        return ModalResult::Ok;
    return ModalResult::No;
}

// Tells whether the box was closed by its title bar rather than answered.
class CloseWatcher : public QObject
{
public:
    bool closed = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close)
            closed = true;
        return QObject::eventFilter(watched, event);
    }
};

ModalResult show(const MessageRequest& request)
{
    if (interceptor())
        return interceptor()(request);
    if (!QApplication::instance() || isHeadless()) {
        std::cerr << request.title << ": " << displayText(request.text).toStdString() << std::endl;
        return defaultAnswer(request.buttons);
    }
    return showMessageBox(request);
}

} // namespace

ModalResult showMessageBox(const MessageRequest& request)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (request.type) {
    case MessageType::Warning:
        icon = QMessageBox::Warning;
        break;
    case MessageType::Error:
        icon = QMessageBox::Critical;
        break;
    case MessageType::Information:
        icon = QMessageBox::Information;
        break;
    case MessageType::Confirmation:
        icon = QMessageBox::Question;
        break;
    }
    QMessageBox box(icon, QString::fromStdString(request.title), displayText(request.text));
    QAbstractButton* yes = nullptr;
    QAbstractButton* no = nullptr;
    QAbstractButton* ok = nullptr;
    if (request.buttons & ButtonYes)
        yes = box.addButton(QMessageBox::Yes);
    if (request.buttons & ButtonNo)
        no = box.addButton(QMessageBox::No);
    if (request.buttons & ButtonOk)
        ok = box.addButton(QMessageBox::Ok);
    // Enter and Space answer the first button without a click.
    if (auto* first = qobject_cast<QPushButton*>(yes ? yes : ok ? ok : no))
        box.setDefaultButton(first);
    CloseWatcher watcher;
    box.installEventFilter(&watcher);
    box.exec();
    // The toolkit counts a close as its escape button; here it answers nothing.
    QAbstractButton* clicked = watcher.closed ? nullptr : box.clickedButton();
    if (clicked && clicked == yes)
        return ModalResult::Yes;
    if (clicked && clicked == no)
        return ModalResult::No;
    if (clicked && clicked == ok)
        return ModalResult::Ok;
    return ModalResult::Cancel;
}

ModalResult showMessage(const MessageRequest& request)
{
    return show(request);
}

ModalResult messageDlg(const std::string& text, MessageType type, unsigned buttons)
{
    return show(MessageRequest{type, titleFor(type), text, buttons});
}

namespace {
bool errorBoxShown = false;
}

bool errorShown()
{
    return errorBoxShown;
}

void showErrorMessage(const std::string& text)
{
    errorBoxShown = true;
    show(MessageRequest{MessageType::Error, applicationTitle(), text, ButtonOk});
}

MessageInterceptor setMessageInterceptor(MessageInterceptor replacement)
{
    MessageInterceptor previous = std::move(interceptor());
    interceptor() = std::move(replacement);
    return previous;
}

} // namespace runtime
