#include "FileSinkName.h"

#include "FileName.h"
#include "platform/dshow/BasePin.h"

HRESULT FileSinkName::Check(LPCOLESTR fileName)
{
    if (!fileName)
        return E_POINTER;
    const std::string path = NarrowFileName(fileName);
    return path.empty() ? E_INVALIDARG : CheckWritable(path);
}

void FileSinkName::Take(LPCOLESTR fileName, const AM_MEDIA_TYPE* type)
{
    m_FileName = fileName;
    if (type)
        m_Type = *type;
    else
        m_Type.InitMediaType();
}

HRESULT FileSinkName::Get(LPOLESTR* fileName, AM_MEDIA_TYPE* type) const
{
    if (!fileName)
        return E_POINTER;
    *fileName = nullptr;
    if (type && FAILED(CopyMediaType(type, &m_Type)))
        return E_OUTOFMEMORY;
    return m_FileName.empty() ? S_OK : AMGetWideString(m_FileName.c_str(), fileName);
}

std::string FileSinkName::Path() const { return NarrowFileName(m_FileName.c_str()); }
