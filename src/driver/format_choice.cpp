// The -F/--format option and the sink it builds from the chosen formats.
#include "driver/format_choice.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "driver/fan_out_sink.h"
#include "driver/option_kinds.h"

namespace tracemill {

namespace {

constexpr char kShort[] = "F";
constexpr char kLong[] = "format";
constexpr int kRejected = 1;

int check_format_list(const char* const* values, int count, void* destination) {
    auto* choice = static_cast<FormatChoice*>(destination);
    if (count == 0) return 0;
    return choice->choose(values[0]) ? 0 : kRejected;
}

void report_format_list(FILE* out, int code, const CheckedOption& option, const char* progname) {
    if (code != kRejected) return;
    const auto* choice = static_cast<const FormatChoice*>(option.destination);
    const char* item = choice->rejected_item().c_str();
    switch (choice->rejected()) {
    case FormatChoice::Rejection::UnknownName:
        fprintf(out, "%s: invalid value \"%s\" to option ", progname, item);
        break;
    case FormatChoice::Rejection::NamedTwice:
        fprintf(out, "%s: format \"%s\" named twice in option ", progname, item);
        break;
    case FormatChoice::Rejection::EmptyItem:
        fprintf(out, "%s: empty format name in \"%s\" to option ", progname, item);
        break;
    case FormatChoice::Rejection::None: return;
    }
    arg_print_option(out, kShort, kLong, choice->shown_values().c_str(), "\n");
}

}  // namespace

FormatChoice::FormatChoice(std::span<const NamedFormat> formats) : formats_(formats.begin(), formats.end()) {
    shown_ = "{";
    for (const NamedFormat& named : formats_) {
        if (shown_.size() > 1) shown_ += ',';
        shown_ += named.name;
    }
    shown_ += '}';
}

bool FormatChoice::choose(std::string_view list) {
    rejection_ = Rejection::None;
    std::vector<size_t> chosen;
    for (size_t start = 0; start <= list.size();) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::string_view name = list.substr(start, comma - start);
        start = comma + 1;
        const auto found = std::find_if(formats_.begin(), formats_.end(),
                                        [name](const NamedFormat& named) { return name == named.name; });
        const auto index = static_cast<size_t>(found - formats_.begin());
        if (name.empty()) rejection_ = Rejection::EmptyItem;
        else if (found == formats_.end()) rejection_ = Rejection::UnknownName;
        else if (std::find(chosen.begin(), chosen.end(), index) != chosen.end()) rejection_ = Rejection::NamedTwice;
        if (rejection_ != Rejection::None) {
            // An empty item is shown in its list, the others alone.
            rejected_item_ = rejection_ == Rejection::EmptyItem ? list : name;
            return false;
        }
        chosen.push_back(index);
    }
    chosen_ = std::move(chosen);
    return true;
}

bool FormatChoice::add_options(std::vector<void*>& table) {
    CheckedOption* option = validated_text_option(
        kShort, kLong, shown_.c_str(), 0, 1,
        "which output formats to write, comma-separated, all in one pass; defaults to trc", check_format_list,
        report_format_list, this);
    if (option == nullptr) return false;
    table.push_back(option);
    for (const NamedFormat& named : formats_)
        if (!named.format->add_options(table)) return false;
    return true;
}

void FormatChoice::take_options() {
    for (const NamedFormat& named : formats_) named.format->take_options();
}

std::unique_ptr<OutputSink> FormatChoice::new_sink(FileSystemRoot& output_root, bool durable) {
    if (chosen_.size() == 1) return formats_[chosen_.front()].format->new_sink(output_root, durable);
    std::vector<std::unique_ptr<OutputSink>> sinks;
    for (size_t index : chosen_) {
        std::unique_ptr<OutputSink> sink = formats_[index].format->new_sink(output_root, durable);
        if (!sink) return nullptr;
        sinks.push_back(std::move(sink));
    }
    return std::unique_ptr<OutputSink>(new (std::nothrow) FanOutSink(std::move(sinks)));
}

}  // namespace tracemill
