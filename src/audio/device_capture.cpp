#include "audio/device_capture.h"

#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "driver/command_line.h"

namespace bm7 {

namespace {

// While PortAudio probes every sound system, their libraries print pages of complaints
// about what is absent; the outcome is reported through PortAudio's own result, so the
// error stream stays quiet meanwhile unless BM7_AUDIO_DEBUG is set. Only used before
// capture starts or after it stops, when no other thread writes there.
class QuietErrorStream {
public:
    QuietErrorStream() {
        if (std::getenv("BM7_AUDIO_DEBUG") != nullptr) return;
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        const int sink = ::open("/dev/null", O_WRONLY);
        if (saved_ >= 0 && sink >= 0) dup2(sink, STDERR_FILENO);
        if (sink >= 0) ::close(sink);
    }
    ~QuietErrorStream() {
        if (saved_ < 0) return;
        dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    QuietErrorStream(const QuietErrorStream&) = delete;
    QuietErrorStream& operator=(const QuietErrorStream&) = delete;

private:
    int saved_ = -1;
};

// PortAudio would otherwise start a JACK server of its own while it looks for devices.
PaError openLibrary() {
    setenv("JACK_NO_START_SERVER", "1", 1);
    const QuietErrorStream quiet;
    return Pa_Initialize();
}

void closeLibrary() {
    const QuietErrorStream quiet;
    Pa_Terminate();
}

int onAudio(const void* input, void* /*output*/, unsigned long frameCount,
            const PaStreamCallbackTimeInfo* /*time*/, PaStreamCallbackFlags flags, void* user) {
    static_cast<DeviceCapture*>(user)->deliver(static_cast<const std::uint8_t*>(input), frameCount,
                                               (flags & paInputOverflow) != 0);
    return paContinue;
}

std::string describe(PaError code) {
    if (code == paUnanticipatedHostError) {
        const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
        if (host != nullptr && host->errorText != nullptr && host->errorText[0] != '\0') {
            return host->errorText;
        }
    }
    return Pa_GetErrorText(code);
}

}  // namespace

DeviceCapture::DeviceCapture(std::string deviceName, std::FILE* warnings)
    : deviceName_(std::move(deviceName)), warnings_(warnings) {}

DeviceCapture::~DeviceCapture() {
    closeStream();
}

int DeviceCapture::open(const CaptureFormat& format, CaptureNotification notify, void* instance) {
    if (stream_ != nullptr) return kCaptureAllocated;
    if (format.formatTag != kPcmFormatTag || format.channels == 0 ||
        (format.bitsPerSample != 8 && format.bitsPerSample != 16)) {
        return kCaptureBadFormat;
    }
    PaError code = openLibrary();
    if (code != paNoError) return fail(code, describe(code));
    libraryOpen_ = true;
    int device = paNoDevice;
    code = findDevice(device);
    if (code != kCaptureOk) {
        closeStream();
        return code;
    }
    PaStreamParameters input{};
    input.device = device;
    input.channelCount = format.channels;
    input.sampleFormat = format.bitsPerSample == 8 ? paUInt8 : paInt16;
    input.suggestedLatency = Pa_GetDeviceInfo(device)->defaultHighInputLatency;
    notify_ = notify;
    instance_ = instance;
    blockAlign_ = format.blockAlign;
    PaStream* stream = nullptr;
    code = Pa_OpenStream(&stream, &input, nullptr, format.samplesPerSecond,
                         paFramesPerBufferUnspecified, paNoFlag, onAudio, this);
    if (code != paNoError) {
        const int result = fail(code, describe(code));
        closeStream();
        return result;
    }
    stream_ = stream;
    return kCaptureOk;
}

int DeviceCapture::prepare(CaptureBuffer* buffer) {
    if (stream_ == nullptr) return kCaptureInvalidHandle;
    buffer->flags |= kBufferPrepared;
    return kCaptureOk;
}

int DeviceCapture::queue(CaptureBuffer* buffer) {
    if (stream_ == nullptr) return kCaptureInvalidHandle;
    if ((buffer->flags & kBufferPrepared) == 0) return kCaptureUnprepared;
    buffer->bytesRecorded = 0;
    buffer->next = nullptr;
    {
        std::lock_guard<std::mutex> hold(deviceLock_);
        if (deviceTail_ != nullptr) deviceTail_->next = buffer;
        deviceTail_ = buffer;
        if (deviceHead_ == nullptr) deviceHead_ = buffer;
    }
    warnOfLosses();
    return kCaptureOk;
}

int DeviceCapture::start() {
    if (stream_ == nullptr) return kCaptureInvalidHandle;
    const PaError code = Pa_StartStream(stream_);
    return code == paNoError ? kCaptureOk : fail(code, describe(code));
}

int DeviceCapture::reset() {
    if (stream_ == nullptr) return kCaptureInvalidHandle;
    if (Pa_IsStreamStopped(stream_) == 0) {
        const PaError code = Pa_AbortStream(stream_);
        if (code != paNoError) return fail(code, describe(code));
    }
    CaptureBuffer* returned = nullptr;
    {
        std::lock_guard<std::mutex> hold(deviceLock_);
        returned = deviceHead_;
        deviceHead_ = deviceTail_ = nullptr;
    }
    while (returned != nullptr) {
        CaptureBuffer* following = returned->next;
        notify_(instance_, returned);
        returned = following;
    }
    return kCaptureOk;
}

int DeviceCapture::unprepare(CaptureBuffer* buffer) {
    if ((buffer->flags & kBufferPrepared) == 0) return kCaptureOk;
    if (stream_ == nullptr) return kCaptureInvalidHandle;
    buffer->flags &= ~kBufferPrepared;
    return kCaptureOk;
}

int DeviceCapture::close() {
    if (stream_ == nullptr) return kCaptureInvalidHandle;
    const PaError code = Pa_CloseStream(stream_);
    stream_ = nullptr;
    if (code != paNoError) {
        const int result = fail(code, describe(code));
        closeStream();
        return result;
    }
    closeStream();
    return kCaptureOk;
}

const char* DeviceCapture::errorText(int code) {
    if (code == detailCode_ && !detail_.empty()) {
        errorText_ = detail_;
    } else if (code < 0) {
        errorText_ = Pa_GetErrorText(code);
    } else {
        return nullptr;
    }
    return errorText_.c_str();
}

void DeviceCapture::deliver(const std::uint8_t* samples, unsigned long frameCount,
                            bool overflowed) {
    if (overflowed) overflows_.fetch_add(1, std::memory_order_relaxed);
    std::size_t bytes = std::size_t{frameCount} * blockAlign_;
    std::lock_guard<std::mutex> hold(deviceLock_);
    while (bytes > 0) {
        CaptureBuffer* head = deviceHead_;
        if (head == nullptr) {
            lostFrames_.fetch_add(bytes / blockAlign_, std::memory_order_relaxed);
            return;
        }
        const std::size_t room = head->bufferLength - head->bytesRecorded;
        const std::size_t count = room < bytes ? room : bytes;
        if (samples != nullptr) {
            std::memcpy(head->data + head->bytesRecorded, samples, count);
            samples += count;
        } else {
            std::memset(head->data + head->bytesRecorded, 0, count);
        }
        head->bytesRecorded += static_cast<std::uint32_t>(count);
        bytes -= count;
        if (head->bytesRecorded == head->bufferLength) {
            deviceHead_ = head->next;
            if (deviceHead_ == nullptr) deviceTail_ = nullptr;
            notify_(instance_, head);
        }
    }
}

int DeviceCapture::fail(int code, std::string text) {
    detailCode_ = code;
    detail_ = std::move(text);
    return code;
}

int DeviceCapture::findDevice(int& device) {
    if (deviceName_.empty()) {
        device = Pa_GetDefaultInputDevice();
        return device == paNoDevice ? fail(kCaptureBadDeviceId, "") : kCaptureOk;
    }
    const int count = Pa_GetDeviceCount();
    if (count < 0) return fail(count, describe(count));
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info != nullptr && info->maxInputChannels > 0 &&
            std::strstr(info->name, deviceName_.c_str()) != nullptr) {
            device = i;
            return kCaptureOk;
        }
    }
    return fail(kCaptureBadDeviceId,
                "No sound input device has \"" + deviceName_ + "\" in its name");
}

