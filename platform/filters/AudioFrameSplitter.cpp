#include "AudioFrameSplitter.h"

#include "platform/com/Guid.h"

std::unique_ptr<AudioFrameSplitter> AudioFrameSplitter::ForFormatTag(WORD formatTag)
{
    const AVCodecTag* const tags[] = {avformat_get_riff_audio_tags(), nullptr};
    const AVCodecID codec = av_codec_get_id(tags, formatTag);
    if (codec != AV_CODEC_ID_MP1 && codec != AV_CODEC_ID_MP2 && codec != AV_CODEC_ID_MP3 && codec != AV_CODEC_ID_AC3)
        return nullptr;
    AvParserPtr parser(av_parser_init(codec));
    AvCodecContextPtr context(avcodec_alloc_context3(nullptr));
    if (!parser || !context)
        return nullptr;
    context->codec_type = AVMEDIA_TYPE_AUDIO;
    context->codec_id = codec;
    return std::unique_ptr<AudioFrameSplitter>(new AudioFrameSplitter(std::move(parser), std::move(context)));
}

AudioFrameSplitter::AudioFrameSplitter(AvParserPtr parser, AvCodecContextPtr context)
    : m_Parser(std::move(parser)), m_Context(std::move(context))
{
}

HRESULT AudioFrameSplitter::Feed(const BYTE* data, size_t size, const FrameSink& sink)
{
    m_Padded.assign(data, data + size);
    m_Padded.resize(size + AV_INPUT_BUFFER_PADDING_SIZE);
    for (size_t at = 0; at < size;) {
        uint8_t* frame = nullptr;
        int frameSize = 0;
        const int used = av_parser_parse2(m_Parser.get(), m_Context.get(), &frame, &frameSize, &m_Padded[at],
                                          int(size - at), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0 || (used == 0 && frameSize == 0))
            return used < 0 ? E_FAIL : S_OK;
        at += size_t(used);
        if (frameSize > 0) {
            if (m_Parser->duration > 0)
                m_FrameSamples = DWORD(m_Parser->duration);
            if (const HRESULT hr = sink(frame, DWORD(frameSize)); FAILED(hr))
                return hr;
        }
    }
    return S_OK;
}
