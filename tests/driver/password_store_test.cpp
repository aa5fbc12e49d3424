// The password file scan, loading and the lookup by device id.
#include "driver/password_store.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/log.h"
#include "driver/run_context.h"
#include "driver_test_support.h"

namespace tracemill {
namespace {

using driver_test::StderrCapture;
using driver_test::TempFolder;
using driver_test::WorkingFolder;

std::map<std::string, std::string> entries_of(const PasswordStore& store) {
    std::map<std::string, std::string> out;
    store.for_each([&](const std::string& key, const SecretText& value) { out[key] = std::string(value.view()); });
    return out;
}

struct ScanCase {
    const char* name;
    std::string text;
    std::map<std::string, std::string> expected;
};

TEST(PasswordScan, MatchesTheEntryPattern) {
    using namespace std::string_literals;
    const std::vector<ScanCase> cases = {
        {"two members", R"({"default": "pw", "0000ABCD": "dev"})", {{"default", "pw"}, {"0000ABCD", "dev"}}},
        {"lower-case key kept as written", R"({"0000abcd": "x"})", {{"0000abcd", "x"}}},
        {"any number of hex digits", R"("12":"a","123456789abcdef0":"b")", {{"12", "a"}, {"123456789abcdef0", "b"}}},
        {"DEFAULT and words are no keys", R"({"DEFAULT": "a", "device1": "b", "Default": "c"})", {}},
        {"empty key", R"({"": "k"})", {{"", "k"}}},
        {"empty password", R"({"0000ABCD": ""})", {{"0000ABCD", ""}}},
        {"password on two lines is skipped", "{\"0000ABCD\": \"ab\ncd\", \"default\": \"d\"}",
         {{"default", "d"}}},
        {"carriage return belongs to the password", "{\"default\": \"a\rb\"}", {{"default", "a\rb"}}},
        {"backslash does not escape", R"({"default": "a\"b"})", {{"default", "a\\"}}},
        {"no escapes decoded", R"({"default": "a\nb"})", {{"default", "a\\nb"}}},
        {"key and colon may span lines", "{\"default\"\n\t:\n \"p\"}", {{"default", "p"}}},
        {"text ends at the first zero byte", "{\"default\": \"a\"}\0{\"0000ABCD\": \"b\"}"s, {{"default", "a"}}},
        {"nesting and other members do not matter",
         R"({"devices": {"0000ABCD": "x", "name": "y"}, "list": [1, 2], "default": "z"})",
         {{"0000ABCD", "x"}, {"default", "z"}}},
        {"a key quote may open the next entry", R"("zz"00AB":"v")", {{"00AB", "v"}}},
        {"scan resumes after the whole match", R"("default":"a" , "1":"b",,"2":"c")",
         {{"default", "a"}, {"1", "b"}, {"2", "c"}}},
        {"password may hold braces and colons", R"({"default": "{x:y}, z"})", {{"default", "{x:y}, z"}}},
        {"Unicode white space around the colon",
         "{\"default\"\xC2\xA0:\xE2\x80\x83\"p\"\xE3\x80\x80,\"1\":\"q\"}", {{"default", "p"}, {"1", "q"}}},
        {"Unicode decimal digits in keys", "{\"\xD9\xA0\xD9\xA1\": \"arabic\", \"\xEF\xBC\x91\": \"fullwidth\"}",
         {{"\xD9\xA0\xD9\xA1", "arabic"}, {"\xEF\xBC\x91", "fullwidth"}}},
        {"Unicode letters are not hex digits", "{\"\xEF\xBD\x81\": \"fullwidth a\"}", {}},
        {"invalid UTF-8 is neither", "{\"\xD9\": \"x\", \"default\"\xC2:\"y\"}", {}},
        {"empty text", "", {}},
        {"unterminated", R"({"default": "abc)", {}},
    };
    set_log_threshold(0);
    for (const ScanCase& c : cases) {
        PasswordStore store;
        StderrCapture quiet;
        scan_password_text(c.text, store);
        EXPECT_EQ(entries_of(store), c.expected) << c.name;
    }
}

TEST(PasswordScan, DuplicateKeysKeepTheFirstAndWarnOnce) {
    set_log_threshold(0);
    PasswordStore store;
    StderrCapture capture;
    scan_password_text(R"({"0000ABCD": "first", "0000ABCD": "second", "default": "d"})", store);
    const std::string log = capture.text();
    EXPECT_EQ(entries_of(store), (std::map<std::string, std::string>{{"0000ABCD", "first"}, {"default", "d"}}));
    const std::string warning = " W Failed to insert key for \"0000ABCD\" in password storage\n";
    const size_t at = log.find(warning);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find(warning, at + 1), std::string::npos) << log;
}

TEST(PasswordScan, AdversarialTextFinishes) {
    // A quadratic matcher would not finish these within the test time-out.
    const std::vector<std::string> texts = {
        std::string(1 << 20, '"'),
        [] { std::string s; while (s.size() < (1u << 20)) s += "\"a\":\""; return s; }(),
        "\"0\":\"" + std::string(1 << 20, 'a') + "\n",
        "\"" + std::string(1 << 20, 'a'),
    };
    set_log_threshold(kFatal);  // the second text repeats its key many times
    for (const std::string& text : texts) {
        PasswordStore store;
        scan_password_text(text, store);
        // Only the second text holds entries: "a":"..." ends at every following quote.
        EXPECT_LE(store.size(), 1u);
    }
    set_log_threshold(0);
}

