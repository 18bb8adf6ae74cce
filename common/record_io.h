// Field visitors over fixed byte layouts.
//
// Every record family writes one template Visit(io, record) that names each
// field with its offset and width.  The same list then decodes a record from
// its bytes, encodes it back, proves the layout sound at compile time and maps
// "key = value" sources onto the record (the sample-board tools).  All
// integers on disk are little-endian, a float is its IEEE-754 single in the
// same byte order; a text is cut to its width less one and always ends with
// a NUL inside its field.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>

namespace kv {

// Little-endian access to raw bytes.
inline uint16_t GetLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t GetLE32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void PutLE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void PutLE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}

// A fixed-width text field: everything up to the first NUL, or the whole
// width when the field holds none (a foreign writer's record).
inline std::string GetText(const uint8_t* p, size_t width) {
    size_t n = 0;
    while (n < width && p[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}
// Writes at most width-1 bytes and pads the rest of the field with NULs.
inline void PutText(uint8_t* p, size_t width, std::string_view v) {
    if (width == 0) return;
    size_t n = v.size() < width - 1 ? v.size() : width - 1;
    std::memcpy(p, v.data(), n);
    std::memset(p + n, 0, width - n);
}

// Offsets of a nested record are relative to where it starts; Enter/Leave
// move the base.  The name and index only matter to visitors that map keys.
class RecordDecoder {
public:
    explicit RecordDecoder(const uint8_t* p) : base_(p) {}
    void Enter(const char*, int, size_t off) { stack_[depth_++] = base_; base_ += off; }
    void Leave() { base_ = stack_[--depth_]; }
    void Field(const char*, size_t off, size_t width, std::string& v) { v = GetText(base_ + off, width); }
    void Field(const char*, size_t off, size_t, uint8_t& v) { v = base_[off]; }
    void Field(const char*, size_t off, size_t, int8_t& v) { v = int8_t(base_[off]); }
    void Field(const char*, size_t off, size_t, uint16_t& v) { v = GetLE16(base_ + off); }
    void Field(const char*, size_t off, size_t, int16_t& v) { v = int16_t(GetLE16(base_ + off)); }
    void Field(const char*, size_t off, size_t, uint32_t& v) { v = GetLE32(base_ + off); }
    void Field(const char*, size_t off, size_t, int32_t& v) { v = int32_t(GetLE32(base_ + off)); }
    void Field(const char*, size_t off, size_t, float& v) { v = std::bit_cast<float>(GetLE32(base_ + off)); }
    template <size_t N>
    void Field(const char*, size_t off, size_t, std::array<uint8_t, N>& v) { std::memcpy(v.data(), base_ + off, N); }

private:
    const uint8_t* base_;
    const uint8_t* stack_[4] = {};
    int depth_ = 0;
};

class RecordEncoder {
public:
    explicit RecordEncoder(uint8_t* p) : base_(p) {}
    void Enter(const char*, int, size_t off) { stack_[depth_++] = base_; base_ += off; }
    void Leave() { base_ = stack_[--depth_]; }
    void Field(const char*, size_t off, size_t width, std::string& v) { PutText(base_ + off, width, v); }
    void Field(const char*, size_t off, size_t, uint8_t& v) { base_[off] = v; }
    void Field(const char*, size_t off, size_t, int8_t& v) { base_[off] = uint8_t(v); }
    void Field(const char*, size_t off, size_t, uint16_t& v) { PutLE16(base_ + off, v); }
    void Field(const char*, size_t off, size_t, int16_t& v) { PutLE16(base_ + off, uint16_t(v)); }
    void Field(const char*, size_t off, size_t, uint32_t& v) { PutLE32(base_ + off, v); }
    void Field(const char*, size_t off, size_t, int32_t& v) { PutLE32(base_ + off, uint32_t(v)); }
    void Field(const char*, size_t off, size_t, float& v) { PutLE32(base_ + off, std::bit_cast<uint32_t>(v)); }
    template <size_t N>
    void Field(const char*, size_t off, size_t, std::array<uint8_t, N>& v) { std::memcpy(base_ + off, v.data(), N); }

private:
    uint8_t* base_;
    uint8_t* stack_[4] = {};
    int depth_ = 0;
};

// Compile-time proof of a layout: fields come in rising order, never
// overlap, integers have their natural width and nothing runs past the end.
class LayoutChecker {
public:
    constexpr explicit LayoutChecker(size_t size) { limit_[0] = size; }
    constexpr void Enter(const char*, int, size_t off) {
        Claim(off, 0);
        base_[depth_ + 1] = base_[depth_] + off;
        next_[depth_ + 1] = base_[depth_ + 1];
        limit_[depth_ + 1] = limit_[depth_];
        ++depth_;
    }
    constexpr void Leave() { next_[depth_ - 1] = next_[depth_]; --depth_; }
    template <class T>
    constexpr void Field(const char*, size_t off, size_t width, T&) {
        if constexpr (std::is_arithmetic_v<T>) {
            if (width != sizeof(T)) ok_ = false;
        } else if constexpr (!std::is_same_v<T, std::string>) {
            if (width != std::tuple_size<T>::value) ok_ = false;
        }
        Claim(off, width);
    }
    constexpr bool ok() const { return ok_; }

private:
    constexpr void Claim(size_t off, size_t width) {
        size_t at = base_[depth_] + off;
        if (at < next_[depth_] || at + width > limit_[0]) ok_ = false;
        if (width) next_[depth_] = at + width;
    }
    size_t base_[5] = {}, next_[5] = {}, limit_[5] = {};
    int depth_ = 0;
    bool ok_ = true;
};

template <class R>
void DecodeRecord(const uint8_t* p, R& r) {
    RecordDecoder d(p);
    Visit(d, r);
}

template <class R>
void EncodeRecord(const R& r, uint8_t* p) {
    std::memset(p, 0, R::kSize);
    RecordEncoder e(p);
    Visit(e, const_cast<R&>(r));
}

template <class R>
std::array<uint8_t, R::kSize> EncodeRecord(const R& r) {
    std::array<uint8_t, R::kSize> out{};
    EncodeRecord(r, out.data());
    return out;
}

// Where one field of a record lies, found through the record's own Visit:
// a reader that needs a few fields of many records reads and writes just
// those, in the very layout the codec uses.
struct FieldPlace {
    size_t offset = 0, width = 0;
};

template <class T>
class FieldLocator {
public:
    constexpr explicit FieldLocator(const T* target) : target_(target) {}
    constexpr void Enter(const char*, int, size_t off) { base_[depth_ + 1] = base_[depth_] + off; ++depth_; }
    constexpr void Leave() { --depth_; }
    template <class U>
    constexpr void Field(const char*, size_t off, size_t width, U& v) {
        if constexpr (std::is_same_v<U, T>) {
            if (&v == target_) place_ = {base_[depth_] + off, width};
        }
    }
    constexpr FieldPlace place() const { return place_; }

private:
    const T* target_;
    size_t base_[5] = {};
    int depth_ = 0;
    FieldPlace place_{};
};

template <class R, class T>
constexpr FieldPlace PlaceOf(T R::*member) {
    R r{};
    FieldLocator<T> locator(&(r.*member));
    Visit(locator, r);
    return locator.place();
}

template <class M> struct MemberTraits;
template <class R, class T> struct MemberTraits<T R::*> {
    using Record = R;
    using Type = T;
};

// clang cannot construct libstdc++'s std::string in a constant expression:
// in the clang build (the fuzz targets) the places are found when the
// program starts, and the checks that g++ makes while compiling are left to
// the g++ build.
#if defined(__clang__) && defined(__GLIBCXX__)
#define KV_PLACE_CONSTEXPR const
#define KV_PLACE_ASSERT(cond, text)
#else
#define KV_PLACE_CONSTEXPR constexpr
#define KV_PLACE_ASSERT(cond, text) static_assert(cond, text)
#endif

// The place of a field named by its member: kPlaceOf<&MsgHeader::Status>.
template <auto Member>
inline KV_PLACE_CONSTEXPR FieldPlace kPlaceOf = PlaceOf(Member);

// One field of the record at p, decoded or encoded as the whole record's
// codec does it: GetField<&MsgHeader::TextOffset>(bytes).
template <auto Member>
typename MemberTraits<decltype(Member)>::Type GetField(const uint8_t* p) {
    KV_PLACE_CONSTEXPR FieldPlace at = kPlaceOf<Member>;
    KV_PLACE_ASSERT(at.width > 0, "not a field of the record's layout");
    typename MemberTraits<decltype(Member)>::Type v{};
    RecordDecoder(p).Field("", at.offset, at.width, v);
    return v;
}
template <auto Member>
void SetField(uint8_t* p, typename MemberTraits<decltype(Member)>::Type v) {
    KV_PLACE_CONSTEXPR FieldPlace at = kPlaceOf<Member>;
    KV_PLACE_ASSERT(at.width > 0, "not a field of the record's layout");
    RecordEncoder(p).Field("", at.offset, at.width, v);
}

// Whether a text field holds exactly text, as GetText would read it, with
// no copy made.
inline bool TextFieldEquals(const uint8_t* p, size_t width, std::string_view text) {
    if (text.size() > width || text.find('\0') != std::string_view::npos) return false;
    if (text.size() < width && p[text.size()] != 0) return false;
    return std::memcmp(p, text.data(), text.size()) == 0;
}
template <auto Member>
bool TextFieldEquals(const uint8_t* p, std::string_view text) {
    KV_PLACE_CONSTEXPR FieldPlace at = kPlaceOf<Member>;
    KV_PLACE_ASSERT(at.width > 0, "not a field of the record's layout");
    return TextFieldEquals(p + at.offset, at.width, text);
}

template <class R>
constexpr bool LayoutIsSound() {
#if defined(__clang__) && defined(__GLIBCXX__)
    return true;  // as for the places above: the g++ build checks layouts
#else
    LayoutChecker c(R::kSize);
    R r{};
    Visit(c, r);
    return c.ok();
#endif
}

}  // namespace kv
