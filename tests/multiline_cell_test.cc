#include "detail/multiline_cell.h"

#include "platform/ui/list_row.h"
#include "tests/support/test_support.h"

namespace {

using orv::UITableViewCellStyle;

orv::SpecifierPtr row(std::optional<std::string> name, orv::Value content) {
  auto s = orv::Specifier::preferenceSpecifierNamed(std::move(name), nullptr, "", "", "",
                                                    orv::PSStaticTextCell, "");
  s->setProperty(std::move(content), "content");
  return s;
}

TEST(MultilineCellTest, AnyStyleComesOutSubtitleWithWrappedUnlimitedDetail) {
  const std::string text = "Manages the network interfaces. It restarts when it exits.";
  for (auto style : {UITableViewCellStyle::Default, UITableViewCellStyle::Value2,
                     static_cast<UITableViewCellStyle>(99)}) {
    OrvaneMultilineCell cell;
    ASSERT_EQ(cell.initWithStyle(style, "multi", row("com.example.job", orv::Value(text))), &cell);
    EXPECT_EQ(cell.style(), UITableViewCellStyle::Subtitle);
    EXPECT_EQ(cell.textLabel().text, "com.example.job");
    EXPECT_EQ(cell.detailTextLabel().text, text);
    EXPECT_EQ(cell.detailTextLabel().numberOfLines, 0);
    EXPECT_EQ(cell.detailTextLabel().lineBreakMode, orv::NSLineBreakByWordWrapping);
  }
  // Missing or odd content, or no row at all, gives an empty detail.
  for (const orv::SpecifierPtr& content :
       {row("Title", orv::Value()), row(std::nullopt, orv::Value(12)), orv::SpecifierPtr()}) {
    OrvaneMultilineCell cell;
    EXPECT_EQ(cell.initWithStyle(UITableViewCellStyle::Default, "", content), &cell);
    EXPECT_EQ(cell.detailTextLabel().text, "");
  }
}

}  // namespace
