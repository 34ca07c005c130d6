// IUnknown and the counted base that objects and their interfaces share.
#pragma once

#include <atomic>

#include "Guid.h"
#include "Guids.h"

#define STDMETHODCALLTYPE
#define STDMETHOD(name) virtual HRESULT name
#define STDMETHOD_(type, name) virtual type name

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

// The object's own IUnknown, which never forwards.
struct INonDelegatingUnknown {
    virtual HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG NonDelegatingAddRef() = 0;
    virtual ULONG NonDelegatingRelease() = 0;

protected:
    ~INonDelegatingUnknown() = default;
};

// A reference-counted object, aggregatable: its IUnknown calls go to the outer object when it
// has one, otherwise to itself. It starts with no reference; it deletes itself when the last goes.
class CUnknown : public INonDelegatingUnknown {
public:
    CUnknown(const char* name, IUnknown* outer);
    virtual ~CUnknown() = default;
    CUnknown(const CUnknown&) = delete;
    CUnknown& operator=(const CUnknown&) = delete;

    // Answers IUnknown with the object itself; derived classes add theirs and fall back here.
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

    IUnknown* GetOwner() const { return m_pUnknown; }
    // The object's own IUnknown, as an aggregating object holds it.
    IUnknown* GetInner() { return &m_Inner; }

protected:
    std::atomic<LONG> m_cRef{0};

private:
    struct Inner final : IUnknown {
        explicit Inner(CUnknown* self) : m_Self(self) {}
        HRESULT QueryInterface(REFIID iid, void** object) override
        {
            return m_Self->NonDelegatingQueryInterface(iid, object);
        }
        ULONG AddRef() override { return m_Self->NonDelegatingAddRef(); }
        ULONG Release() override { return m_Self->NonDelegatingRelease(); }
        CUnknown* const m_Self;
    };
    Inner m_Inner{this};
    IUnknown* const m_pUnknown;  // the outer object, or m_Inner
};

// Hands out an interface of an object: adds a reference and stores it.
template <class Interface>
HRESULT GetInterface(Interface* pointer, void** object)
{
    if (!object)
        return E_POINTER;
    *object = pointer;
    static_cast<IUnknown*>(pointer)->AddRef();
    return S_OK;
}

// The IUnknown members of a class deriving from CUnknown and one or more interfaces: all of them
// go to the owner.
#define DECLARE_IUNKNOWN                                                                               \
    HRESULT QueryInterface(REFIID iid, void** object) override                                        \
    {                                                                                                  \
        return GetOwner()->QueryInterface(iid, object);                                               \
    }                                                                                                  \
    ULONG AddRef() override { return GetOwner()->AddRef(); }                                           \
    ULONG Release() override { return GetOwner()->Release(); }

// Releases a held interface pointer and clears it.
template <class Interface>
void SafeRelease(Interface*& pointer)
{
    if (pointer) {
        pointer->Release();
        pointer = nullptr;
    }
}
