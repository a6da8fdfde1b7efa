#include "platform/shell/TrashObserver.h"

namespace platform {

namespace {

TrashObserver*& installed()
{
    static TrashObserver* current = nullptr;
    return current;
}

} // namespace

ObservedTrash::ObservedTrash(TrashObserver& observer) : m_previous(installed())
{
    installed() = &observer;
}

ObservedTrash::~ObservedTrash()
{
    installed() = m_previous;
}

TrashObserver* trashObserver()
{
    return installed();
}

} // namespace platform
