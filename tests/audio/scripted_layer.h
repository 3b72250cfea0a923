// A capture layer the tests drive by hand: it records every call, fails the calls it is
// told to fail, and returns queued buffers only when the test delivers them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "audio/capture_layer.h"

namespace bm7::testing {

class ScriptedLayer final : public CaptureLayer {
public:
    int open(const CaptureFormat& format, CaptureNotification notify, void* instance) override {
        format_ = format;
        notify_ = notify;
        instance_ = instance;
        return result("open");
    }
    int prepare(CaptureBuffer* buffer) override {
        buffer->flags |= kBufferPrepared;
        return result("prepare");
    }
    int queue(CaptureBuffer* buffer) override {
        const int code = result("queue");
        if (code == kCaptureOk) atLayer_.push_back(buffer);
        return code;
    }
    int start() override { return result("start"); }
    int reset() override {
        const int code = result("reset");
        if (code != kCaptureOk) return code;
        while (!atLayer_.empty()) returnOldest();
        return code;
    }
    int unprepare(CaptureBuffer* buffer) override {
        buffer->flags &= ~kBufferPrepared;
        return result("unprepare");
    }
    int close() override { return result("close"); }
    bool recover(const char* reason) override {
        recoverReasons_.push_back(reason != nullptr ? reason : "(lost)");
        return onRecover ? onRecover() : false;
    }
    int wakeBatch() const override { return batch; }
    const char* errorText(int code) override {
        auto found = texts_.find(code);
        return found == texts_.end() ? nullptr : found->second.c_str();
    }

    // The n-th call (from 1) of `operation` answers `code`.
    void failCall(const std::string& operation, int n, int code) { failures_[operation][n] = code; }
    void giveText(int code, const std::string& text) { texts_[code] = text; }

    // Fills the oldest buffer at the layer with `bytes` (as many as fit) and returns it.
    void deliver(const std::vector<std::uint8_t>& bytes, std::uint32_t extraFlags = 0) {
        CaptureBuffer* buffer = atLayer_.front();
        std::uint32_t count = 0;
        for (; count < bytes.size() && count < buffer->bufferLength; ++count) {
            buffer->data[count] = bytes[count];
        }
        buffer->bytesRecorded = count;
        buffer->flags |= extraFlags;
        returnOldest();
    }

    int calls(const std::string& operation) const {
        auto found = callCounts_.find(operation);
        return found == callCounts_.end() ? 0 : found->second;
    }
    const std::vector<std::string>& log() const { return log_; }
    const std::vector<std::string>& recoverReasons() const { return recoverReasons_; }
    // The buffers the model waits for at a time.
    int batch = 1;
    // What recover does and answers; without it the layer cannot recover.
    std::function<bool()> onRecover;
    void loseSource() {
        {
            std::lock_guard<std::mutex> hold(queueLock);
            sourceLost = true;
        }
        bufferReturned.notify_all();
    }
    const std::deque<CaptureBuffer*>& atLayer() const { return atLayer_; }
    const CaptureFormat& format() const { return format_; }

private:
    int result(const std::string& operation) {
        log_.push_back(operation);
        const int n = ++callCounts_[operation];
        auto failing = failures_.find(operation);
        if (failing == failures_.end()) return kCaptureOk;
        auto code = failing->second.find(n);
        return code == failing->second.end() ? kCaptureOk : code->second;
    }
    void returnOldest() {
        CaptureBuffer* buffer = atLayer_.front();
        atLayer_.pop_front();
        notify_(instance_, buffer);
    }

    CaptureFormat format_;
    CaptureNotification notify_ = nullptr;
    void* instance_ = nullptr;
    std::deque<CaptureBuffer*> atLayer_;
    std::map<std::string, std::map<int, int>> failures_;
    std::map<int, std::string> texts_;
    std::map<std::string, int> callCounts_;
    std::vector<std::string> log_;
    std::vector<std::string> recoverReasons_;
};

}  // namespace bm7::testing
