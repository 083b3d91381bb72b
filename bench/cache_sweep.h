// A 128 MB buffer with every cache line written once per Run(): whatever a
// benchmark had in the caches is gone afterwards, as a frame finds them after
// a tick. Benchmarks run it untimed before the work they time.
#pragma once

#include <cstddef>
#include <vector>

class CacheSweep {
public:
    explicit CacheSweep(bool enabled = false) { Enable(enabled); }

    void Enable(bool on) { bytes_.assign(on ? size_t{128} << 20 : 0, 4); }
    bool Enabled() const { return !bytes_.empty(); }

    // Returns the buffer, for the caller to keep from the optimiser.
    const unsigned char* Run()
    {
        for (size_t n = 0; n < bytes_.size(); n += 64) {
            bytes_[n] = static_cast<unsigned char>(bytes_[n] + 1);
        }
        return bytes_.data();
    }

private:
    std::vector<unsigned char> bytes_;
};
