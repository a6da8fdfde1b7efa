#include "runtime/FolderBrowser.h"

#include "platform/core/AsciiCase.h"
#include "platform/core/Service.h"
#include "platform/drives/Drives.h"
#include "platform/files/Files.h"
#include "runtime/Application.h"
#include "runtime/OwnWindows.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <optional>

namespace runtime {

namespace {

using platform::ITEMIDLIST;

// Windows path of a folder item, as bytes; none on the computer's item.
constexpr int PathRole = Qt::UserRole;
// The name as the folder search gave it.
constexpr int NameRole = Qt::UserRole + 1;
constexpr int FilledRole = Qt::UserRole + 2;

QByteArray bytesOf(const std::string& text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::string textOf(const QVariant& value)
{
    const QByteArray bytes = value.toByteArray();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString shown(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string joined(const std::string& folder, const std::string& name)
{
    return folder.ends_with('\\') ? folder + name : folder + '\\' + name;
}

// The order of the shell's tree: letters without regard to case, then the bytes.
bool before(const std::string& a, const std::string& b)
{
    const auto less = [](char x, char y) {
        return static_cast<unsigned char>(platform::lowerAscii(x)) <
               static_cast<unsigned char>(platform::lowerAscii(y));
    };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), less))
        return true;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), less))
        return false;
    return a < b;
}

struct SplitPath
{
    char letter = 0;
    std::vector<std::string> parts;
};

// "c:/a//b\" gives C and {a, b}; "C:" is the root of C:. Nothing for a text that is no
// absolute Windows path.
std::optional<SplitPath> split(const std::string& path)
{
    if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0])))
        return std::nullopt;
    if (path.size() > 2 && path[2] != '\\' && path[2] != '/')
        return std::nullopt;
    SplitPath result;
    result.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    std::string part;
    for (std::size_t i = 2; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\' || path[i] == '/') {
            if (!part.empty() && part != ".")
                result.parts.push_back(part);
            part.clear();
        } else {
            part += path[i];
        }
    }
    return result;
}

// Calls visit with each entry the search finds, until it returns false.
template <class Visit> void forEachEntry(const std::string& pattern, Visit visit)
{
    platform::WIN32_FIND_DATAA entry;
    const platform::HANDLE search =
        platform::FindFirstFileExA(pattern, entry, platform::FindFirstExDeferDetails);
    if (search == platform::INVALID_HANDLE_VALUE)
        return;
    while (visit(entry) && platform::FindNextFileA(search, entry)) {
    }
    platform::FindClose(search);
}

// A link never carries the directory bit, so the tree never leads through one.
bool isFolder(const platform::WIN32_FIND_DATAA& entry)
{
    return (entry.dwFileAttributes & platform::FILE_ATTRIBUTE_DIRECTORY) &&
           entry.cFileName != "." && entry.cFileName != "..";
}

// Subfolder names, hidden ones included.
std::vector<std::string> subfoldersOf(const std::string& folder)
{
    std::vector<std::string> names;
    forEachEntry(joined(folder, "*"), [&](const platform::WIN32_FIND_DATAA& entry) {
        if (isFolder(entry))
            names.push_back(entry.cFileName);
        return true;
    });
    std::sort(names.begin(), names.end(), before);
    return names;
}

bool hasSubfolders(const std::string& folder)
{
    bool found = false;
    forEachEntry(joined(folder, "*"), [&](const platform::WIN32_FIND_DATAA& entry) {
        found = isFolder(entry);
        return !found;
    });
    return found;
}

// Whether the entry of that name in the folder is a folder, not a link or anything else.
// Compared by name, since a name may hold the search's wildcards.
bool isSubfolder(const std::string& folder, const std::string& name)
{
    bool found = false;
    forEachEntry(joined(folder, name), [&](const platform::WIN32_FIND_DATAA& entry) {
        if (entry.cFileName != name)
            return true;
        found = isFolder(entry);
        return false;
    });
    return found;
}

