// A stream whose text the test can read back.
#pragma once

#include <stdio.h>

#include <cstdlib>
#include <string>

namespace bm7::testing {

class CapturedStream {
public:
    CapturedStream() : stream_(open_memstream(&buffer_, &size_)) {}
    ~CapturedStream() {
        std::fclose(stream_);
        std::free(buffer_);
    }
    CapturedStream(const CapturedStream&) = delete;
    CapturedStream& operator=(const CapturedStream&) = delete;

    std::FILE* get() const { return stream_; }
    std::string text() {
        std::fflush(stream_);
        return std::string(buffer_, size_);
    }

private:
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* stream_;
};

}  // namespace bm7::testing
