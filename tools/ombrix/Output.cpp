#include "Output.h"

#include <strings.h>

#include <cerrno>
#include <cstring>

#include "Arguments.h"

Output::Output() = default;

unsigned int Output::Find(const std::string& which, unsigned int count, char* (OmbrixWriter::*name)(unsigned int),
                          const char* kind)
{
    if (!which.empty() && which.find_first_not_of("0123456789") == std::string::npos)
        return (unsigned int)Number(which, kind, 0, count - 1);
    std::string known;
    for (unsigned int i = 0; i < count; i++) {
        const char* entry = (m_Writer.*name)(i);
        if (strcasecmp(entry, which.c_str()) == 0)
            return i;
        known += "\n  " + std::to_string(i) + " " + entry;
    }
    throw UsageError("no " + std::string(kind) + " named '" + which + "'; there are:" + known);
}

void Output::SelectVideoCodec(const std::string& which)
{
    m_Writer.SelectVideoCodec(Find(which, m_Writer.GetNoVideoCodecs(), &OmbrixWriter::GetVideoCodecName, "video codec"));
}

void Output::SelectAudioCodec(const std::string& which)
{
    m_Writer.SelectAudioCodec(Find(which, m_Writer.GetNoAudioCodecs(), &OmbrixWriter::GetAudioCodecName, "audio codec"));
}

void Output::Open(const std::string& path, Ombrix_FileInfo info)
{
    m_Path = path;
    if (!m_Writer.OpenFile(const_cast<char*>(path.c_str()), &info))
        throw Failure(path + ": cannot be written with " +
                      (info.HasVideo ? "video codec '" + std::string(m_Writer.GetVideoCodecName(m_Writer.GetVideoCodec())) + "'"
                                     : std::string("no video")) +
                      " and " +
                      (info.HasAudio ? "audio codec '" + std::string(m_Writer.GetAudioCodecName(m_Writer.GetAudioCodec())) + "'"
                                     : std::string("no audio")));
    const Ombrix_FileInfo taken = m_Writer.GetWritingInfo();
    m_Format = {taken.ColorSpace, taken.Width, taken.Height, taken.BottomUp};
}

void Output::PutFrame(const std::function<void(uint8_t*)>& fill)
{
    unsigned char* buffer = m_Writer.AllocateVideoBuffer();
    if (!buffer)
        throw Failure(m_Path + ": the writer takes no more frames");
    fill(buffer);
    m_Writer.ReleaseVideoBuffer(buffer);
}

void Output::PutAudio(const void* data, unsigned int count)
{
    if (!m_Writer.AddAudioSamples(const_cast<void*>(data), count))
        throw Failure(m_Path + ": the writer takes no more audio");
}

void Output::Close() { m_Writer.CloseFile(); }
