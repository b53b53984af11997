// Structured Reports drawn by fwrender: reports written by DCMTK's dump2dcm
// (an independent writer; defined lengths, so the Content Sequence is read
// as an expanded sequence) in each uncompressed transfer syntax, page by page
// with --frame; and a report labelled with a compressed transfer syntax,
// which has no pixel data to convert. The first page of the DCMTK report is
// written into the test output folder.
#include "presentation/ReportPages.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>

namespace fw {
namespace {

struct ToolRun {
  int status = -1;
  std::string output; // both streams
};

ToolRun RunCommand(const std::string &command) {
  ToolRun run;
  FILE *pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr)
    return run;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    run.output.append(buffer, got);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// Dark pixels of a drawn page (levels below mid grey) inside a rectangle.
int Ink(const QImage &page, const QRect &area) {
  int dark = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      dark += qGray(page.pixel(x, y)) < 128;
  return dark;
}

// A report of about 36 lines, long enough for two pages, as one Text Value
// (a dump line holds no line breaks).
std::string LongText() {
  std::string text;
  for (int i = 1; i <= 60; ++i)
    text += "Sentence " + std::to_string(i) + " of the findings, a line of its own. ";
  return text;
}

std::string ReportDump(const std::string &text) {
  return "(0008,0016) UI [1.2.840.10008.5.1.4.1.1.88.11]\n"
         "(0008,0018) UI [2.25.739104652811350928774.1.2]\n"
         "(0008,0023) DA [20240309]\n"
         "(0008,0033) TM [141502]\n"
         "(0008,0060) CS [SR]\n"
         "(0008,0080) LO [Harbour General Hospital]\n"
         "(0010,0010) PN [Doe^Jane]\n"
         "(0010,0020) LO [PID-4711]\n"
         "(0010,0030) DA [19800102]\n"
         "(0040,a491) CS [COMPLETE]\n"
         "(0040,a493) CS [VERIFIED]\n"
         "(0040,a730) SQ (Sequence with explicit length #=2)\n"
         "  (fffe,e000) na (Item with explicit length #=2)\n"
         "    (0040,a040) CS [PNAME]\n"
         "    (0040,a123) PN [Smith^John]\n"
         "  (fffe,e00d) na (ItemDelimitationItem)\n"
         "  (fffe,e000) na (Item with explicit length #=2)\n"
         "    (0040,a040) CS [TEXT]\n"
         "    (0040,a160) UT [" +
         text +
         "]\n"
         "  (fffe,e00d) na (ItemDelimitationItem)\n"
         "(fffe,e0dd) na (SequenceDelimitationItem)\n";
}

class ReportTool : public testing::Test {
protected:
  void SetUp() override {
    // DCMTK is one of the test dependencies: missing, it fails the test.
    ASSERT_TRUE(std::filesystem::exists("/usr/bin/dump2dcm")) << "dump2dcm (dcmtk) is not installed";
    std::filesystem::create_directories(FW_TEST_OUTPUT_DIR);
  }

  std::string Path(const std::string &name) const { return dir_.folder() + name; }

  // A report file written by dump2dcm with explicit lengths in the syntax
  // chosen by option (+te, +ti, +tb).
  std::string DcmtkReport(const std::string &syntaxOption) {
    const std::string dump = Path("report.dump");
    std::ofstream(dump) << ReportDump(LongText());
    const std::string file = Path("report" + syntaxOption + ".dcm");
    const ToolRun run = RunCommand("/usr/bin/dump2dcm +e +l 20000 " + syntaxOption + " " + dump + " " + file);
    EXPECT_EQ(run.status, 0) << run.output;
    return file;
  }

  ToolRun Render(const std::string &arguments) { return RunCommand(std::string(FW_RENDER_TOOL) + " " + arguments); }

  test::TempDir dir_;
};

TEST_F(ReportTool, DcmtkReportIsDrawnPageByPage) {
  for (const std::string option : {"+te", "+ti", "+tb"}) {
    SCOPED_TRACE("dump2dcm " + option);
    const std::string file = DcmtkReport(option);
    QImage pages[2];
    for (int page = 0; page < 2; ++page) {
      const std::string png = Path("page" + std::to_string(page) + ".png");
      const ToolRun run = Render("--frame " + std::to_string(page) + " " + file + " " + png);
      ASSERT_EQ(run.status, 0) << run.output;
      ASSERT_TRUE(pages[page].load(QString::fromStdString(png)));
      ASSERT_EQ(pages[page].size(), QSize(REPORT_PAGE_WIDTH, REPORT_PAGE_HEIGHT));
    }
    if (option == "+te")
      pages[0].save(QString::fromStdString(std::string(FW_TEST_OUTPUT_DIR) + "/dcmtk-report-page-1.png"), "PNG");
    // The text is drawn, not only the header: ink inside the text rectangle
    // of both pages, the header on the first only, the signature on both.
    EXPECT_GT(Ink(pages[0], QRect(100, 460, 700, 440)), 2000);
    EXPECT_GT(Ink(pages[1], QRect(100, 120, 700, 780)), 200);
    EXPECT_GT(Ink(pages[0], QRect(100, 50, 740, 130)), 1000);
    EXPECT_EQ(Ink(pages[1], QRect(1, 1, 848, 118)), 0);
    for (const QImage &page : pages)
      EXPECT_GT(Ink(page, QRect(350, 950, 400, 40)), 100);

    const ToolRun beyond = Render("--frame 2 " + file + " " + Path("none.png"));
    EXPECT_EQ(beyond.status, 1) << beyond.output;
    EXPECT_NE(beyond.output.find("has 2 frame(s)"), std::string::npos) << beyond.output;
  }
}

TEST_F(ReportTool, ReportLabelledWithACompressedSyntaxIsNotConverted) {
  // No Pixel Data: nothing to decode, so the syntax of the file's label does
  // not stop the report from being drawn.
  DcmObj ds;
  ds.PutText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.88.11");
  ds.PutText(0x0008, 0x0018, "2.25.739104652811350928774.1.3");
  ds.PutText(0x0008, 0x0060, "SR");
  DcmObj item;
  item.PutText(0x0040, 0xA040, "TEXT");
  item.PutText(0x0040, 0xA160, "Findings of a report stored as it arrived.");
  DcmObj sequence;
  sequence.InsertSequence(0xFFFE, 0xE000, item);
  ds.InsertSequence(0x0040, 0xA730, sequence);
  ds.transferSyntax = "1.2.840.10008.1.2.4.50";
  ds.explicitVR = true;
  const std::string file = Path("labelled.dcm");
  ASSERT_TRUE(ds.Write(file));

  const ToolRun run = Render(file + " " + Path("labelled.png"));
  ASSERT_EQ(run.status, 0) << run.output;
  QImage page;
  ASSERT_TRUE(page.load(QString::fromStdString(Path("labelled.png"))));
  EXPECT_GT(Ink(page, QRect(100, 460, 700, 440)), 200);
}

} // namespace
} // namespace fw
