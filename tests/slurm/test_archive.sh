# Sourced by the sharding and cluster tests: builds a small recorder archive from the demo
# recording, six files in nested folders, in the scan order below (bouts of song in most,
# a FLAC, a file that is not audio), so that three shards get two files each.
# usage: . test_archive.sh; make_test_archive DEMO_WAV DIR [LONG_REPEATS]
# LONG_REPEATS > 1 makes the fourth file that many demo recordings long, long enough for a
# test to kill the first shard while it analyses that file.

make_test_archive() {
    demo="$1"
    archive="$2"
    repeats="${3:-1}"
    mkdir -p "$archive/site-a" "$archive/site-b/deep"
    sox "$demo" "$archive/site-a/SITE_0_20260512_043000.wav" trim 0 14
    sox "$demo" "$archive/site-a/SITE_0_20260512_050000.wav" trim 10 15
    sox "$demo" "$archive/site-b/20260513-051500.flac" trim 20 15
    long_inputs=""
    i=0
    while [ "$i" -lt "$repeats" ]; do
        long_inputs="$long_inputs $demo"
        i=$((i + 1))
    done
    # shellcheck disable=SC2086 # one word per repeat of the recording
    sox $long_inputs "$archive/site-b/deep/SMM03873_20260513_060000.wav" trim 40
    sox "$demo" "$archive/site-b/noise.wav" trim 25 5
    echo "field notes, not a recording" >"$archive/site-b/notes.wav"
}
