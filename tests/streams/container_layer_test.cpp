// The table of container layers: which type codes have a layer, what a layer
// reports when it cannot open its container, and which contents are wiped
// when released (plaintext of encrypted files, also after decompression).
#include "streams/container_layer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "container_writer.h"
#include "streams/container_test_support.h"
#include "streams/memory_stream.h"

namespace tracemill {
namespace {

using testing_support::mixed_content;
using testing_support::stderr_of;
using testing_support::stream_over;

TEST(ContainerLayer, TypeCodesFindTheirLayers) {
    struct Case {
        uint8_t type;
        const char* name;  // none: no layer
        int failure_result;
        const char* failure_message;
    };
    const Case cases[] = {
        {34, "compressed", 4, "Could not decompress file"},
        {17, "encrypted", 2, "Could not decrypt file"},
        {0, nullptr, 0, nullptr},
        {35, nullptr, 0, nullptr},
    };
    for (const Case& c : cases) {
        const ContainerLayer* layer = find_container_layer(c.type);
        ASSERT_EQ(layer != nullptr, c.name != nullptr) << int{c.type};
        if (!layer) continue;
        EXPECT_EQ(layer->container_type, c.type);
        EXPECT_STREQ(layer->name, c.name);
        EXPECT_EQ(layer->failure_result, c.failure_result);
        EXPECT_STREQ(layer->failure_message, c.failure_message);
    }
}

TEST(ContainerLayer, EncryptedLayerWithoutPasswordSaysSoItself) {
    const std::vector<uint8_t> content = mixed_content(100, 1);
    tools::EncryptOptions options;
    options.password = "pw";
    options.iterations = 1;
    options.device_id = 0x00C0FFEE;
    auto source = stream_over(tools::write_encrypted_container(content.data(), content.size(), options));
    ContainerHeader header;
    ASSERT_TRUE(read_container_header(source.get(), header));
    const ContainerLayer* layer = find_container_layer(header.container_type);
    ASSERT_NE(layer, nullptr);

    struct Case {
        const char* name;
        std::optional<std::string_view> password;
        bool opened;
        bool failure_logged;
        const char* log;
    };
    const Case cases[] = {
        {"right password", "pw", true, false, ""},
        {"no password", std::nullopt, false, true, "No password found for device 00C0FFEE"},
        {"wrong password", "other", false, false, ""},
    };
    for (const Case& c : cases) {
        LayerContext context;
        context.password_for = [&](uint32_t device_id) {
            EXPECT_EQ(device_id, 0x00C0FFEEu);
            return c.password;
        };
        LayerOpening opening;
        const std::string log = stderr_of([&] { opening = layer->open(source.get(), header, context); });
        EXPECT_EQ(opening.content != nullptr, c.opened) << c.name;
        EXPECT_EQ(opening.failure_logged, c.failure_logged) << c.name;
        EXPECT_NE(log.find(c.log), std::string::npos) << c.name << ": " << log;
    }
}

TEST(ContainerLayer, PlaintextOfEncryptedFilesIsWipedAndPlainContentIsNot) {
    const std::vector<uint8_t> content = mixed_content(5000, 2);
    const auto compressed = tools::write_compressed_container(content.data(), content.size(), {});
    tools::EncryptOptions options;
    options.password = "pw";
    options.iterations = 1;
    const auto encrypted = tools::write_encrypted_container(compressed.data(), compressed.size(), options);

    // Unwraps like the driver does; whether each layer's content holds secrets.
    auto unwrap = [](const std::vector<uint8_t>& bytes) {
        std::vector<bool> secrets;
        StreamPtr stream = stream_over(bytes);
        LayerContext context;
        context.password_for = [](uint32_t) { return std::optional<std::string_view>("pw"); };
        ContainerHeader header;
        while (read_container_header(stream.get(), header)) {
            const ContainerLayer* layer = find_container_layer(header.container_type);
            StreamPtr content = layer ? layer->open(stream.get(), header, context).content : nullptr;
            if (!content) break;
            stream = std::move(content);
            context.holds_secrets = context.holds_secrets || layer->yields_secrets;
            secrets.push_back(dynamic_cast<MemoryStream&>(*stream).holds_secrets());
        }
        return secrets;
    };
    EXPECT_EQ(unwrap(compressed), std::vector<bool>{false}) << "plain files pay nothing";
    EXPECT_EQ(unwrap(encrypted), (std::vector<bool>{true, true}));
}

}  // namespace
}  // namespace tracemill
