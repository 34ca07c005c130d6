// The host's side of a push source, as the writer and the DV output both drive it: a frame drawn
// into the graph's own buffer, and PCM copied into as many samples as it needs, each stamped from
// the running counts of the stream's description.
#pragma once

#include "DirectShowOutput.h"
#include "ombrix/Ombrix_FileInfo.h"

// The buffer of the sample the source offers next, waiting for it; null when none comes.
unsigned char* WaitForVideoBuffer(DirectShowOutput* source);
// Stamps the held sample as frame info.NumFrames (rate and scale of info) and sends it; info
// counts it and ends its video there.
void SendVideoFrame(DirectShowOutput* source, Ombrix_FileInfo& info);
// Sends count sample frames of info's format, stamped from info.NumSamples, which counts those
// sent. When no sample is offered it looks again up to emptyWaits times, 100 ms apart; then false.
bool SendAudioSamples(DirectShowOutput* source, Ombrix_FileInfo& info, const void* data, unsigned int count,
                      int emptyWaits);
