// Video files by way of the ffmpeg program: raw frames go down a pipe to it,
// it encodes them into a temporary file beside the target (with the target's
// extension, so every muxer is happy), and Finish renames that over the target
// once ffmpeg has exited cleanly. Without Finish nothing is left behind.
//
// Encoder settings: MP4 is H.264 (libx264, yuv420p for every player, CRF 20,
// preset fast, moov atom up front for streaming); WebM is VP9 (libvpx-vp9,
// constant quality CRF 31, row multi-threading).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/types.h>

enum class VideoFormat { Mp4, Webm };

class VideoWriter {
public:
    // Where `ffmpeg` is on PATH; empty when it is not there.
    static std::string FindFfmpeg();

    // Starts ffmpeg; throws std::runtime_error when it cannot. width and
    // height must be even (yuv420p halves both for the colour planes).
    VideoWriter(const std::string& ffmpeg, const std::string& path, VideoFormat format, int width, int height,
                int framesPerSecond);
    ~VideoWriter();  // an unfinished video: ffmpeg stopped, temporary file removed
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // One frame of width x height A8R8G8B8 words, top row first. Throws when
    // ffmpeg has gone away, with what it said.
    void WriteFrame(const uint32_t* pixels);
    // Closes the pipe, waits for ffmpeg and moves the file into place.
    void Finish();

    const std::string& TemporaryPath() const { return temporaryPath_; }

private:
    void Stop();
    int Reap();  // waits for ffmpeg; its wait status, -1 when it was lost
    std::string DescribeExit(int status);
    std::string Failure(const std::string& what);

    std::string path_;
    std::string temporaryPath_;
    size_t frameBytes_;
    int pipe_ = -1;
    pid_t child_ = -1;
    std::FILE* log_ = nullptr;  // ffmpeg's stderr, read back when it fails
    bool finished_ = false;
};
