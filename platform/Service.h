#pragma once

#include <memory>

namespace platform {

// The process-wide instance of one service family. The POSIX implementation is created
// on first use; a test puts a fake in its place for the lifetime of a ScopedService.
template <class Interface> class Service
{
public:
    static Interface& instance()
    {
        if (!slot())
            slot() = defaultInstance().get();
        return *slot();
    }

    // Replaces the implementation for the rest of the process (the runtime does this once
    // it knows which toolkit platform it runs on). Takes ownership.
    static void install(std::unique_ptr<Interface> implementation)
    {
        defaultInstance() = std::move(implementation);
        slot() = defaultInstance().get();
    }

    static Interface*& slot()
    {
        static Interface* current = nullptr;
        return current;
    }

private:
    static std::unique_ptr<Interface>& defaultInstance()
    {
        static std::unique_ptr<Interface> instance = Interface::createDefault();
        return instance;
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
