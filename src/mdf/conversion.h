// Conversions from a channel's raw value to its physical value.
//
// A `Conversion` is a small owning handle: no rule means the identity, which
// costs one branch per value. Rules are copied deeply, so every decoder owns
// its parameters.
#pragma once

#include <cstdint>
#include <memory>

#include "common/hash_map.h"

namespace tracemill {

struct CcBlock;

// Operation table of a conversion rule; the base class is the identity.
class ConversionRule {
public:
    virtual ~ConversionRule() = default;
    virtual double apply(double raw) const { return raw; }
    virtual std::unique_ptr<ConversionRule> clone() const { return std::make_unique<ConversionRule>(); }
};

class LinearConversion final : public ConversionRule {
public:
    LinearConversion(double factor, double offset) : factor_(factor), offset_(offset) {}
    double apply(double raw) const override { return raw * factor_ + offset_; }
    std::unique_ptr<ConversionRule> clone() const override;
    double factor() const { return factor_; }
    double offset() const { return offset_; }

private:
    double factor_;
    double offset_;
};

// Value-to-value table without interpolation. Keys compare as doubles
// (0.0 equals -0.0, NaN equals nothing) and are stored by their bit pattern.
class ValueTableConversion final : public ConversionRule {
public:
    // Keeps the first value of a key that occurs again.
    void add(double key, double value);
    double apply(double raw) const override;
    std::unique_ptr<ConversionRule> clone() const override;
    size_t size() const { return table_.size(); }

private:
    HashMap<uint64_t, double> table_;
};

class Conversion {
public:
    Conversion() = default;
    explicit Conversion(std::unique_ptr<ConversionRule> rule) : rule_(std::move(rule)) {}
    Conversion(const Conversion& other) : rule_(other.rule_ ? other.rule_->clone() : nullptr) {}
    Conversion& operator=(const Conversion& other) {
        if (this != &other) rule_ = other.rule_ ? other.rule_->clone() : nullptr;
        return *this;
    }
    Conversion(Conversion&&) noexcept = default;
    Conversion& operator=(Conversion&&) noexcept = default;

    double apply(double raw) const { return rule_ ? rule_->apply(raw) : raw; }
    bool is_identity() const { return rule_ == nullptr; }
    const ConversionRule* rule() const { return rule_.get(); }

private:
    std::unique_ptr<ConversionRule> rule_;
};

// The conversion a CC block describes; the identity for none or for types
// other than linear (1) and value table (5). A linear block with fewer than
// two values is the identity too.
Conversion make_conversion(const CcBlock* block);

// Same rules from the raw fields, for callers that have no block at hand.
Conversion make_conversion(uint8_t conversion_type, const double* values, size_t value_count);

}  // namespace tracemill
