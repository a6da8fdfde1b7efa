#include "platform/core/PathText.h"
#include "platform/drives/Drives.h"
#include "platform/shell/PosixShell.h"

#include <cctype>
#include <cstdlib>
#include <gio/gio.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Any value above 32 means found.
constexpr std::uintptr_t programFound = 33;

struct GObjectRelease
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct GMemoryRelease
{
    void operator()(gpointer memory) const { g_free(memory); }
};
template <class T> using GObjectPtr = std::unique_ptr<T, GObjectRelease>;
using GText = std::unique_ptr<gchar, GMemoryRelease>;

std::string withSlashes(std::string path)
{
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

std::string currentFolder()
{
    std::unique_ptr<char, decltype(&std::free)> folder(::getcwd(nullptr, 0), &std::free);
    return folder ? std::string(folder.get()) : std::string();
}

} // namespace

std::uintptr_t PosixShell::findExecutable(const std::string& file, const std::string& directory,
                                          std::string& program)
{
    program.clear();
    if (file.empty())
        return SE_ERR_FNF;
    std::string path;
    if (hasDriveLetter(file)) {
        path = toNativePath(file);
    } else if (file[0] == '/') {
        path = file;
    } else {
        const std::string folder = directory.empty()           ? currentFolder()
                                   : hasDriveLetter(directory) ? toNativePath(directory)
                                                               : withSlashes(directory);
        if (folder.empty())
            return SE_ERR_PNF;
        path = folder + "/" + withSlashes(file);
    }
    struct stat status;
    if (path.empty() || ::stat(path.c_str(), &status) != 0)
        return SE_ERR_FNF;

    // The type the desktop sees: from the name and, where that is unsure, the content.
    GObjectPtr<GFile> document(g_file_new_for_path(path.c_str()));
    GObjectPtr<GFileInfo> info(g_file_query_info(document.get(),
                                                 G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                                 G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
    const char* type = info ? g_file_info_get_content_type(info.get()) : nullptr;
    GText guessed;
    if (!type) {
        guessed.reset(g_content_type_guess(path.c_str(), nullptr, 0, nullptr));
        type = guessed.get();
    }
    if (!type)
        return SE_ERR_NOASSOC;

    GObjectPtr<GAppInfo> application(g_app_info_get_default_for_type(type, FALSE));
    const char* executable = application ? g_app_info_get_executable(application.get()) : nullptr;
    GText resolved(executable ? g_find_program_in_path(executable) : nullptr);
    if (!resolved)
        return SE_ERR_NOASSOC;
    program = resolved.get();
    return programFound;
}

} // namespace platform
