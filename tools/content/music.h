#pragma once
// The show's music: a piece of about 141 seconds composed here and rendered by the small
// synthesizer in synth_dsp.h, normalised to a steady loudness and encoded as an mp3 with LAME.
//
// Its shape follows the picture: a quiet pad opening that the motif enters at 4 s; a cadence
// that lands at 28 s, when the first stroke begins to fade, and thins out; a calmer middle with
// a plucked arpeggio and a soft bass; a swell from 80 s while the late broad strokes grow, at
// its fullest around 115-125 s; a resolution to D major at 132 s and a fade that has died away
// by 140.5 s, when the show is over.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace content {

const int kMusicRate = 44100;
const double kMusicSeconds = 141.0;
const double kMusicLoudness = -16.0;  // LUFS, integrated
const double kMusicCeilingDb = -1.8;  // dBFS, sample peak of the rendered signal

// Interleaved stereo samples (left, right, ...) at kMusicRate, kMusicSeconds long, already
// normalised. The seed varies the arpeggio figures, the touch of every note and the brush
// noises; the composition itself is fixed. The same seed gives the same samples everywhere.
std::vector<float> renderMusic(uint32_t seed, int* rate = nullptr);

// LAME, 44.1 kHz joint stereo, VBR quality 2, with the LAME tag (gapless length) in the first
// frame and no ID3 tag. False with a reason in *error if the encoder refuses.
bool encodeMp3(const std::vector<float>& interleaved, int rate, std::vector<uint8_t>* mp3,
               std::string* error);

// renderMusic + encodeMp3, written under a temporary name and renamed into place, so a failure
// never leaves a partial file at `path`. False with a one-line reason in *error.
bool writeMusic(const std::string& path, uint32_t seed, std::string* error);

// Integrated loudness in LUFS (K-weighted, 400 ms blocks overlapping by 75 %, absolute gate at
// -70 LUFS and relative gate 10 LU below the ungated mean) of `frames` interleaved stereo
// frames. Returns -200 when nothing passes the gates.
double integratedLoudness(const float* interleaved, size_t frames, int rate);

}  // namespace content
