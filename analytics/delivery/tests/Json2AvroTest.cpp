// The JSON-to-Avro converter: the messages it writes, what it accepts for each type, unions
// tried in order, and the output bounded by the JSON text's length.
#include <gtest/gtest.h>

#include "analytics/delivery/Json2Avro.h"

namespace {

using platform::Data;

Data bytes(std::string const& s) { return Data(s.begin(), s.end()); }

struct Result {
    std::optional<Data> data;
    std::string messages;
};

Result run(std::string const& json, std::string const& schema) {
    testing::internal::CaptureStderr();
    Result r;
    r.data = Json2Avro::AVRORepresentationWithJSONSchemaData(bytes(json), bytes(schema));
    r.messages = testing::internal::GetCapturedStderr();
    return r;
}

TEST(Json2AvroTest, NumbersNullsAndUnionsInSchemaOrder) {
    auto integerForDouble = run("[1]", R"({"type":"array","items":"double"})");
    EXPECT_FALSE(integerForDouble.data);
    EXPECT_EQ(integerForDouble.messages, "ERROR: Expecting JSON real for Avro double, got something else\n");
    auto realForDouble = run("[1.0]                ", R"({"type":"array","items":"double"})");
    ASSERT_TRUE(realForDouble.data);
    EXPECT_EQ(realForDouble.data->size(), 10u);
    EXPECT_EQ(realForDouble.messages, "");

    std::string const nullable = R"({"type":"array","items":["null","string"]})";
    auto null = run("[null]", nullable);
    ASSERT_TRUE(null.data);
    EXPECT_EQ(*null.data, (Data{0x02, 0x00, 0x00}));
    EXPECT_EQ(null.messages, "");
    auto text = run(R"(["abc"])", nullable);
    ASSERT_TRUE(text.data);
    EXPECT_EQ(*text.data, (Data{0x02, 0x02, 0x06, 'a', 'b', 'c', 0x00}));
    EXPECT_EQ(text.messages, "ERROR: Expecting JSON null for Avro null, got something else\n");
    auto named = run(R"([{"string": "abc"}])", nullable);
    ASSERT_TRUE(named.data);
    EXPECT_EQ(*named.data, *text.data);

    // Two reals in 9 characters need 18 bytes: more than the JSON text, so nothing.
    auto tooLong = run("[1.5,2.5]", R"({"type":"array","items":"double"})");
    EXPECT_FALSE(tooLong.data);
    EXPECT_EQ(tooLong.messages, "");

    auto noUnion = run("[true]", nullable);
    EXPECT_FALSE(noUnion.data);
    EXPECT_NE(noUnion.messages.find("ERROR: No type in the Avro union matched the JSON type we got\n"), std::string::npos);
}

TEST(Json2AvroTest, RecordsFixedEnumsAndMaps) {
    std::string const record = R"({"type":"record","name":"R","fields":[
        {"name":"id","type":"long"},{"name":"tag","type":{"type":"fixed","name":"F","size":4}},
        {"name":"kind","type":{"type":"enum","name":"K","symbols":["A","B"]}},
        {"name":"extra","type":{"type":"map","values":"int"}},
        {"name":"sub","type":["null",{"type":"record","name":"S","fields":[{"name":"x","type":"int"}]}]}]})";
    auto ok = run(R"({"id": 3, "tag": "abcd", "kind": "B", "extra": {"a": 1}, "sub": {"S": {"x": -1}}, "ignored": 5})"
                  "                              ",
                  record);
    ASSERT_TRUE(ok.data);
    EXPECT_EQ(*ok.data, (Data{0x06, 'a', 'b', 'c', 'd', 0x02, 0x02, 0x02, 'a', 0x02, 0x00, 0x02, 0x01}));

    auto shortFixed = run(R"({"id": 3, "tag": "abc", "kind": 1, "extra": {}, "sub": null})", record);
    EXPECT_FALSE(shortFixed.data);
    EXPECT_EQ(shortFixed.messages, "ERROR: Setting Avro fixed value FAILED\n");
    auto missing = run(R"({"tag": "abcd"})", record);
    EXPECT_FALSE(missing.data);
    EXPECT_EQ(missing.messages, "ERROR: Avro schema does not match JSON\n");
    auto badEnum = run(R"({"id": 3, "tag": "abcd", "kind": 7, "extra": {}, "sub": null})", record);
    EXPECT_FALSE(badEnum.data);
    EXPECT_EQ(badEnum.messages, "ERROR: Expecting JSON integer os string for Avro enum, got something else\n");
    // Not a JSON object or array at the top, or not a schema at all.
    EXPECT_FALSE(run("3", R"("long")").data);
    EXPECT_FALSE(run("[3]", "not a schema").data);
    // Text after the first value is ignored.
    EXPECT_TRUE(run("[3] trailing words", R"({"type":"array","items":"long"})").data);
}

}  // namespace
