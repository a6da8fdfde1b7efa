#pragma once

#include "platform/core/Service.h"

namespace test {

// A fake that stands in for the real service from its construction to its destruction.
template <class Fake, class Interface = typename Fake::Interface> struct ScopedFake : Fake
{
    using Fake::Fake;
    platform::ScopedService<Interface> guard{*this};
};

} // namespace test
