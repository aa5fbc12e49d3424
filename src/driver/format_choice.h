// The -F/--format option: which output formats a run writes, chosen from a
// table of named formats the entry point hands over. The choice is itself an
// output format: it adds the rows of every format in the table and builds one
// sink that hands each record to the sinks of the chosen ones.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "driver/output_sink.h"

namespace tracemill {

struct NamedFormat {
    const char* name;       // as given to -F, e.g. "trc"
    OutputFormat* format;   // not owned
};

class FormatChoice final : public OutputFormat {
public:
    // `formats`: every format the run offers; the first is the default.
    explicit FormatChoice(std::span<const NamedFormat> formats);

    // The -F row, then the rows of every format in the table.
    bool add_options(std::vector<void*>& table) override;
    void take_options() override;
    // The chosen format's own sink when one is chosen, otherwise a sink that
    // feeds every chosen format's sink.
    std::unique_ptr<OutputSink> new_sink(FileSystemRoot& output_root, bool durable) override;

    // Chooses from a comma-separated list of names; false (with rejected()
    // telling why) for an unknown name, a name given twice or an empty item.
    bool choose(std::string_view list);
    const std::vector<size_t>& chosen() const { return chosen_; }  // indices into the table, in list order

    enum class Rejection { None, UnknownName, NamedTwice, EmptyItem };
    Rejection rejected() const { return rejection_; }
    const std::string& rejected_item() const { return rejected_item_; }
    const std::string& shown_values() const { return shown_; }

private:
    std::vector<NamedFormat> formats_;
    std::vector<size_t> chosen_{0};
    std::string shown_;  // "{trc,log,csv}", the row's value description
    Rejection rejection_ = Rejection::None;
    std::string rejected_item_;
};

}  // namespace tracemill
