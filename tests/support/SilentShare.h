#pragma once

#include <string>

namespace test {

// A FUSE filesystem whose server never answers, mounted on a folder in a mount namespace
// of the test process's own: it stands for a network share that stopped answering. Every
// call on it waits until the share goes. Mounting needs root; without the right, or
// without FUSE, mounted() is false.
class SilentShare
{
public:
    explicit SilentShare(const std::string& folder);
    ~SilentShare();
    SilentShare(const SilentShare&) = delete;
    SilentShare& operator=(const SilentShare&) = delete;

    bool mounted() const { return m_mounted; }

private:
    std::string m_folder;
    int m_fuse = -1;
    bool m_mounted = false;
};

} // namespace test
