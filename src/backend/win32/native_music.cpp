// The music player on WINMM (waveOut) and MSACM32 (the audio codec manager's mp3 decoder).
// windows.h comes first: the other platform headers build on it.
#include <windows.h>

#include <mmreg.h>
#include <mmsystem.h>
#include <msacm.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "backend/win32/music_player.h"

namespace {

bool readFile(const std::string& path, std::vector<uint8_t>* bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    long size = ok ? std::ftell(file) : -1;
    ok = ok && size >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
    if (ok) {
        bytes->resize(size_t(size));
        ok = size == 0 || std::fread(bytes->data(), 1, bytes->size(), file) == bytes->size();
    }
    std::fclose(file);
    return ok;
}

WAVEFORMATEX pcmFormat(const Mp3Stream& stream) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = WORD(stream.channels);
    format.nSamplesPerSec = stream.sampleRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = WORD(stream.channels * 2);
    format.nAvgBytesPerSec = stream.sampleRate * format.nBlockAlign;
    return format;
}

// The whole mp3 to 16-bit PCM through the codec manager. Empty when no installed codec takes
// the stream.
std::vector<uint8_t> decodeMp3(const uint8_t* data, size_t size, const Mp3Stream& stream) {
    std::vector<uint8_t> pcm;
    MPEGLAYER3WAVEFORMAT source{};
    source.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    source.wfx.nChannels = WORD(stream.channels);
    source.wfx.nSamplesPerSec = stream.sampleRate;
    source.wfx.nAvgBytesPerSec = stream.bitRate * 1000 / 8;
    source.wfx.nBlockAlign = 1;
    source.wfx.wBitsPerSample = 0;
    source.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    source.wID = MPEGLAYER3_ID_MPEG;
    source.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
    source.nBlockSize = WORD(std::min<uint32_t>(stream.frameBytes, 0xFFFF));
    source.nFramesPerBlock = 1;
    source.nCodecDelay = 1393;
    WAVEFORMATEX target = pcmFormat(stream);

    HACMSTREAM converter = nullptr;
    if (acmStreamOpen(&converter, nullptr, &source.wfx, &target, nullptr, 0, 0,
                      ACM_STREAMOPENF_NONREALTIME) != 0) {
        return pcm;
    }
    const DWORD inputBytes = 32 * 1024;
    DWORD outputBytes = 0;
    if (acmStreamSize(converter, inputBytes, &outputBytes, ACM_STREAMSIZEF_SOURCE) != 0 ||
        outputBytes == 0) {
        acmStreamClose(converter, 0);
        return pcm;
    }
    std::vector<BYTE> input(inputBytes);
    std::vector<BYTE> output(outputBytes);
    ACMSTREAMHEADER header{};
    header.cbStruct = sizeof header;
    header.pbSrc = input.data();
    header.cbSrcLength = inputBytes;
    header.pbDst = output.data();
    header.cbDstLength = outputBytes;
    if (acmStreamPrepareHeader(converter, &header, 0) != 0) {
        acmStreamClose(converter, 0);
        return pcm;
    }
    size_t position = 0;
    DWORD carried = 0;
    bool first = true;
    for (;;) {
        const DWORD take = DWORD(std::min<size_t>(inputBytes - carried, size - position));
        std::memcpy(input.data() + carried, data + position, take);
        position += take;
        header.cbSrcLength = carried + take;
        const bool last = position >= size;
        // Whole frames while more input follows; the rest flushed by the last calls.
        DWORD flags = last ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN;
        if (first) flags |= ACM_STREAMCONVERTF_START;
        first = false;
        // A decoder that gives up keeps what it decoded; the length is checked below.
        if (acmStreamConvert(converter, &header, flags) != 0) break;
        pcm.insert(pcm.end(), output.begin(), output.begin() + header.cbDstLengthUsed);
        carried = header.cbSrcLength - header.cbSrcLengthUsed;
        if (carried > 0) std::memmove(input.data(), input.data() + header.cbSrcLengthUsed, carried);
        const bool stuck = header.cbSrcLengthUsed == 0 && header.cbDstLengthUsed == 0;
        // A full output buffer may leave decoded samples inside the decoder: ask again.
        const bool outputFull = header.cbDstLengthUsed == header.cbDstLength;
        if (stuck && (last || carried == inputBytes)) break;
        if (last && carried == 0 && !outputFull) break;
    }
    header.cbSrcLength = inputBytes;
    acmStreamUnprepareHeader(converter, &header, 0);
    acmStreamClose(converter, 0);

    // The music lasts as long as its frames say, whatever the decoder's own delay: the
    // encoder's silence at the start is dropped as the frame scan counts it, and the end is cut
    // or padded with silence to that length, so the end of the stream is heard when expected.
    const size_t blockBytes = size_t(stream.channels) * 2;
    const size_t wanted = size_t(stream.samples) * blockBytes;
    if (pcm.size() < wanted / 2) return {};
    if (stream.encoderDelay > 0) {
        // 529 samples: the layer III decoder's own delay, as the encoder's tag assumes.
        const size_t lead = std::min(pcm.size(), (size_t(stream.encoderDelay) + 529) * blockBytes);
        pcm.erase(pcm.begin(), pcm.begin() + std::ptrdiff_t(lead));
    }
    pcm.resize(wanted, 0);
    return pcm;
}

constexpr int kBuffers = 4;
constexpr DWORD kBufferMs = 250;

}  // namespace

