#include "PcmConverter.h"

PcmConverter::PcmConverter(AVSampleFormat format, int channels) : m_Format(format), m_Channels(channels) {}

PcmConverter::~PcmConverter() { av_channel_layout_uninit(&m_InputLayout); }

// The frames' own channel layout is kept when the channel count matches, so that channels are
// copied in their order; otherwise they are mixed to the default layout of the destination's count.
bool PcmConverter::Configure(const AVFrame* frame)
{
    if (m_Swr && frame->format == m_InputFormat && frame->sample_rate == m_Rate &&
        av_channel_layout_compare(&frame->ch_layout, &m_InputLayout) == 0)
        return true;
    m_Swr.reset();
    av_channel_layout_uninit(&m_InputLayout);
    AVChannelLayout output = {};
    if (frame->ch_layout.nb_channels == m_Channels) {
        if (av_channel_layout_copy(&output, &frame->ch_layout) < 0)
            return false;
    } else {
        av_channel_layout_default(&output, m_Channels);
    }
    SwrContext* swr = nullptr;
    AVChannelLayout input = frame->ch_layout;  // swr_alloc_set_opts2 takes it writable, and only reads it
    int result = swr_alloc_set_opts2(&swr, &output, m_Format, frame->sample_rate, &input,
                                     (AVSampleFormat)frame->format, frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&output);
    m_Swr.reset(swr);
    if (result < 0 || swr_init(swr) < 0 || av_channel_layout_copy(&m_InputLayout, &frame->ch_layout) < 0) {
        m_Swr.reset();
        return false;
    }
    m_InputFormat = (AVSampleFormat)frame->format;
    m_Rate = frame->sample_rate;
    return true;
}

int PcmConverter::Convert(const AVFrame* frame, uint8_t* destination)
{
    if (frame->nb_samples <= 0 || !Configure(frame))
        return 0;
    uint8_t* planes[1] = {destination};
    int written = swr_convert(m_Swr.get(), planes, frame->nb_samples, (const uint8_t**)frame->extended_data,
                              frame->nb_samples);
    return written > 0 ? written : 0;
}
