#pragma once

#include "platform/shell/Shell.h"

#include <cstdint>
#include <functional>
#include <string>

class QWidget;

// The top of the folder tree.
enum TRootItem { riMyComputer, riDesktop };

class TPathDialog;
using TPathDialogEvent = std::function<void(TPathDialog* Sender)>;
// Path is the new selection's folder, empty when the item has none.
using TSelectEvent = std::function<void(TPathDialog* Sender, const std::string& Path)>;

// Lets the user choose a folder in the shell's folder browser. It preselects Directory when
// the dialog opens, can show a status line, and reports each change of selection while the
// dialog is open; handlers may steer the open dialog through Directory and StatusText.
class TPathDialog
{
public:
    // The owner's window is the dialog's owner; without one, the active window.
    explicit TPathDialog(QWidget* Owner = nullptr) : m_owner(Owner) {}
    TPathDialog(const TPathDialog&) = delete;
    TPathDialog& operator=(const TPathDialog&) = delete;

    const std::string& Title() const { return m_title; }
    void setTitle(const std::string& Value) { m_title = Value; }
    const std::string& Directory() const { return m_directory; }
    // One trailing "\" goes; an empty text stands for the current directory. An open
    // dialog selects the folder.
    void setDirectory(const std::string& Value);
    bool ShowStatus() const { return m_showStatus; }
    void setShowStatus(bool Value) { m_showStatus = Value; }
    const std::string& StatusText() const { return m_statusText; }
    // Shown at once in an open dialog's status line.
    void setStatusText(const std::string& Value);
    TRootItem RootItem() const { return m_rootItem; }
    void setRootItem(TRootItem Value) { m_rootItem = Value; }
    std::int32_t Tag() const { return m_tag; }
    void setTag(std::int32_t Value) { m_tag = Value; }
    TPathDialogEvent OnShow;
    TSelectEvent OnSelect;

    // Shows the dialog modally; true when a folder with a path was confirmed, which is then
    // in Directory as the shell gives it (a drive root keeps its "\"). False for a cancel,
    // an item without a path, or a root that is not there (then nothing is shown). An
    // error of the program's own class raised by a handler is shown in a message box and
    // the dialog stays open; anything else a handler throws is dropped.
    bool Execute();

private:
    static int BrowseCallback(platform::HWND Wnd, unsigned Msg, const platform::ITEMIDLIST* Item,
                              void* Data);
    void Browsed(platform::HWND Wnd, unsigned Msg, const platform::ITEMIDLIST* Item);

    QWidget* m_owner;
    std::string m_title;
    std::string m_directory;
    bool m_showStatus = false;
    std::string m_statusText;
    TRootItem m_rootItem = riMyComputer;
    std::int32_t m_tag = 0;
    // The open dialog; 0 outside Execute.
    platform::HWND m_dialog = 0;
};
