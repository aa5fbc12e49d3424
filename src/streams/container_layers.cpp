// The table of container layers, one line per layer.
#include "streams/container_layer.h"

#include "streams/compressed_container.h"
#include "streams/encrypted_container.h"

namespace tracemill {
namespace {

const ContainerLayer* const kLayers[] = {
    &kCompressedLayer,
    &kEncryptedLayer,
};

}  // namespace

const ContainerLayer* find_container_layer(uint8_t container_type) {
    for (const ContainerLayer* layer : kLayers) {
        if (layer->container_type == container_type) return layer;
    }
    return nullptr;
}

}  // namespace tracemill
