#include "ombrix/OmbrixWriter.h"

#include <new>

#include "Ombrix_FileWriter.h"

namespace {

char AviExtension[] = ".avi";
char WmvExtension[] = ".wmv";
char WmaExtension[] = ".wma";

}  // namespace

OmbrixWriter::OmbrixWriter() : Writer(new (std::nothrow) Ombrix_FileWriter)
{
    if (!Writer)
        throw "Could not create the file writer";
}

OmbrixWriter::~OmbrixWriter()
{
    if (Writer && Writer->ReleaseUser())
        delete Writer;
}

OmbrixWriter& OmbrixWriter::operator=(const OmbrixWriter& other)
{
    other.Writer->AddUser();
    if (Writer->ReleaseUser())
        delete Writer;
    Writer = other.Writer;
    return *this;
}

void OmbrixWriter::SelectVideoCodec(unsigned int index) { Writer->VideoCodec = index; }

void OmbrixWriter::SelectAudioCodec(unsigned int index) { Writer->AudioCodec = index; }

unsigned int OmbrixWriter::GetVideoCodec() { return Writer->VideoCodec; }

unsigned int OmbrixWriter::GetAudioCodec() { return Writer->AudioCodec; }

unsigned int OmbrixWriter::GetNoVideoCodecs() { return Writer->VideoCodecCount; }

unsigned int OmbrixWriter::GetNoAudioCodecs() { return Writer->AudioCodecCount; }

char* OmbrixWriter::GetVideoCodecName(unsigned int index) { return Writer->VideoCodecNames[index]; }

char* OmbrixWriter::GetAudioCodecName(unsigned int index) { return Writer->AudioCodecNames[index]; }

bool OmbrixWriter::CanConfigureVideoCodec() { return Writer->CanConfigureVideoCodec(); }

void OmbrixWriter::ConfigureVideoCodec(HWND parent, char* caption) { Writer->ConfigureVideoCodec(parent, caption); }

bool OmbrixWriter::CanConfigureAudioCodec() { return Writer->CanConfigureAudioCodec(); }

void OmbrixWriter::ConfigureAudioCodec(HWND parent, char* caption) { Writer->ConfigureAudioCodec(parent, caption); }

void OmbrixWriter::ConfigureMultiplexer(HWND parent, char* caption) { Writer->ConfigureMultiplexer(parent, caption); }

bool OmbrixWriter::OpenFile(char* name, Ombrix_FileInfo* info) { return Writer->OpenFile(name, info); }

void OmbrixWriter::CloseFile() { Writer->CloseFile(); }

unsigned char* OmbrixWriter::AllocateVideoBuffer() { return Writer->AllocateVideoBuffer(); }

void OmbrixWriter::ReleaseVideoBuffer(unsigned char* buffer) { Writer->ReleaseVideoBuffer(buffer); }

bool OmbrixWriter::AddAudioSamples(void* data, unsigned int count) { return Writer->AddAudioSamples(data, count); }

Ombrix_FileInfo OmbrixWriter::GetWritingInfo() { return Writer->Info; }

char* OmbrixWriter::GetPreferredFileExtension(bool video, bool audio, unsigned int videoCodec, unsigned int audioCodec)
{
    if (!video && !audio)
        return AviExtension;
    if (videoCodec == 0xFFFFFFFF)
        videoCodec = Writer->VideoCodec;
    if (audioCodec == 0xFFFFFFFF)
        audioCodec = Writer->AudioCodec;
    if (video)
        return videoCodec == 5 ? WmvExtension : AviExtension;
    return audioCodec == 1 ? WmaExtension : AviExtension;
}

char* OmbrixWriter::GetFileName() { return Writer->GetFileName(); }