// The top-level widget the installed window family knows by that handle.
QWidget* widgetOf(platform::HWND window)
{
    if (window == 0)
        return nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        // Asking for the X window would make one for every hidden widget; only those that
        // have one can be meant.
        if (OwnWindows::handleOf(widget) == window ||
            (widget->internalWinId() != 0 &&
             static_cast<platform::HWND>(widget->internalWinId()) == window))
            return widget;
    }
    return nullptr;
}

} // namespace

class FolderBrowserDialog : public QDialog
{
public:
    FolderBrowserDialog(const platform::BROWSEINFOA& info, QWidget* owner);

    platform::HWND handle() const { return m_handle; }
    // The selected item once accepted; its name goes to displayName.
    platform::LPITEMIDLIST chosen(std::string& displayName) const;
    bool selectPath(const std::string& path);
    void setStatusText(const std::string& text);

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTreeWidgetItem* addFolder(QTreeWidgetItem* parent, const std::string& path,
                               const std::string& name);
    QTreeWidgetItem* newFolder(const std::string& path, const std::string& name);
    // False for a listed folder that is gone or has been replaced by a link since.
    bool stillThere(const QTreeWidgetItem* item) const;
    void fill(QTreeWidgetItem* item);
    QTreeWidgetItem* childNamed(QTreeWidgetItem* item, const std::string& name);
    void selectionChanged(QTreeWidgetItem* current);
    void notify(unsigned message, const ITEMIDLIST* item);

    platform::BFFCALLBACK m_callback;
    void* m_data;
    bool m_onlyFileSystem;
    QTreeWidget* m_tree;
    QIcon m_folderIcon;
    QLabel* m_status = nullptr;
    QPushButton* m_ok;
    QTreeWidgetItem* m_root;
    platform::HWND m_handle = 0;
    bool m_initialized = false;
    unsigned m_selectionChanges = 0;
};

FolderBrowserDialog::FolderBrowserDialog(const platform::BROWSEINFOA& info, QWidget* owner)
    : QDialog(owner), m_callback(info.lpfn), m_data(info.lParam),
      m_onlyFileSystem(info.ulFlags & platform::BIF_RETURNONLYFSDIRS)
{
    setWindowTitle(QStringLiteral("Browse for Folder"));
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(shown(info.lpszTitle), this);
    title->setObjectName(QStringLiteral("title"));
    title->setTextFormat(Qt::PlainText);
    title->setWordWrap(true);
    title->setVisible(!info.lpszTitle.empty());
    layout->addWidget(title);

    m_tree = new QTreeWidget(this);
    m_folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
    m_tree->setObjectName(QStringLiteral("folders"));
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    layout->addWidget(m_tree, 1);

    if (info.ulFlags & platform::BIF_STATUSTEXT) {
        m_status = new QLabel(this);
        m_status->setObjectName(QStringLiteral("status"));
        m_status->setTextFormat(Qt::PlainText);
        m_status->setWordWrap(true);
        layout->addWidget(m_status);
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    // No root is the desktop, as with the shell.
    platform::LPITEMIDLIST desktop;
    const ITEMIDLIST* root = info.pidlRoot;
    if (!root &&
        platform::SHGetSpecialFolderLocation(0, platform::CSIDL_DESKTOP, desktop) == platform::S_OK)
        root = desktop.get();
    if (!root || root->path.empty()) {
        m_root = new QTreeWidgetItem(m_tree, {QStringLiteral("Computer")});
        m_root->setIcon(0, style()->standardIcon(QStyle::SP_ComputerIcon));
        m_root->setData(0, FilledRole, true);
        const std::string roots = platform::GetLogicalDriveStringsA();
        for (std::size_t at = 0; at < roots.size();) {
            const std::size_t end = std::min(roots.find('\0', at), roots.size());
            const std::string drive = roots.substr(at, end - at);
            at = end + 1;
            if (platform::GetDriveTypeA(drive) == platform::DRIVE_NO_ROOT_DIR)
                continue;
            const std::string letter = drive.substr(0, 2);
            QTreeWidgetItem* item = addFolder(m_root, drive, letter);
            item->setText(0, QStringLiteral("%1 (%2)").arg(shown(letter),
                                                           shown(platform::toNativePath(drive))));
            item->setIcon(0, style()->standardIcon(QStyle::SP_DriveHDIcon));
        }
    } else {
        const auto parts = split(root->path);
        const std::string name =
            parts && !parts->parts.empty() ? parts->parts.back() : root->path.substr(0, 2);
        m_root = addFolder(nullptr, root->path, name);
    }
    m_tree->setCurrentItem(m_root);
    fill(m_root);
    m_root->setExpanded(true);
    m_ok->setEnabled(!m_onlyFileSystem || !textOf(m_root->data(0, PathRole)).empty());

    connect(m_tree, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { fill(item); });
    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { selectionChanged(current); });
    resize(380, 440);
    m_handle = runtime::windowHandle(this);
}

