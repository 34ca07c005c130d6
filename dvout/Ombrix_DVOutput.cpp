#include "ombrix/Ombrix_DVOutput.h"

#include <new>

#include "Ombrix_DVOutput_Data.h"

Ombrix_DVOutput::Ombrix_DVOutput(bool pal, bool audio, GUID* encoderClsid)
    : Data(new (std::nothrow) Ombrix_DVOutput_Data(pal, audio, encoderClsid ? *encoderClsid : CLSID_DVVideoEnc))
{
}

Ombrix_DVOutput::~Ombrix_DVOutput() { delete Data; }

bool Ombrix_DVOutput::Error() { return !Data || Data->Failed; }

Ombrix_FileInfo& Ombrix_DVOutput::GetInfo()
{
    // An output that could not even be made describes nothing.
    static Ombrix_FileInfo none;
    return Data ? Data->Info : none = Ombrix_FileInfo();
}

unsigned char* Ombrix_DVOutput::AllocateVideoBuffer() { return Data ? Data->AllocateVideoBuffer() : nullptr; }

void Ombrix_DVOutput::ReleaseVideoBuffer(unsigned char* buffer)
{
    if (Data)
        Data->ReleaseVideoBuffer(buffer);
}

bool Ombrix_DVOutput::AddAudioSamples(void* samples, unsigned int count)
{
    return Data ? Data->AddAudioSamples(samples, count) : true;
}
