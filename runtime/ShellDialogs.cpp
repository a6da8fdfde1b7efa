#include "runtime/ShellDialogs.h"

#include "platform/core/Service.h"
#include "runtime/MessageBoxes.h"

namespace runtime {

bool ShellDialogs::confirm(platform::HWND, const std::string& title, const std::string& text)
{
    return showMessage({MessageType::Confirmation, title, text, ButtonYes | ButtonNo}) ==
           ModalResult::Yes;
}

void ShellDialogs::reportError(platform::HWND, const std::string& title, const std::string& text)
{
    showMessage({MessageType::Error, title, text, ButtonOk});
}

void installShellDialogs()
{
    platform::Service<platform::ShellDialogs>::install(std::make_unique<ShellDialogs>());
}

} // namespace runtime
