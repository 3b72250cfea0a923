#include "audio/device_capture.h"

#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "audio/sound_input.h"
#include "driver/command_line.h"

namespace bm7 {

namespace {

// Audio is delivered two capture buffers (0.74 s) at a time. Every period wakes the sound
// library's threads, two of them through a sound server, and after a second of sleep each
// wake-up costs more than the copy it makes. Four buffers woke them half as often again,
// but through a sound server the audio then reached the program about half a second after
// it was recorded, and the live table's date-times carried that. The library makes its
// buffer three periods long by itself (for a device that cannot hold them it gathers the
// two buffers from shorter periods); asking for a longer latency only left it unable to
// let go of a sound server that had died within the time the program gives it.
constexpr unsigned long kCallbackFrames = 2 * 8192;
constexpr double kCaptureLatencySeconds = 1.0;

// While PortAudio probes every sound system, their libraries print pages of complaints
// about what is absent; the outcome is reported through PortAudio's own result, so the
// error stream stays quiet meanwhile unless BM7_AUDIO_DEBUG is set. Only used on the
// model thread while no other thread of this program writes there: before capture starts,
// after it stops, and while a lost device is opened again.
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

// What the stream's callbacks hold instead of the layer itself: a stream left behind on
// a frozen server keeps its thread, and this link, after the layer may be gone.
struct StreamLink {
    std::mutex lock;
    DeviceCapture* capture = nullptr;  // null once the stream is left behind
};

namespace {

int onAudio(const void* input, void* /*output*/, unsigned long frameCount,
            const PaStreamCallbackTimeInfo* /*time*/, PaStreamCallbackFlags flags, void* user) {
    auto* link = static_cast<StreamLink*>(user);
    std::lock_guard<std::mutex> hold(link->lock);
    if (link->capture == nullptr) return paAbort;
    link->capture->deliver(static_cast<const std::uint8_t*>(input), frameCount,
                           (flags & paInputOverflow) != 0);
    return paContinue;
}

void onStreamFinished(void* user) {
    auto* link = static_cast<StreamLink*>(user);
    std::lock_guard<std::mutex> hold(link->lock);
    if (link->capture != nullptr) link->capture->streamEnded();
}

long long wholeSeconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration_cast<std::chrono::seconds>(duration).count();
}

}  // namespace

DeviceCapture::DeviceCapture(std::string deviceName, std::FILE* warnings, bool reconnect,
                             ReconnectPolicy policy)
    : deviceName_(std::move(deviceName)),
      warnings_(warnings),
      reconnect_(reconnect),
      policy_(policy) {}

DeviceCapture::~DeviceCapture() {
    letGoOfStream();
    complaintFilter_.reset();
}

int DeviceCapture::open(const CaptureFormat& format, CaptureNotification notify, void* instance) {
    if (opened_) return kCaptureAllocated;
    if (format.formatTag != kPcmFormatTag || format.channels == 0 ||
        (format.bitsPerSample != 8 && format.bitsPerSample != 16)) {
        return kCaptureBadFormat;
    }
    format_ = format;
    notify_ = notify;
    instance_ = instance;
    blockAlign_ = format.blockAlign;
    complaintFilter_ = std::make_unique<LibraryComplaintFilter>();
    const int code = openStream();
    if (code != kCaptureOk) {
        if (!reconnect_) {
            complaintFilter_.reset();
            return code;
        }
        // Waited for from the start of capture on, like a device lost later.
        std::lock_guard<std::mutex> hold(queueLock);
        lostReason_ = failureText(code);
    }
    opened_ = true;
    return kCaptureOk;
}

int DeviceCapture::prepare(CaptureBuffer* buffer) {
    if (!opened_) return kCaptureInvalidHandle;
    buffer->flags |= kBufferPrepared;
    return kCaptureOk;
}

int DeviceCapture::queue(CaptureBuffer* buffer) {
    if (!opened_) return kCaptureInvalidHandle;
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
    if (!opened_) return kCaptureInvalidHandle;
    started_ = true;
    int code = stream_ != nullptr ? kCaptureOk : openStream();
    if (code == kCaptureOk) code = startStream();
    if (code == kCaptureOk || !reconnect_) return code;
    markLost(failureText(code));
    return kCaptureOk;
}

int DeviceCapture::reset() {
    if (!opened_) return kCaptureInvalidHandle;
    started_ = false;
    letGoOfStream();
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
    if (!opened_) return kCaptureInvalidHandle;
    buffer->flags &= ~kBufferPrepared;
    return kCaptureOk;
}

int DeviceCapture::close() {
    if (!opened_) return kCaptureInvalidHandle;
    letGoOfStream();
    opened_ = false;
    complaintFilter_.reset();
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

bool DeviceCapture::recover(const char* reason) {
    if (!reconnect_ || !opened_) return false;
    std::string why;
    {
        std::lock_guard<std::mutex> hold(queueLock);
        why = reason != nullptr ? reason : lostReason_;
    }
    losses_.fetch_add(1, std::memory_order_relaxed);
    std::fprintf(warnings_, "Sound input lost: %s; retrying\n", why.c_str());
    std::fflush(warnings_);
    const auto lostAt = std::chrono::steady_clock::now();
    letGoOfStream();
    RetrySchedule schedule(policy_, lostAt);
    for (;;) {
        if (!waitUnlessInterrupted(schedule.nextDelay())) return true;
        if (reopen()) {
            std::fprintf(warnings_, "Sound input restored after %lld s\n",
                         wholeSeconds(std::chrono::steady_clock::now() - lostAt));
            std::fflush(warnings_);
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (schedule.reportDue(now)) {
            std::fprintf(warnings_, "Sound input still lost after %lld s; retrying\n",
                         wholeSeconds(now - lostAt));
            std::fflush(warnings_);
        }
    }
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

void DeviceCapture::streamEnded() {
    if (!stopping_) markLost("the sound device stopped delivering audio");
}

std::string DeviceCapture::failureText(int code) {
    const char* text = errorText(code);
    return text != nullptr ? text : fallbackDeviceMessage(code);
}

int DeviceCapture::fail(int code, std::string text) {
    detailCode_ = code;
    detail_ = std::move(text);
    return code;
}

int DeviceCapture::openStream() {
    if (libraryStop_.busy()) {
        return fail(kCaptureAllocated, "the sound library is still busy with the lost device");
    }
    PaError code = openLibrary();
    if (code != paNoError) return fail(code, describe(code));
    libraryOpen_ = true;
    int device = paNoDevice;
    const int found = findDevice(device);
    if (found != kCaptureOk) {
        letGoOfStream();
        return found;
    }
    PaStreamParameters input{};
    input.device = device;
    input.channelCount = format_.channels;
    input.sampleFormat = format_.bitsPerSample == 8 ? paUInt8 : paInt16;
    // A monitor needs no low latency, and every period wakes the sound library's threads:
    // the library's own small periods cost three times the CPU of the whole detector.
    input.suggestedLatency =
        std::max(Pa_GetDeviceInfo(device)->defaultHighInputLatency, kCaptureLatencySeconds);
    auto* link = new StreamLink;
    link->capture = this;
    PaStream* stream = nullptr;
    code = Pa_OpenStream(&stream, &input, nullptr, format_.samplesPerSecond, kCallbackFrames,
                         paNoFlag, onAudio, link);
    if (code != paNoError) {
        delete link;
        const int result = fail(code, describe(code));
        letGoOfStream();
        return result;
    }
    Pa_SetStreamFinishedCallback(stream, onStreamFinished);
    stream_ = stream;
    link_ = link;
    return kCaptureOk;
}

int DeviceCapture::startStream() {
    stopping_ = false;
    const PaError code = Pa_StartStream(stream_);
    return code == paNoError ? kCaptureOk : fail(code, describe(code));
}

void DeviceCapture::markLost(std::string reason) {
    {
        std::lock_guard<std::mutex> hold(queueLock);
        lostReason_ = std::move(reason);
        sourceLost = true;
    }
    bufferReturned.notify_all();
}

bool DeviceCapture::waitUnlessInterrupted(std::chrono::steady_clock::duration delay) {
    const auto end = std::chrono::steady_clock::now() + delay;
    for (;;) {
        if (heartbeat_) heartbeat_();
        const auto beatEnd = std::chrono::steady_clock::now() + kHeartbeatInterval;
        std::unique_lock<std::mutex> hold(queueLock);
        if (bufferReturned.wait_until(hold, std::min(end, beatEnd),
                                      [this] { return waitInterrupted; })) {
            return false;
        }
        if (std::chrono::steady_clock::now() >= end) return true;
    }
}

bool DeviceCapture::reopen() {
    {
        std::lock_guard<std::mutex> hold(queueLock);
        sourceLost = false;
    }
    if (openStream() != kCaptureOk) return false;
    if (!started_ || startStream() == kCaptureOk) return true;
    letGoOfStream();
    return false;
}

void DeviceCapture::letGoOfStream() {
    if (stream_ == nullptr && !libraryOpen_) return;
    stopping_ = true;
    PaStream* stream = stream_;
    StreamLink* link = link_;
    const bool library = libraryOpen_;
    stream_ = nullptr;
    link_ = nullptr;
    libraryOpen_ = false;
    // Complaints of the library's last words go to the filter, not to a quieted stream
    // that would swallow this program's own lines written meanwhile on other threads.
    const bool stopped = libraryStop_.run(
        [stream, library] {
            if (stream != nullptr) {
                Pa_AbortStream(stream);
                Pa_CloseStream(stream);
            }
            if (library) Pa_Terminate();
        },
        kLibraryStopBound);
    if (stopped) {
        delete link;
        return;
    }
    // The stream's thread may wake up one day and call back: it must find nothing. The
    // link stays allocated for that thread on purpose.
    if (link != nullptr) {
        std::lock_guard<std::mutex> hold(link->lock);
        link->capture = nullptr;
    }
    std::fprintf(warnings_,
                 "%s: warning: the sound library did not stop within %lld s; its stream is "
                 "left behind\n",
                 kModelName, static_cast<long long>(kLibraryStopBound.count()));
    std::fflush(warnings_);
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
