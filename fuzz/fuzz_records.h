// The canonical form of a record's bytes, found through the record's own
// field list but copied here byte by byte, apart from the codec that is
// checked against it.
#pragma once
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace kv::fuzz {

namespace detail {

class CanonicalCopier {
public:
    CanonicalCopier(const uint8_t* in, uint8_t* out) : in_(in), out_(out) {}
    void Enter(const char*, int, size_t off) { stack_[depth_++] = base_, base_ += off; }
    void Leave() { base_ = stack_[--depth_]; }
    template <class T>
    void Field(const char*, size_t off, size_t width, T&) {
        const size_t at = base_ + off;
        if constexpr (std::is_same_v<T, std::string>) {
            size_t n = 0;
            while (n + 1 < width && in_[at + n] != 0) ++n;
            std::memcpy(out_ + at, in_ + at, n);
        } else {
            std::memcpy(out_ + at, in_ + at, width);
        }
    }

private:
    const uint8_t* in_;
    uint8_t* out_;
    size_t base_ = 0, stack_[4] = {};
    int depth_ = 0;
};

}  // namespace detail

template <class R>
std::vector<uint8_t> CanonicalRecord(const uint8_t* p) {
    std::vector<uint8_t> out(R::kSize, 0);
    detail::CanonicalCopier copy(p, out.data());
    R unused;
    Visit(copy, unused);
    return out;
}

}  // namespace kv::fuzz
