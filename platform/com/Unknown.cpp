#include "Unknown.h"

CUnknown::CUnknown(const char*, IUnknown* outer) : m_pUnknown(outer ? outer : &m_Inner) {}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown)
        return GetInterface(&m_Inner, object);
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() { return ULONG(++m_cRef); }

ULONG CUnknown::NonDelegatingRelease()
{
    const LONG count = --m_cRef;
    if (count == 0) {
        // A reference taken and dropped while the destructor runs must not delete again.
        m_cRef = 1;
        delete this;
        return 0;
    }
    return ULONG(count > 1 ? count : 1);
}
