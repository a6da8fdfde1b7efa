#pragma once

#include "platform/core/Descriptor.h"

#include <string>

namespace platform {

// Holds a write lease on a regular file open for reading while it is moved: the kernel
// grants none while another process has the file open or mapped. A break of the lease
// by someone opening the file meanwhile must not end the program, so SIGIO is ignored
// from the first lease on: nothing in the program uses it, and a program it starts gets
// every signal back as the system sets it.
class FileLease
{
public:
    explicit FileLease(int fd);
    ~FileLease();
    FileLease(const FileLease&) = delete;
    FileLease& operator=(const FileLease&) = delete;

    // 0 when held, or when the filesystem grants no leases (EINVAL: nothing to check with);
    // EAGAIN when the file is in use, EACCES when the user may not take one.
    int error() const { return m_error; }
    bool held() const { return m_held; }
    // Closes the file, which gives the lease back with it.
    void closeWith(OwnedFd& file);

private:
    int m_fd;
    int m_error = 0;
    bool m_held = false;
};

// Whether another process has the regular file at the absolute native path open or mapped,
// asked as a move asks it: a write lease taken and given back at once. Reads nothing of the
// file and changes nothing. False for what cannot be opened or takes no lease (then a move
// cannot tell either).
bool fileInUse(const std::string& nativePath);

} // namespace platform
