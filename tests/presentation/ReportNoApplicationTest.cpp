// A report prepared in a program without a QGuiApplication (no fonts): no
// pages, the display image left as it was, and one ERROR line in the log
// instead of an abort.
#include "presentation/ImageConversion.h"
#include "presentation/ReportPages.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

namespace fw {
namespace {

TEST(ReportWithoutApplication, NoPagesAndOneErrorLine) {
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  DcmObj ds;
  ds.PutText(0x0008, 0x0060, "SR");
  ds.PutText(0x0010, 0x0010, "Doe^Jane");
  DcmObj item;
  item.PutText(0x0040, 0xA040, "TEXT");
  item.PutText(0x0040, 0xA160, "Some findings.");
  DcmObj sequence;
  sequence.InsertSequence(0xFFFE, 0xE000, item);
  ds.InsertSequence(0x0040, 0xA730, sequence);

  test::LogCapture log;
  TImages images;
  PrepareDisplayImage(images, ds);
  EXPECT_TRUE(images.pixels.empty());
  EXPECT_EQ(images.frameCount, 1);
  EXPECT_EQ(images.columns, 0);
  EXPECT_EQ(images.rows, 0);
  EXPECT_EQ(images.patientName, "Doe^Jane");
  const auto errors = log.StartingWith("ERROR, RenderReport");
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_EQ(log.Messages().size(), 1u);

  // The layout says so too.
  TImages again;
  EXPECT_TRUE(RenderReportPages(again, ds).pages.empty());
  EXPECT_TRUE(again.pixels.empty());
}

} // namespace
} // namespace fw
