// A file written through the library's writer, for the tool's commands: codecs picked by index or
// name, frames handed over in the format the writer's graph took; failures become Failures
// naming the file.
#pragma once

#include <functional>
#include <string>

#include "Commands.h"
#include "ombrix/OmbrixWriter.h"
#include "platform/image/Picture.h"

class Output {
public:
    Output();
    Output(const Output&) = delete;

    OmbrixWriter& Writer() { return m_Writer; }
    // An entry by index or by name (any case); UsageError listing the entries otherwise.
    void SelectVideoCodec(const std::string& which);
    void SelectAudioCodec(const std::string& which);

    void Open(const std::string& path, Ombrix_FileInfo info);
    // The frame format the writer takes.
    FrameFormat Format() const { return m_Format; }
    // Fills the next frame's buffer, in Format(), and hands it on.
    void PutFrame(const std::function<void(uint8_t*)>& fill);
    void PutAudio(const void* data, unsigned int count);
    void Close();

private:
    unsigned int Find(const std::string& which, unsigned int count, char* (OmbrixWriter::*name)(unsigned int),
                      const char* kind);

    OmbrixWriter m_Writer;
    std::string m_Path;
    FrameFormat m_Format{};
};
