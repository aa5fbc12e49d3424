// The container layers a log file may be wrapped in, as a table: one entry
// per container type, found by the type code in the container header.
//
// Each layer lives in a file of its own (compressed_container.cpp,
// encrypted_container.cpp) and defines its entry there; the table in
// container_layers.cpp lists the entries. Adding a layer means adding its
// file and one line to the table. The driver unwraps a file by looking up
// the layer of each header it finds and opening it until no header is left.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "streams/byte_stream.h"
#include "streams/container_header.h"

namespace tracemill {

// Result codes of a file whose container could not be opened; the walk ORs
// them into the exit status.
inline constexpr int kContainerPasswordFailure = 2;
inline constexpr int kContainerDecompressionFailure = 4;

// The password for a logger's device id, none when there is none. Supplied
// by whoever knows the passwords; the view stays valid during the open.
using PasswordLookup = std::function<std::optional<std::string_view>(uint32_t device_id)>;

// What a layer gets besides its container.
struct LayerContext {
    PasswordLookup password_for;
    // The container is itself decrypted content: what is opened from it is
    // plaintext too and is wiped like it.
    bool holds_secrets = false;
    // The caller is done with the container once the layer returns: a layer
    // may take over the memory holding it (stream_release_contents) and turn
    // it into the content; the container may then be empty whatever the
    // outcome.
    bool container_reusable = false;
};

// What opening a layer came to.
struct LayerOpening {
    StreamPtr content;  // the container's content, held in memory; none on failure
    // On failure: the layer logged the reason itself, in place of the
    // table's failure message.
    bool failure_logged = false;
};

struct ContainerLayer {
    uint8_t container_type;
    const char* name;  // "Found <name> file"
    // Reads the container (which stays the caller's, and keeps its bytes
    // unless the context says they may be reused) and returns its content.
    LayerOpening (*open)(ByteStream* container, const ContainerHeader& header, const LayerContext& context);
    int failure_result;
    const char* failure_message;
    bool yields_secrets;  // the content is plaintext of an encrypted file
};

// The layer for a container type; none for a type no layer handles.
const ContainerLayer* find_container_layer(uint8_t container_type);

}  // namespace tracemill
