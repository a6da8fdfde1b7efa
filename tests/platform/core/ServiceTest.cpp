#include "platform/core/Service.h"

#include <gtest/gtest.h>
#include <memory>

using platform::ScopedService;
using platform::Service;

namespace {

class Probe
{
public:
    explicit Probe(bool* destroyed = nullptr) : m_destroyed(destroyed) {}
    virtual ~Probe()
    {
        if (m_destroyed)
            *m_destroyed = true;
    }
    static std::unique_ptr<Probe> createDefault()
    {
        ++defaultsMade;
        return std::make_unique<Probe>();
    }
    static inline int defaultsMade = 0;

private:
    bool* m_destroyed;
};

TEST(ServiceTest, InstallBuildsNoDefaultAndLeavesTheGuardNoFreedImplementation)
{
    bool firstDestroyed = false;
    Service<Probe>::install(std::make_unique<Probe>(&firstDestroyed));
    auto second = std::make_unique<Probe>();
    Probe* expected = second.get();
    Probe fake;
    {
        ScopedService<Probe> scope(fake);
        Service<Probe>::install(std::move(second));
        EXPECT_TRUE(firstDestroyed);
        // The fake stays in front until its scope ends.
        EXPECT_EQ(&Service<Probe>::instance(), &fake);
    }
    EXPECT_EQ(&Service<Probe>::instance(), expected);
    EXPECT_EQ(Probe::defaultsMade, 0);
}

} // namespace
