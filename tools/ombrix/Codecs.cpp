// `ombrix codecs`: the writer's video and audio entries with the indices that select them.
#include <cstdio>

#include "Commands.h"
#include "Output.h"

int RunCodecs(int argc, char**)
{
    if (argc != 0)
        throw UsageError("codecs takes no arguments");
    Output output;
    OmbrixWriter& writer = output.Writer();
    printf("video codecs:\n");
    for (unsigned int i = 0; i < writer.GetNoVideoCodecs(); i++)
        printf("  %2u  %s\n", i, writer.GetVideoCodecName(i));
    printf("audio codecs:\n");
    for (unsigned int i = 0; i < writer.GetNoAudioCodecs(); i++)
        printf("  %2u  %s\n", i, writer.GetAudioCodecName(i));
    return 0;
}
