#include "platform/discovery/TxtRecord.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

TEST(TxtRecordTest, LookupIgnoresCaseAndTakesTheFirstEntry) {
    const TxtRecord txt{{"ID", "first"}, {"id", "second"}, {"model", ""}};
    EXPECT_EQ(txt.value("id"), "first");
    EXPECT_EQ(txt.value("Model"), "");
    EXPECT_EQ(txt.value("modelname"), std::nullopt);
}

TEST(TxtRecordTest, ParsesEntriesAtTheFirstEqualsSignAndRepairsText) {
    EXPECT_EQ(TxtRecord::parseEntry("model=Mac=14,2"), (TxtRecord::Entry{"model", "Mac=14,2"}));
    EXPECT_EQ(TxtRecord::parseEntry("flag"), (TxtRecord::Entry{"flag", ""}));
    EXPECT_EQ(TxtRecord::parseEntry("=value"), (TxtRecord::Entry{"", "value"}));
    EXPECT_EQ(TxtRecord::parseEntry("name=a\xffz"), (TxtRecord::Entry{"name", "a\xef\xbf\xbdz"}));
    EXPECT_EQ(TxtRecord::parseEntry(std::string_view("id=a\0b", 6)),
              (TxtRecord::Entry{"id", std::string("a\0b", 3)}));
}

TEST(TxtRecordTest, PublishableEntriesFitOneLengthByte) {
    EXPECT_TRUE(TxtRecord().isPublishable());
    EXPECT_TRUE((TxtRecord{{"id", std::string(252, 'x')}}).isPublishable()); // 2 + 1 + 252 = 255
    EXPECT_FALSE((TxtRecord{{"id", std::string(253, 'x')}}).isPublishable());
    EXPECT_FALSE((TxtRecord{{"", "value"}}).isPublishable());
    EXPECT_FALSE((TxtRecord{{"a=b", "c"}}).isPublishable());
    EXPECT_FALSE((TxtRecord{{"caf\xc3\xa9", "c"}}).isPublishable());
}

} // namespace
} // namespace velm
