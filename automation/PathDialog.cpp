#include "automation/PathDialog.h"

#include "platform/files/Folders.h"
#include "runtime/ApplicationInfo.h"
#include "runtime/Errors.h"
#include "runtime/MessageBoxes.h"
#include "runtime/OwnWindows.h"

#include <QApplication>
#include <QScopeGuard>
#include <QWidget>

void TPathDialog::setDirectory(const std::string& Value)
{
    if (!Value.empty() && Value.back() == '\\')
        m_directory = Value.substr(0, Value.size() - 1);
    else if (Value.empty())
        m_directory = platform::GetCurrentDirectoryA();
    else
        m_directory = Value;
    if (m_dialog != 0 && !m_directory.empty())
        platform::SendMessageA(m_dialog, platform::BFFM_SETSELECTIONA, ~std::uintptr_t{0},
                               m_directory);
}

void TPathDialog::setStatusText(const std::string& Value)
{
    m_statusText = Value;
    if (m_dialog != 0 && m_showStatus)
        platform::SendMessageA(m_dialog, platform::BFFM_SETSTATUSTEXTA, 0, m_statusText);
}

bool TPathDialog::Execute()
{
    QWidget* ownerWindow = m_owner ? m_owner->window() : QApplication::activeWindow();
    const platform::HWND owner = ownerWindow ? runtime::windowHandle(ownerWindow) : 0;

    platform::LPITEMIDLIST root;
    const int folder = m_rootItem == riDesktop ? platform::CSIDL_DESKTOP : platform::CSIDL_DRIVES;
    if (platform::SHGetSpecialFolderLocation(owner, folder, root) != platform::S_OK)
        return false;

    platform::BROWSEINFOA info;
    info.hwndOwner = owner;
    info.pidlRoot = root.get();
    info.lpszTitle = m_title;
    info.ulFlags = platform::BIF_RETURNONLYFSDIRS | (m_showStatus ? platform::BIF_STATUSTEXT : 0);
    info.lpfn = &TPathDialog::BrowseCallback;
    info.lParam = this;
    platform::LPITEMIDLIST chosen;
    {
        const auto closed = qScopeGuard([this] { m_dialog = 0; });
        chosen = platform::SHBrowseForFolderA(info);
    }

    std::string path;
    if (!chosen || !platform::SHGetPathFromIDListA(chosen.get(), path))
        return false;
    m_directory = path;
    return true;
}

int TPathDialog::BrowseCallback(platform::HWND Wnd, unsigned Msg, const platform::ITEMIDLIST* Item,
                                void* Data)
{
    try {
        static_cast<TPathDialog*>(Data)->Browsed(Wnd, Msg, Item);
    } catch (const runtime::Exception& error) {
        runtime::showMessage({runtime::MessageType::Information, runtime::applicationTitle(),
                              error.what(), runtime::ButtonOk});
    } catch (...) {
        // Nothing else may unwind through the shell's dialog.
    }
    return 0;
}

void TPathDialog::Browsed(platform::HWND Wnd, unsigned Msg, const platform::ITEMIDLIST* Item)
{
    switch (Msg) {
    case platform::BFFM_INITIALIZED:
        m_dialog = Wnd;
        setDirectory(m_directory);
        setStatusText(m_statusText);
        if (OnShow)
            OnShow(this);
        break;
    case platform::BFFM_SELCHANGED:
        if (OnSelect) {
            std::string path;
            if (!platform::SHGetPathFromIDListA(Item, path))
                path.clear();
            OnSelect(this, path);
        }
        break;
    default:
        break;
    }
}