QTreeWidgetItem* FolderBrowserDialog::addFolder(QTreeWidgetItem* parent, const std::string& path,
                                                const std::string& name)
{
    QTreeWidgetItem* item = newFolder(path, name);
    if (parent)
        parent->addChild(item);
    else
        m_tree->addTopLevelItem(item);
    return item;
}

QTreeWidgetItem* FolderBrowserDialog::newFolder(const std::string& path, const std::string& name)
{
    auto* item = new QTreeWidgetItem({shown(name)});
    item->setData(0, PathRole, bytesOf(path));
    item->setData(0, NameRole, bytesOf(name));
    item->setIcon(0, m_folderIcon);
    // Whether it has subfolders is known once it is opened.
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return item;
}

void FolderBrowserDialog::fill(QTreeWidgetItem* item)
{
    if (item->data(0, FilledRole).toBool())
        return;
    item->setData(0, FilledRole, true);
    const std::string path = textOf(item->data(0, PathRole));
    // The tree never leads through a link, not even one put in a listed folder's place.
    if (!stillThere(item)) {
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
        return;
    }
    // A folder without subfolders gets no mark to open it, as in the shell's own tree; on
    // network shares and discs that look costs too much, so they keep it until opened.
    const unsigned type = platform::GetDriveTypeA(path.substr(0, 2) + '\\');
    const bool look = type != platform::DRIVE_REMOTE && type != platform::DRIVE_CDROM;
    // Put in all at once: the tree lays itself out again after every single insertion,
    // which a folder of a hundred thousand subfolders made take minutes.
    QList<QTreeWidgetItem*> children;
    for (const std::string& name : subfoldersOf(path)) {
        QTreeWidgetItem* child = newFolder(joined(path, name), name);
        if (look && !hasSubfolders(joined(path, name)))
            child->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
        children.append(child);
    }
    item->addChildren(children);
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

bool FolderBrowserDialog::stillThere(const QTreeWidgetItem* item) const
{
    // Drives and the root are not listed from a folder.
    const QTreeWidgetItem* parent = item->parent();
    if (!parent || textOf(parent->data(0, PathRole)).empty())
        return true;
    return isSubfolder(textOf(parent->data(0, PathRole)), textOf(item->data(0, NameRole)));
}

void FolderBrowserDialog::accept()
{
    // A folder gone or replaced by a link since it was listed is not handed back: its item
    // goes, and its parent is selected instead.
    QTreeWidgetItem* item = m_tree->currentItem();
    if (item && !stillThere(item)) {
        QTreeWidgetItem* parent = item->parent();
        delete item;
        m_tree->setCurrentItem(parent);
        return;
    }
    QDialog::accept();
}

QTreeWidgetItem* FolderBrowserDialog::childNamed(QTreeWidgetItem* item, const std::string& name)
{
    fill(item);
    // Windows names ignore case, Linux names do not: the exact name first.
    QTreeWidgetItem* caseless = nullptr;
    for (int i = 0; i < item->childCount(); ++i) {
        QTreeWidgetItem* child = item->child(i);
        const std::string childName = textOf(child->data(0, NameRole));
        if (childName == name)
            return child;
        if (!caseless && platform::equalsIgnoringCase(childName, name))
            caseless = child;
    }
    return caseless;
}

bool FolderBrowserDialog::selectPath(const std::string& path)
{
    const auto target = split(path);
    if (!target)
        return false;
    QTreeWidgetItem* item = m_root;
    std::size_t next = 0;
    const std::string rootPath = textOf(m_root->data(0, PathRole));
    if (rootPath.empty()) {
        item = childNamed(m_root, std::string{target->letter, ':'});
    } else {
        const auto root = split(rootPath);
        if (!root || root->letter != target->letter || root->parts.size() > target->parts.size())
            return false;
        for (; next < root->parts.size(); ++next) {
            if (!platform::equalsIgnoringCase(root->parts[next], target->parts[next]))
                return false;
        }
    }
    for (; item && next < target->parts.size(); ++next)
        item = childNamed(item, target->parts[next]);
    if (!item)
        return false;
    for (QTreeWidgetItem* parent = item->parent(); parent; parent = parent->parent())
        parent->setExpanded(true);
    m_tree->setCurrentItem(item);
    m_tree->scrollToItem(item);
    return true;
}

void FolderBrowserDialog::setStatusText(const std::string& text)
{
    if (m_status)
        m_status->setText(shown(text));
}

platform::LPITEMIDLIST FolderBrowserDialog::chosen(std::string& displayName) const
{
    const QTreeWidgetItem* item = m_tree->currentItem() ? m_tree->currentItem() : m_root;
    const std::string name = textOf(item->data(0, NameRole));
    displayName = name.empty() ? item->text(0).toStdString() : name;
    return std::make_unique<ITEMIDLIST>(ITEMIDLIST{textOf(item->data(0, PathRole))});
}

void FolderBrowserDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_initialized)
        return;
    m_initialized = true;
    // Once the loop runs: the callback may steer the dialog, or close it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            const unsigned changes = m_selectionChanges;
            notify(platform::BFFM_INITIALIZED, nullptr);
            // The first selection is reported too, unless the callback made another.
            if (m_selectionChanges == changes)
                selectionChanged(m_tree->currentItem());
        },
        Qt::QueuedConnection);
}

