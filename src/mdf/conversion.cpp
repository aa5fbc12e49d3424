// Linear and value-table conversions and their selection from a CC block.
#include "mdf/conversion.h"

#include <bit>
#include <cmath>
#include <limits>

namespace tracemill {

namespace {

constexpr uint8_t kLinearConversion = 1;
constexpr uint8_t kValueTableConversion = 5;

// Equal doubles must share a key: fold -0.0 onto 0.0.
uint64_t table_key(double value) { return std::bit_cast<uint64_t>(value == 0.0 ? 0.0 : value); }

}  // namespace

std::unique_ptr<ConversionRule> LinearConversion::clone() const {
    return std::make_unique<LinearConversion>(factor_, offset_);
}

void ValueTableConversion::add(double key, double value) {
    if (std::isnan(key)) return;  // a NaN key can never be looked up
    table_.insert(table_key(key), value);
}

double ValueTableConversion::apply(double raw) const {
    if (!std::isnan(raw)) {
        if (const double* value = table_.find(table_key(raw))) return *value;
    }
    return std::numeric_limits<double>::quiet_NaN();
}

std::unique_ptr<ConversionRule> ValueTableConversion::clone() const {
    auto copy = std::make_unique<ValueTableConversion>();
    copy->table_ = table_;
    return copy;
}

Conversion make_conversion(uint8_t conversion_type, const double* values, size_t value_count) {
    switch (conversion_type) {
    case kLinearConversion:
        // Without both factor and offset there is nothing sound to apply.
        if (value_count < 2) return Conversion{};
        return Conversion{std::make_unique<LinearConversion>(values[1], values[0])};
    case kValueTableConversion: {
        auto table = std::make_unique<ValueTableConversion>();
        for (size_t i = 0; i + 1 < value_count; i += 2) table->add(values[i], values[i + 1]);
        return Conversion{std::move(table)};
    }
    default:
        return Conversion{};
    }
}

}  // namespace tracemill
