#pragma once

#include <functional>
#include <string>

namespace runtime {

enum class MessageType { Warning, Error, Information, Confirmation };

// The buttons a box offers, and the answer it returns.
enum MessageButton : unsigned { ButtonOk = 1, ButtonYes = 2, ButtonNo = 4 };
enum class ModalResult { None, Ok, Cancel, Yes, No };

struct MessageRequest
{
    MessageType type;
    std::string title;
    std::string text;
    unsigned buttons;
};

// Shows a modal box and returns the button pressed; Cancel when it was closed otherwise.
// Without a display, the title and text go to standard error and the default button
// (Yes, or OK) answers at once.
ModalResult messageDlg(const std::string& text, MessageType type, unsigned buttons);
// A box with its own title, answered like the typed ones (by a test's interceptor, or at
// once on standard error without a display).
ModalResult showMessage(const MessageRequest& request);
// The toolkit's box for an error that reached the message loop.
void showErrorMessage(const std::string& text);
// Whether showErrorMessage ran in this process: a run without a display then ends with 1.
bool errorShown();

// Shows the box on screen whatever the platform; closing it by its title bar answers Cancel.
ModalResult showMessageBox(const MessageRequest& request);

// Tests answer boxes themselves; returns the interceptor that was in place.
using MessageInterceptor = std::function<ModalResult(const MessageRequest&)>;
MessageInterceptor setMessageInterceptor(MessageInterceptor interceptor);

} // namespace runtime
