// The bundled recording repeated until it covers a run of model steps, read once per
// program, for the benchmarks that step the whole model as an offline run does.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "model/detector_harness.h"

namespace bm7 {

// Empty when data/demo.wav cannot be found (BM7_SOURCE_DIR points at the sources).
template <int Steps>
const std::vector<std::int16_t>& demoRecordingFor() {
    static const std::vector<std::int16_t> samples = [] {
        const char* source = std::getenv("BM7_SOURCE_DIR");
        const std::string root = source != nullptr ? source : BM7_SOURCE_ROOT;
        const std::vector<std::int16_t> demo = testing::readWave(root + "/data/demo.wav");
        std::vector<std::int16_t> all;
        while (!demo.empty() && all.size() < (Steps + 10) * std::size_t{testing::kFrame})
            all.insert(all.end(), demo.begin(), demo.end());
        return all;
    }();
    return samples;
}

}  // namespace bm7
