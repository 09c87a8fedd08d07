// Writing the sample clips: H.264 through the ffmpeg command-line tool, MJPG through OpenCV.
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/videoio.hpp>

#include "video/SampleVideo.h"

extern char** environ;

namespace {

bool HasExtension(const std::filesystem::path& path, const char* ext) {
    std::string e = path.extension().string();
    std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return std::tolower(c); });
    return e == ext;
}

// MJPG through OpenCV's own MJPEG writer, which (unlike its FFmpeg one) honours the quality.
bool WriteMjpg(const std::filesystem::path& path, const SampleVideoOptions& o,
               const cv::Mat& background) {
    cv::VideoWriter writer;
    try {
        const std::vector<int> params = {cv::VIDEOWRITER_PROP_QUALITY, 100};
        if (!writer.open(path.string(), cv::CAP_OPENCV_MJPEG,
                         cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), o.fps,
                         cv::Size(o.width, o.height), params)) {
            return false;
        }
        for (int i = 0; i < o.frames; ++i) {
            writer.write(RenderSampleFrameOn(background, o, i));
        }
        writer.release();
    } catch (const cv::Exception&) {
        return false;
    }
    std::error_code ec;
    return std::filesystem::file_size(path, ec) > 0 && !ec;
}

bool SendAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        // MSG_NOSIGNAL: an encoder that died must give an error here, not a SIGPIPE.
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// H.264 through the ffmpeg command-line encoder fed with raw BGR frames. OpenCV 4.6's writer
// fixes libx264 at a 250-frame key-frame interval with B-frames and ignores codec options, but
// the tests and benchmarks need both the interval and the B-frames under their control.
bool WriteH264(const std::filesystem::path& path, const SampleVideoOptions& o,
               const cv::Mat& background) {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) {
        return false;
    }
    char fps[32];
    std::snprintf(fps, sizeof fps, "%.6g", o.fps);
    // An absolute path never starts with '-', so ffmpeg cannot mistake it for an option.
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec) {
        ::close(sv[0]);
        ::close(sv[1]);
        return false;
    }
    const std::string out = absolute.string();
    const std::vector<std::string> args = {"ffmpeg",
                                           "-hide_banner",
                                           "-loglevel",
                                           "error",
                                           "-y",
                                           "-f",
                                           "rawvideo",
                                           "-pix_fmt",
                                           "bgr24",
                                           "-video_size",
                                           std::to_string(o.width) + "x" + std::to_string(o.height),
                                           "-framerate",
                                           fps,
                                           "-i",
                                           "pipe:0",
                                           "-an",
                                           "-c:v",
                                           "libx264",
                                           "-preset",
                                           "veryfast",
                                           "-crf",
                                           "18",
                                           "-pix_fmt",
                                           "yuv420p",
                                           "-g",
                                           std::to_string(std::max(1, o.gop)),
                                           "-sc_threshold",
                                           "0",
                                           "-bf",
                                           o.bFrames ? "3" : "0",
                                           out};
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sv[1], 0);
    posix_spawn_file_actions_addclose(&actions, sv[0]);
    posix_spawn_file_actions_addclose(&actions, sv[1]);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "ffmpeg", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(sv[1]);
    if (spawned != 0) {
        ::close(sv[0]);
        return false;
    }

    bool sent = true;
    for (int i = 0; i < o.frames && sent; ++i) {
        const cv::Mat frame = RenderSampleFrameOn(background, o, i);
        sent = SendAll(sv[0], frame.data, frame.total() * frame.elemSize());
    }
    ::close(sv[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!sent || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return false;
    }
    return std::filesystem::file_size(path, ec) > 0 && !ec;
}

}  // namespace

bool WriteSampleVideo(const std::filesystem::path& path, const SampleVideoOptions& options) {
    if (options.width < 16 || options.height < 16 || options.frames < 1 || !(options.fps > 0)) {
        return false;
    }
    const bool mp4 = HasExtension(path, ".mp4");
    const bool avi = HasExtension(path, ".avi");
    if (!mp4 && !avi) {
        return false;
    }
    // yuv420p needs even sizes; refuse rather than let the encoder fail half-way.
    if (mp4 && (options.width % 2 != 0 || options.height % 2 != 0)) {
        return false;
    }
    const cv::Mat background = RenderSampleBackground(options.width, options.height);
    return mp4 ? WriteH264(path, options, background) : WriteMjpg(path, options, background);
}
