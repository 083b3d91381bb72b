#include "tools/trails/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {

std::string Describe(const std::string& path) { return "cannot write '" + path + "': " + std::strerror(errno); }

}  // namespace

AtomicFile::AtomicFile(const std::string& path) : path_(path)
{
    temporaryPath_ = path + ".tmp" + std::to_string(static_cast<long>(getpid()));
    file_ = std::fopen(temporaryPath_.c_str(), "wb");
    if (file_ == nullptr) {
        throw std::runtime_error(Describe(path));
    }
}

AtomicFile::~AtomicFile()
{
    if (file_ != nullptr)
        std::fclose(file_);
    if (!committed_)
        std::remove(temporaryPath_.c_str());
}

void AtomicFile::Write(const void* bytes, size_t count)
{
    if (count != 0 && std::fwrite(bytes, 1, count, file_) != count) {
        throw std::runtime_error(Describe(path_));
    }
}

void AtomicFile::Commit()
{
    const int flushed = std::fflush(file_);
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (flushed != 0 || closed != 0) {
        throw std::runtime_error(Describe(path_));
    }
#ifdef _WIN32
    const bool renamed = MoveFileExA(temporaryPath_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    const bool renamed = std::rename(temporaryPath_.c_str(), path_.c_str()) == 0;
#endif
    if (!renamed) {
        throw std::runtime_error(Describe(path_));
    }
    committed_ = true;
}
