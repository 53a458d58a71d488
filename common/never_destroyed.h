#pragma once
// An object built in place at start-up and never destroyed: for a global
// that other threads may still call through while the process ends, after
// static destructors have run.
#include <new>
#include <type_traits>
#include <utility>

template <typename T>
class CNeverDestroyed {
public:
    template <typename... Args>
    explicit CNeverDestroyed(Args&&... args)
    {
        new (m_storage) T(std::forward<Args>(args)...);
    }
    CNeverDestroyed(const CNeverDestroyed&) = delete;
    CNeverDestroyed& operator=(const CNeverDestroyed&) = delete;

    T& Get() { return *std::launder(reinterpret_cast<T*>(m_storage)); }

private:
    alignas(T) unsigned char m_storage[sizeof(T)];
};
