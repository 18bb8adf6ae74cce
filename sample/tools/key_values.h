// "key = value" sources mapped onto records through their Visit lists.
//
// A key is the field name, with "Name[i]." before the fields of an element
// of an array of records and "Name." before those of a single sub-record:
// "BbsName", "MsgAreas[0].AreaName", "PagingHours.Start".  Byte arrays take
// comma-separated numbers ("255,0,0,0").
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <string_view>
#include <vector>

namespace kv::sample {

class KeyValueApplier {
public:
    KeyValueApplier(std::string_view key, std::string_view value) : key_(key), value_(value) {}

    void Enter(const char* name, int index, size_t) {
        prefixes_.push_back(prefix_);
        prefix_ += name;
        if (index >= 0) prefix_ += "[" + std::to_string(index) + "]";
        prefix_ += ".";
    }
    void Leave() {
        prefix_ = prefixes_.back();
        prefixes_.pop_back();
    }
    void Field(const char* name, size_t, size_t width, std::string& v) {
        if (Matches(name)) {
            v = value_;
            if (v.size() >= width) tooLong_ = true;
        }
    }
    template <class T>
    void Field(const char* name, size_t, size_t, T& v) {
        if (!Matches(name)) return;
        if constexpr (std::is_integral_v<T>) {
            v = static_cast<T>(std::strtoll(value_.c_str(), nullptr, 0));
        } else if constexpr (std::is_floating_point_v<T>) {
            v = static_cast<T>(std::strtod(value_.c_str(), nullptr));
        } else {
            size_t i = 0;
            std::string_view rest = value_;
            while (i < v.size() && !rest.empty()) {
                size_t comma = rest.find(',');
                std::string item(rest.substr(0, comma));
                v[i++] = static_cast<uint8_t>(std::strtol(item.c_str(), nullptr, 0));
                rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            }
        }
    }
    bool found() const { return found_; }
    bool tooLong() const { return tooLong_; }

private:
    bool Matches(const char* name) {
        if (key_.size() != prefix_.size() + std::strlen(name)) return false;
        if (key_.compare(0, prefix_.size(), prefix_) != 0 || key_.compare(prefix_.size(), std::string::npos, name) != 0)
            return false;
        found_ = true;
        return true;
    }
    std::string key_, value_, prefix_;
    std::vector<std::string> prefixes_;
    bool found_ = false, tooLong_ = false;
};

// "Head[n].Field" of a source that lists records by number: n (at most
// maxDigits digits) and Field, or false.
inline bool SplitIndexedKey(std::string_view key, std::string_view head, size_t maxDigits, int& n, std::string& field) {
    size_t open = head.size();
    size_t close = key.find("].");
    if (key.substr(0, open) != head || key.size() <= open || key[open] != '[' || close == std::string_view::npos ||
        close == open + 1)
        return false;
    std::string digits(key.substr(open + 1, close - open - 1));
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > maxDigits) return false;
    n = std::atoi(digits.c_str());
    field = std::string(key.substr(close + 2));
    return true;
}

// Applies one setting; false when no field has that name.
template <class R>
bool ApplyKeyValue(R& record, std::string_view key, std::string_view value, bool* tooLong = nullptr) {
    KeyValueApplier a(key, value);
    Visit(a, record);
    if (tooLong) *tooLong = a.tooLong();
    return a.found();
}

}  // namespace kv::sample
