#include "detail/multiline_cell.h"

#include "platform/ui/class_registry.h"
#include "tests/support/test_support.h"

namespace {

using orv::UITableViewCellStyle;

orv::SpecifierPtr row(std::optional<std::string> name, orv::Value content) {
  auto s = orv::Specifier::preferenceSpecifierNamed(std::move(name), nullptr, "", "", "",
                                                    orv::PSStaticTextCell, "");
  s->setProperty(std::move(content), "content");
  return s;
}

TEST(MultilineCellTest, IsRegisteredByName) {
  auto cell = orv::ClassRegistry::shared().createCell("OrvaneMultilineCell");
  ASSERT_NE(cell, nullptr);
  EXPECT_NE(dynamic_cast<OrvaneMultilineCell*>(cell.get()), nullptr);
}

TEST(MultilineCellTest, AnyStyleComesOutSubtitleWithWrappedUnlimitedDetail) {
  const std::string text =
      "Manages the device's network interfaces. It starts at boot and restarts when it exits.";
  for (auto style :
       {UITableViewCellStyle::Default, UITableViewCellStyle::Value1, UITableViewCellStyle::Value2,
        UITableViewCellStyle::Subtitle, static_cast<UITableViewCellStyle>(99)}) {
    OrvaneMultilineCell cell;
    ASSERT_EQ(cell.initWithStyle(style, "multi", row("com.example.job", orv::Value(text))), &cell);
    EXPECT_EQ(cell.style(), UITableViewCellStyle::Subtitle);
    EXPECT_EQ(cell.reuseIdentifier(), "multi");
    EXPECT_EQ(cell.textLabel().text, "com.example.job");
    EXPECT_EQ(cell.detailTextLabel().text, text);
    EXPECT_EQ(cell.detailTextLabel().numberOfLines, 0);
    EXPECT_EQ(cell.detailTextLabel().lineBreakMode, orv::NSLineBreakByWordWrapping);
  }
}

TEST(MultilineCellTest, MissingOrOddContentGivesAnEmptyDetail) {
  OrvaneMultilineCell missing;
  missing.initWithStyle(UITableViewCellStyle::Default, "", row("Title", orv::Value()));
  EXPECT_EQ(missing.textLabel().text, "Title");
  EXPECT_EQ(missing.detailTextLabel().text, "");
  EXPECT_EQ(missing.detailTextLabel().numberOfLines, 0);

  OrvaneMultilineCell number;
  number.initWithStyle(UITableViewCellStyle::Default, "", row(std::nullopt, orv::Value(12)));
  EXPECT_EQ(number.textLabel().text, "");
  EXPECT_EQ(number.detailTextLabel().text, "");

  OrvaneMultilineCell no_row;
  EXPECT_EQ(no_row.initWithStyle(UITableViewCellStyle::Value1, "", nullptr), &no_row);
  EXPECT_EQ(no_row.detailTextLabel().text, "");
}

}  // namespace