TEST(FindPassword, DeviceIdThenDefault) {
    PasswordStore store;
    store.insert("default", SecretText("fallback"));
    store.insert("0000ABCD", SecretText("own"));
    store.insert("0000abce", SecretText("lower"));
    store.insert("ABCF", SecretText("short"));
    store.insert("", SecretText("empty key"));
    struct Case {
        uint32_t device;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {0x0000ABCD, "own"},
        {0x00001234, "fallback"},
        {0x0000ABCE, "fallback"},  // lower-case keys are never found
        {0x0000ABCF, "fallback"},  // nor keys shorter than eight digits
    };
    for (const Case& c : cases) {
        std::optional<std::string_view> found = find_password(store, c.device);
        ASSERT_TRUE(found.has_value());
        EXPECT_EQ(*found, c.expected);
    }
    PasswordStore without_default;
    without_default.insert("FFFFFFFF", SecretText(""));
    EXPECT_FALSE(find_password(without_default, 1).has_value());
    ASSERT_TRUE(find_password(without_default, 0xFFFFFFFF).has_value());
    EXPECT_EQ(*find_password(without_default, 0xFFFFFFFF), "");
    EXPECT_FALSE(find_password(PasswordStore(), 0).has_value());
}

class LoadPasswordStore : public ::testing::Test {
protected:
    void SetUp() override { set_log_threshold(0); }
    TempFolder temp;
    RunContext context;
    int status = 0;
};

TEST_F(LoadPasswordStore, NamedFileIsScanned) {
    context.password_files = {temp.write("keys.json", R"({"default": "d", "0000ABCD": "x"})").string()};
    EXPECT_TRUE(load_password_store(context, status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(context.options.passwords.size(), 2u);
}

TEST_F(LoadPasswordStore, MissingNamedFileFailsWithStatus1) {
    const std::string path = temp.str() + "/missing.json";
    context.password_files = {path};
    StderrCapture capture;
    EXPECT_FALSE(load_password_store(context, status));
    EXPECT_EQ(status, 1);
    EXPECT_NE(capture.text().find(" E Failed to open password file at " + path + "\n"), std::string::npos);
}

TEST_F(LoadPasswordStore, DefaultFileInTheWorkingFolder) {
    WorkingFolder cwd(temp.path());
    {
        StderrCapture capture;
        EXPECT_TRUE(load_password_store(context, status));
        EXPECT_EQ(capture.text(), "");
        EXPECT_TRUE(context.options.passwords.empty());
    }
    temp.write("passwords.json", R"({"default": "d"})");
    EXPECT_TRUE(load_password_store(context, status));
    EXPECT_EQ(status, 0);
    ASSERT_NE(context.options.passwords.find("default"), nullptr);
    EXPECT_EQ(context.options.passwords.find("default")->view(), "d");
}

TEST_F(LoadPasswordStore, EmptyFileGivesNoPasswords) {
    context.password_files = {temp.write("empty.json", "").string()};
    EXPECT_TRUE(load_password_store(context, status));
    EXPECT_TRUE(context.options.passwords.empty());
}

// Texts that load, and what is said about those that give less than they seem to hold.
TEST_F(LoadPasswordStore, WarnsAboutTextThatYieldsLessThanItHolds) {
    using namespace std::string_literals;
    struct Case {
        const char* name;
        std::string text;
        size_t passwords;
        const char* warning;  // nullptr: no warning at all
    };
    const std::vector<Case> cases = {
        {"UTF-8 entries", R"({"default": "d"})", 1, nullptr},
        {"white space only", " \n\t\n", 0, nullptr},
        {"an empty object", "{}", 0, "yields no passwords although it is not empty"},
        {"UTF-16 with byte order mark", "\xFF\xFE{\0\"\0d\0\"\0"s, 0, "is UTF-16 text"},
        {"UTF-16 without byte order mark", "{\0\"\0d\0\"\0:\0"s, 0, "is UTF-16 text"},
        {"zero byte after an entry", "{\"default\": \"d\"}\0\"1\": \"x\""s, 1, "contains a zero byte at offset 16"},
    };
    for (const Case& c : cases) {
        RunContext fresh;
        fresh.password_files = {temp.write("keys.json", c.text).string()};
        StderrCapture capture;
        EXPECT_TRUE(load_password_store(fresh, status)) << c.name;
        const std::string log = capture.text();
        EXPECT_EQ(fresh.options.passwords.size(), c.passwords) << c.name;
        if (c.warning == nullptr) {
            EXPECT_EQ(log, "") << c.name;
        } else {
            EXPECT_NE(log.find(" W Password file " + fresh.password_files.front() + " " + c.warning), std::string::npos)
                << c.name << ": " << log;
        }
    }
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace tracemill
