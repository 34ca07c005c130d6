#include "KeyFrames.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// The parsers that read each picture's type (MPEG-1/2 and MPEG-4 part 2) or its key-frame mark
// (H.264: an IDR picture or a recovery point).
bool ParserTellsKeys(AVCodecID id)
{
    return id == AV_CODEC_ID_MPEG4 || id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_MPEG1VIDEO ||
           id == AV_CODEC_ID_MPEG2VIDEO;
}

}  // namespace

KeyFrames::KeyFrames(const BITMAPINFOHEADER* format, DWORD size)
{
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    const AVCodecID id = av_codec_get_id(tables, format->biCompression);
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(id);
    if (descriptor && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY)) {
        m_Rule = Rule::Every;
        return;
    }
    if (!ParserTellsKeys(id))
        return;
    AvCodecContextPtr codec(avcodec_alloc_context3(nullptr));
    AvParserPtr parser(av_parser_init(id));
    if (!codec || !parser)
        return;
    codec->codec_type = AVMEDIA_TYPE_VIDEO;
    codec->codec_id = id;
    codec->codec_tag = format->biCompression;
    codec->width = format->biWidth;
    codec->height = std::abs(format->biHeight);
    if (size > sizeof *format) {
        const DWORD extra = size - sizeof *format;
        codec->extradata = (uint8_t*)av_mallocz(extra + AV_INPUT_BUFFER_PADDING_SIZE);
        if (!codec->extradata)
            return;
        memcpy(codec->extradata, format + 1, extra);
        codec->extradata_size = (int)extra;
    }
    // Each chunk is one whole picture: the parser reads its headers instead of looking for its end.
    parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    m_Codec = std::move(codec);
    m_Parser = std::move(parser);
    m_Padded.resize(HeadLimit + AV_INPUT_BUFFER_PADDING_SIZE);
    m_Rule = Rule::Parser;
}

bool KeyFrames::IsKey(const unsigned char* head, DWORD size)
{
    if (size == 0)
        return false;
    const bool first = !m_PictureSeen;
    m_PictureSeen = true;
    if (m_Rule == Rule::Every)
        return true;
    if (m_Rule == Rule::FirstOnly)
        return first;
    const DWORD length = std::min(size, HeadLimit);
    memcpy(m_Padded.data(), head, length);
    memset(m_Padded.data() + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    // A parser leaves both untouched for a chunk it cannot read: that chunk is no key frame.
    m_Parser->pict_type = AV_PICTURE_TYPE_NONE;
    m_Parser->key_frame = -1;
    uint8_t* picture = nullptr;
    int pictureSize = 0;
    av_parser_parse2(m_Parser.get(), m_Codec.get(), &picture, &pictureSize, m_Padded.data(), (int)length,
                     AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    // libavformat's rule for the packets it marks.
    return m_Parser->key_frame == 1 || (m_Parser->key_frame == -1 && m_Parser->pict_type == AV_PICTURE_TYPE_I);
}
