// A counted reference to a COM interface, released when it goes.
#pragma once

#include <utility>

#include "Unknown.h"

template <class T>
class ComRef {
public:
    ComRef() = default;
    // Takes a reference of its own on `pointer`.
    explicit ComRef(T* pointer) : m_p(pointer)
    {
        if (m_p)
            m_p->AddRef();
    }
    ComRef(const ComRef& other) : ComRef(other.m_p) {}
    ComRef(ComRef&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ComRef& operator=(ComRef other) noexcept
    {
        std::swap(m_p, other.m_p);
        return *this;
    }
    ~ComRef()
    {
        if (m_p)
            m_p->Release();
    }

    // Takes over a reference the caller already holds, as an out parameter hands it.
    static ComRef Adopt(T* pointer)
    {
        ComRef result;
        result.m_p = pointer;
        return result;
    }

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For a call that hands out a reference: the one held so far is dropped first.
    T** out()
    {
        *this = ComRef();
        return &m_p;
    }
    // Hands the reference to the caller.
    T* detach() { return std::exchange(m_p, nullptr); }

private:
    T* m_p = nullptr;
};

// The object's `iid` interface, or an empty reference when it has none.
template <class T>
ComRef<T> QueryRef(IUnknown* object, REFIID iid)
{
    void* pointer = nullptr;
    if (object && SUCCEEDED(object->QueryInterface(iid, &pointer)))
        return ComRef<T>::Adopt(static_cast<T*>(pointer));
    return {};
}
