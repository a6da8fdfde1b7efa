#pragma once

#include <memory>

namespace platform {

template <class Interface> class ScopedService;

// The process-wide instance of one service family. The installed implementation is made
// on first use (Interface::createDefault) unless one was installed before; a test puts a
// fake in front of it for the lifetime of a ScopedService.
template <class Interface> class Service
{
public:
    static Interface& instance()
    {
        if (Interface* replacement = slot())
            return *replacement;
        std::unique_ptr<Interface>& current = installed();
        if (!current)
            current = Interface::createDefault();
        return *current;
    }

    // Replaces the implementation for the rest of the process (the runtime does this once
    // it knows which toolkit platform it runs on). Takes ownership. A fake in place stays
    // there until its scope ends.
    static void install(std::unique_ptr<Interface> implementation)
    {
        installed() = std::move(implementation);
    }

private:
    friend class ScopedService<Interface>;

    // The fake in front of the installed implementation; null when there is none. Fakes
    // nest, and none of them is owned here, so replacing the installed implementation
    // leaves no guard holding a pointer to it.
    static Interface*& slot()
    {
        static Interface* current = nullptr;
        return current;
    }

    // Empty until first use or install: building a default only to replace it could mean
    // a display connection opened for nothing.
    static std::unique_ptr<Interface>& installed()
    {
        static std::unique_ptr<Interface> current;
        return current;
    }
};

template <class Interface> class ScopedService
{
public:
    explicit ScopedService(Interface& replacement) : m_previous(Service<Interface>::slot())
    {
        Service<Interface>::slot() = &replacement;
    }
    ~ScopedService() { Service<Interface>::slot() = m_previous; }
    ScopedService(const ScopedService&) = delete;
    ScopedService& operator=(const ScopedService&) = delete;

private:
    Interface* m_previous;
};

} // namespace platform
