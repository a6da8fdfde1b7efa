#pragma once

#include "platform/drives/MountTable.h"
#include "platform/files/Files.h"

#include <cstddef>
#include <functional>
#include <memory>

namespace platform {

// The folder search over a Linux filesystem (see Files.h for what it promises).
class PosixFiles : public FileService
{
public:
    // The mount table as it is now, on the first call and whenever it changed since the
    // last; null otherwise. The default watches the running system's table.
    using MountSource = std::function<std::shared_ptr<const MountTable>()>;

    explicit PosixFiles(MountSource mounts = {});
    ~PosixFiles() override;
    PosixFiles(const PosixFiles&) = delete;
    PosixFiles& operator=(const PosixFiles&) = delete;

    HANDLE findFirst(const std::string& pattern, WIN32_FIND_DATAA& data, unsigned flags) override;
    bool findNext(HANDLE search, WIN32_FIND_DATAA& data) override;
    bool findDetails(HANDLE search, WIN32_FIND_DATAA& data) override;
    bool findClose(HANDLE search) override;

    // How many folders of open searches keep their descriptor for searches of their
    // subfolders (at least 2); the others are opened again from their parents when
    // needed. The default is a small share of the open-file limit.
    void setOpenFolderBudget(std::size_t budget);
    // Folder descriptors held at the moment.
    std::size_t openFolderCount() const;

private:
    class Impl;
    std::unique_ptr<Impl> d;
};

} // namespace platform
