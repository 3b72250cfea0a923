// What the driver needs of a model: the operations of one run, in the order the
// driver calls them. The detector model implements it; tests drive the driver with
// small models of their own.
#pragma once

#include "driver/block.h"

namespace bm7 {

class Model {
public:
    virtual ~Model() = default;

    // Builds the root record, SimInfo, the storage areas and the child records.
    virtual BlockRecord* registerModel() = 0;
    // Fill the root's counts, then its rates; called right after registerModel.
    virtual void declareModelSizes() = 0;
    virtual void declareModelSampleTimes() = 0;
    // Once before the first step. Failures go to the root's errorStatus.
    virtual void start() = 0;
    virtual void outputs(int task) = 0;
    virtual void update(int task) = 0;
    // Input already captured that no step has taken yet, in steps: a run stopped by a
    // signal takes these first, and a clock may count them as recorded by now. Model
    // thread, between steps.
    virtual int capturedStepsWaiting() { return 0; }
    // Once after a successful run.
    virtual void terminate() = 0;
};

}  // namespace bm7