void FolderBrowserDialog::selectionChanged(QTreeWidgetItem* current)
{
    ++m_selectionChanges;
    const ITEMIDLIST item{current ? textOf(current->data(0, PathRole)) : std::string()};
    m_ok->setEnabled(current && (!m_onlyFileSystem || !item.path.empty()));
    notify(platform::BFFM_SELCHANGED, &item);
}

void FolderBrowserDialog::notify(unsigned message, const ITEMIDLIST* item)
{
    if (m_callback)
        guarded([&] { m_callback(m_handle, message, item, m_data); });
}

platform::LPITEMIDLIST FolderBrowser::browse(platform::BROWSEINFOA& info)
{
    FolderBrowserDialog dialog(info, widgetOf(info.hwndOwner));
    m_open.push_back(&dialog);
    const auto closed = qScopeGuard([this] { m_open.pop_back(); });
    if (dialog.exec() != QDialog::Accepted)
        return nullptr;
    return dialog.chosen(info.pszDisplayName);
}

std::intptr_t FolderBrowser::sendMessage(platform::HWND window, unsigned message,
                                         std::uintptr_t wParam, const std::string& lParam)
{
    const auto open = std::find_if(m_open.begin(), m_open.end(),
                                   [window](auto* dialog) { return dialog->handle() == window; });
    if (open == m_open.end())
        return 0;
    switch (message) {
    case platform::BFFM_SETSELECTIONA:
        // A zero wParam means an item list, which a text cannot carry.
        return wParam != 0 && (*open)->selectPath(lParam);
    case platform::BFFM_SETSTATUSTEXTA:
        (*open)->setStatusText(lParam);
        return 0;
    default:
        return 0;
    }
}

void installFolderBrowser()
{
    platform::Service<platform::FolderBrowser>::install(std::make_unique<FolderBrowser>());
}

} // namespace runtime
