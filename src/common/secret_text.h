// Text that must not outlive its use in memory (passwords): its bytes are
// overwritten before the memory is released or handed on, including the bytes
// a move leaves behind in the source.
#pragma once

#include <string>
#include <string_view>

#include "common/secure_wipe.h"

namespace tracemill {

class SecretText {
public:
    SecretText() = default;
    explicit SecretText(std::string_view text) : text_(text) {}
    SecretText(SecretText&& other) noexcept : text_(std::move(other.text_)) { other.wipe(); }
    SecretText& operator=(SecretText&& other) noexcept {
        if (this != &other) {
            wipe();
            text_ = std::move(other.text_);
            other.wipe();
        }
        return *this;
    }
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    ~SecretText() { wipe(); }

    std::string_view view() const { return text_; }
    bool operator==(std::string_view other) const { return text_ == other; }

private:
    // The text never grows after construction, so its one buffer holds every byte it ever had.
    void wipe() {
        secure_wipe(text_.data(), text_.capacity());
        text_.clear();
    }

    std::string text_;
};

}  // namespace tracemill
