#include "runtime/ApplicationInfo.h"

#include "platform/system/System.h"

#include <QCoreApplication>

namespace runtime {

std::string applicationTitle()
{
    if (QCoreApplication::instance()) {
        const QString name = QCoreApplication::applicationName();
        if (!name.isEmpty())
            return name.toStdString();
    }
    std::string file = platform::GetModuleFileNameA();
    file = file.substr(file.find_last_of("\\/") + 1);
    const auto dot = file.rfind('.');
    if (dot != std::string::npos && dot > 0)
        file.resize(dot);
    return file;
}

} // namespace runtime