void DeviceCapture::warnOfLosses() {
    const unsigned long overflows = overflows_.load(std::memory_order_relaxed);
    if (overflows != reportedOverflows_) {
        std::fprintf(warnings_, "%s: warning: sound input overflow (%lu so far)\n", kModelName,
                     overflows);
        reportedOverflows_ = overflows;
    }
    const unsigned long lost = lostFrames_.load(std::memory_order_relaxed);
    if (lost != reportedLostFrames_) {
        std::fprintf(warnings_,
                     "%s: warning: %lu sample frames lost while no capture buffer was free "
                     "(%lu so far)\n",
                     kModelName, lost - reportedLostFrames_, lost);
        reportedLostFrames_ = lost;
    }
}

void DeviceCapture::closeStream() {
    if (stream_ != nullptr) {
        Pa_AbortStream(stream_);
        Pa_CloseStream(stream_);
        stream_ = nullptr;
    }
    if (libraryOpen_) {
        closeLibrary();
        libraryOpen_ = false;
    }
}

int listInputDevices(std::FILE* out, std::FILE* errors) {
    PaError code = openLibrary();
    if (code != paNoError) {
        std::fprintf(errors, "%s: %s\n", kModelName, describe(code).c_str());
        return 1;
    }
    const int count = Pa_GetDeviceCount();
    if (count < 0) {
        std::fprintf(errors, "%s: %s\n", kModelName, describe(count).c_str());
        closeLibrary();
        return 1;
    }
    const PaDeviceIndex defaultDevice = Pa_GetDefaultInputDevice();
    int listed = 0;
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info == nullptr || info->maxInputChannels <= 0) continue;
        std::fprintf(out, "%s%s\n", info->name, i == defaultDevice ? " (default)" : "");
        ++listed;
    }
    if (listed == 0) std::fputs("No sound input devices found.\n", out);
    closeLibrary();
    return 0;
}

}  // namespace bm7
