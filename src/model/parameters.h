// The detector's fixed configuration: its three rates, frame sizes and the scalar
// parameters the model code reads. The literals are the configured values exactly as
// they were tuned, not re-derived expressions (clockGain is not 1.0 / 22050).
#pragma once

namespace bm7::detector {

inline constexpr int kFrameLength = 8192;  // samples per base step
inline constexpr int kSampleRate = 22050;

// Rates: frame, every third frame (stop-file probe), every 9690th frame (hourly level).
inline constexpr int kRateCount = 3;
inline constexpr int baseRate = 0;
inline constexpr int checkRate = 1;
inline constexpr int hourlyRate = 2;
inline constexpr double kRatePeriods[kRateCount] = {0.3715192743764172, 1.114557823129252,
                                                    3600.021768707483};

// The band power runs this many samples behind the audio into the onset test, and Clip &
// Save's audio this many behind its gate, so a clip holds the song's start.
inline constexpr int kBandPowerDelay = 10000;
inline constexpr int kClipAudioDelay = 15000;

inline constexpr double overloadWindow = 20.0;
inline constexpr double clockGain = 4.53514739229025e-05;
inline constexpr double channelSelect = 0.0;
inline constexpr double currentEnergyBias = 2.220446049250313e-16;
inline constexpr double pastEnergyBias = 2.220446049250313e-16;
inline constexpr double peakRatioThreshold = 2.2;
inline constexpr double holdOffThreshold = 0.0;
inline constexpr double tailInitialNarrow = 0.0;
inline constexpr double tailInitialWide = 0.0;
inline constexpr double songRatioThreshold = 0.5;
inline constexpr double pulseThreshold = 0.0;
inline constexpr double levelBufferInitial = 0.0;
inline constexpr double levelScale = 1.259755546955624e-08;
inline constexpr double levelDbFactor = 10.0;

// Hourly level buffer: blocks of one hour of frame sums, two blocks of storage.
inline constexpr int kLevelBlock = 9690;
inline constexpr int kLevelStorage = 2 * kLevelBlock;

// The root's storage areas. The children's slices come first, in registration order,
// then the model's own states; the integer area keeps three elements beyond the
// blocks' slices that nothing uses, so that its layout stays the one the model was
// built with but for WaveIn's count of audio samples, which takes the fourth. The pointer area has
// two more references than the model was built with: Clip & Save and To Log File each reach the
// run's file guard through one.
inline constexpr int kDiscreteStateArea = 94260;
inline constexpr int kRealWorkArea = 19388;
inline constexpr int kIntegerWorkArea = 37;
inline constexpr int kPointerWorkArea = 17;
inline constexpr int kModeCount = 2;
inline constexpr int kSignalArea = 816740;

// Transform sizes of the filters.
inline constexpr int kBandFftLength = 16384;
inline constexpr int kStage1FftLength = 2048;
inline constexpr int kStage2FftLength = 256;
inline constexpr int kModulationFftLength = 512;
inline constexpr int kBranchCount = 8;
inline constexpr int kStage1Length = kFrameLength / 8;   // 1024
inline constexpr int kStage2Length = kStage1Length / 8;  // 128
inline constexpr int kTailLength = 200;

// Clip & Save sees the newest four frames of audio and of the clip gate.
inline constexpr int kClipWindowLength = 32768;

}  // namespace bm7::detector
