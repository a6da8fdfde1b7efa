#pragma once

#include "platform/core/Service.h"

#include <gtest/gtest.h>

namespace test {

// A fake that stands in for the real service from its construction to its destruction.
template <class Fake, class Interface = typename Fake::Interface> struct ScopedFake : Fake
{
    using Fake::Fake;
    platform::ScopedService<Interface> guard{*this};
};

// A fixture whose one fake stands in for the service through each case.
template <class Fake> class FakeFixture : public ::testing::Test
{
protected:
    ScopedFake<Fake> fake;
};

} // namespace test