struct MusicPlayer::Impl {
    Mp3Stream stream;
    bool opened = false;
    std::vector<uint8_t> pcm;
    EndHandler handler = nullptr;
    void* context = nullptr;

    std::thread worker;
    HANDLE stopEvent = nullptr;
    std::atomic<bool> audible{false};

    void signalEnd() {
        if (handler != nullptr) handler(context);
    }

    // No device or no decoder: the end comes after the music's length on the wall clock.
    void playSilently(bool loop) {
        const DWORD ms = DWORD((stream.samples * 1000 + stream.sampleRate - 1) / stream.sampleRate);
        do {
            if (WaitForSingleObject(stopEvent, ms) != WAIT_TIMEOUT) return;
            signalEnd();
        } while (loop);
    }

    void playAloud(HWAVEOUT output, HANDLE doneEvent, bool loop) {
        const WAVEFORMATEX format = pcmFormat(stream);
        const size_t blockBytes = format.nBlockAlign;
        const size_t bufferBytes =
            size_t(format.nAvgBytesPerSec) * kBufferMs / 1000 / blockBytes * blockBytes;
        std::vector<std::vector<uint8_t>> data(kBuffers, std::vector<uint8_t>(bufferBytes));
        WAVEHDR headers[kBuffers] = {};
        bool busy[kBuffers] = {};
        bool endsInside[kBuffers] = {};
        size_t position = 0;
        bool finished = false;  // the last byte was queued (without `loop`)
        for (;;) {
            int inFlight = 0;
            for (int i = 0; i < kBuffers; ++i) {
                WAVEHDR& h = headers[i];
                if (busy[i] && (h.dwFlags & WHDR_DONE) != 0) {
                    waveOutUnprepareHeader(output, &h, sizeof h);
                    busy[i] = false;
                    // Reached the end of the music just now, as heard.
                    if (endsInside[i]) signalEnd();
                }
                if (!busy[i] && !finished) {
                    size_t filled = 0;
                    endsInside[i] = false;
                    while (filled < bufferBytes && !finished) {
                        const size_t n = std::min(bufferBytes - filled, pcm.size() - position);
                        std::memcpy(data[i].data() + filled, pcm.data() + position, n);
                        filled += n;
                        position += n;
                        if (position == pcm.size()) {
                            endsInside[i] = true;
                            position = 0;
                            if (!loop) finished = true;
                        }
                    }
                    h = WAVEHDR{};
                    h.lpData = reinterpret_cast<LPSTR>(data[i].data());
                    h.dwBufferLength = DWORD(filled);
                    if (waveOutPrepareHeader(output, &h, sizeof h) == MMSYSERR_NOERROR &&
                        waveOutWrite(output, &h, sizeof h) == MMSYSERR_NOERROR) {
                        busy[i] = true;
                    } else {
                        // The device went away: the rest of the music is silence.
                        finished = true;
                        if (endsInside[i]) signalEnd();
                    }
                }
                if (busy[i]) ++inFlight;
            }
            if (inFlight == 0 && finished) return;
            HANDLE events[2] = {stopEvent, doneEvent};
            if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) {
                waveOutReset(output);
                for (int i = 0; i < kBuffers; ++i) {
                    if (busy[i]) waveOutUnprepareHeader(output, &headers[i], sizeof headers[i]);
                }
                return;
            }
        }
    }

    void run(bool loop) {
        HWAVEOUT output = nullptr;
        HANDLE doneEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        WAVEFORMATEX format = pcmFormat(stream);
        if (!pcm.empty() && doneEvent != nullptr &&
            waveOutOpen(&output, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(doneEvent), 0,
                        CALLBACK_EVENT) == MMSYSERR_NOERROR) {
            audible = true;
            playAloud(output, doneEvent, loop);
            waveOutClose(output);
        } else {
            audible = false;
            playSilently(loop);
        }
        if (doneEvent != nullptr) CloseHandle(doneEvent);
    }
};

MusicPlayer::MusicPlayer() : impl_(new Impl) {
    impl_->stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

MusicPlayer::~MusicPlayer() {
    stop();
    if (impl_->stopEvent != nullptr) CloseHandle(impl_->stopEvent);
}

bool MusicPlayer::open(const std::string& path, bool decode, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!readFile(path, &bytes)) {
        if (error != nullptr) *error = "cannot read " + path;
        return false;
    }
    Mp3Stream stream;
    if (!scanMp3(bytes.data(), bytes.size(), &stream)) {
        if (error != nullptr) *error = path + " holds no mp3 (layer III) frames";
        return false;
    }
    impl_->stream = stream;
    impl_->pcm.clear();
    if (decode) impl_->pcm = decodeMp3(bytes.data() + stream.dataOffset, stream.dataBytes, stream);
    impl_->opened = true;
    return true;
}

const Mp3Stream& MusicPlayer::stream() const {
    return impl_->stream;
}

bool MusicPlayer::decoded() const {
    return !impl_->pcm.empty();
}

void MusicPlayer::onEnd(EndHandler handler, void* context) {
    impl_->handler = handler;
    impl_->context = context;
}

bool MusicPlayer::play(bool loop) {
    if (!impl_->opened || impl_->stopEvent == nullptr) return false;
    stop();
    ResetEvent(impl_->stopEvent);
    impl_->worker = std::thread([this, loop] { impl_->run(loop); });
    return true;
}

bool MusicPlayer::audible() const {
    return impl_->audible;
}

void MusicPlayer::stop() {
    if (!impl_->worker.joinable()) return;
    SetEvent(impl_->stopEvent);
    impl_->worker.join();
}
