// A file that is written whole or not at all: the bytes go to a temporary name
// beside the target, which is renamed over it only when everything was written.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

class AtomicFile {
public:
    // Opens the temporary file; throws std::runtime_error naming the path.
    explicit AtomicFile(const std::string& path);
    ~AtomicFile();  // removes the temporary file unless Commit succeeded
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void Write(const void* bytes, size_t count);
    void Commit();
    std::FILE* Handle() { return file_; }
    const std::string& TemporaryPath() const { return temporaryPath_; }

private:
    std::string path_;
    std::string temporaryPath_;
    std::FILE* file_ = nullptr;
    bool committed_ = false;
};
