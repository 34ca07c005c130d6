#include "ombrix/OmbrixReader.h"

#include "WindowsMediaAVFile.h"

OmbrixReader::OmbrixReader(char* fileName, bool noVideo, bool noAudio, unsigned char* colorSpaces,
                           unsigned int colorSpaceCount, unsigned int dvScale)
    : m_GraphReader(nullptr), m_bError(true)
{
    m_GraphReader = new WindowsMediaAVFile(fileName, noVideo, noAudio, colorSpaces, colorSpaceCount, dvScale);
    if (m_GraphReader->Error()) {
        delete m_GraphReader;
        m_GraphReader = nullptr;
        return;
    }
    m_bError = false;
    m_Info = m_GraphReader->GetInfo();
}

OmbrixReader::~OmbrixReader()
{
    delete m_GraphReader;
    m_GraphReader = nullptr;
}

bool OmbrixReader::Error() { return m_bError; }

Ombrix_FileInfo& OmbrixReader::GetInfo() { return m_Info; }

char* OmbrixReader::GetFileName() { return m_GraphReader ? m_GraphReader->GetFileName() : nullptr; }

unsigned char* OmbrixReader::LoadVideoFrame(long long frame, long long rate, long long scale, bool)
{
    AddStart();
    if (!m_GraphReader) {
        ReleaseStart();
        return nullptr;
    }
    unsigned char* result = m_GraphReader->LoadVideoFrame(frame, rate, scale);
    if (!result)
        ReleaseStart();
    return result;
}

void OmbrixReader::ReleaseVideoFrame(unsigned char* frame)
{
    if (m_GraphReader)
        m_GraphReader->ReleaseVideoFrame(frame);
    if (frame)
        ReleaseStart();
}

bool OmbrixReader::LoadAudioSamples(void* buffer, unsigned int start, unsigned int count, bool)
{
    AddStart();
    const bool result = m_GraphReader && m_GraphReader->LoadAudioSamples(buffer, start, count);
    ReleaseStart();
    return result;
}

void OmbrixReader::AddStart()
{
    if (m_GraphReader)
        m_GraphReader->AddStart();
}

void OmbrixReader::ReleaseStart()
{
    if (m_GraphReader)
        m_GraphReader->ReleaseStart();
}
