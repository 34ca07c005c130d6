// What a file sink (IFileSinkFilter) was told to write: the name, checked when it is given, and
// the media type that came with it. The sink keeps it under its own lock.
#pragma once

#include <string>

#include "platform/dshow/MediaType.h"

class FileSinkName {
public:
    // E_POINTER without a name, E_INVALIDARG for one that cannot be converted, and the reason a
    // name cannot be written (see CheckWritable): the answer SetFileName gives before taking it.
    static HRESULT Check(LPCOLESTR fileName);
    void Take(LPCOLESTR fileName, const AM_MEDIA_TYPE* type);
    // As IFileSinkFilter::GetCurFile: a null name before one was given.
    HRESULT Get(LPOLESTR* fileName, AM_MEDIA_TYPE* type) const;
    bool Empty() const { return m_FileName.empty(); }
    // The name as libavformat and the file calls open it.
    std::string Path() const;

private:
    std::wstring m_FileName;
    CMediaType m_Type;
};
