// acquisition_uid_worker HOME OPENINGS OUT LETTER: one station process for
// the UID tests. It makes OPENINGS acquisitions one after the other in the
// program folder HOME, all at the same minute for the typed patient
// LETTER LETTER "1001" with the Accession Number "ACC-0001" shared by every
// worker (the old base UID kept only "1001", "0001" and the minute; the shared
// number also makes the workers' file names meet in temp/), each with one still,
// and writes to OUT one line per opening: "<study> <series> <SOP instance>"
// of the still. Then ten generated accession numbers, "ACC <number>", all
// at the same minute, and "done". Exit 0 when every still was saved.
#include "acquisition/AcquisitionSession.h"
#include "dicom/DcmObj.h"
#include "station/AccessionNumber.h"
#include "tests/acquisition/FakeFrameSource.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char **argv) {
  if (argc != 5 || std::string(argv[4]).size() != 1) {
    std::fprintf(stderr, "usage: acquisition_uid_worker HOME OPENINGS OUT LETTER\n");
    return 2;
  }
  const std::string home = std::string(argv[1]) + "/";
  const int openings = std::atoi(argv[2]);
  std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
  std::error_code error;
  std::filesystem::create_directories(home + "temp", error);

  std::tm now{};
  now.tm_year = 124;
  now.tm_mon = 2;
  now.tm_mday = 9;
  now.tm_hour = 14;
  now.tm_min = 5;
  fw::StudyInfo context;
  const std::string letter = argv[4];
  context.patientID = letter + letter + "1001";
  context.patientName = "Doe^Jane";
  // The same in every process: saves into one program folder must still
  // each get a file of their own.
  context.accessionNumber = "ACC-0001";
  context.modality = "US";
  context.studyDate = "20240309";
  context.studyTime = "140500";
  fw::setupcfg config;
  fw::test::FakeFrameSource source;
  fw::AcquisitionSessionSetup setup;
  setup.grabber = &source;
  setup.programFolder = home;
  setup.context = &context;
  setup.config = &config;
  setup.clock = [&] { return now; };
  // Closing with unsent files asks; without an operator it is answered Yes.
  setup.messages = [](const fw::MessageRequest &) { return fw::MessageAnswer::Yes; };
  fw::AcquisitionSession session(std::move(setup));

  for (int i = 0; i < openings; ++i) {
    context.studyInstanceUID.clear(); // as the main window's Acquire does for a typed patient
    session.Open();
    if (!session.Snap()) {
      std::fprintf(stderr, "opening %d: the still was not saved\n", i);
      return 1;
    }
    fw::DcmObj still;
    if (!still.Read(session.Files().front().path)) {
      std::fprintf(stderr, "opening %d: the still cannot be read\n", i);
      return 1;
    }
    out << still.FindText(0x0020, 0x000D) << ' ' << still.FindText(0x0020, 0x000E) << ' '
        << still.FindText(0x0008, 0x0018) << '\n';
    session.Close();
  }
  for (int i = 0; i < 10; ++i) {
    out << "ACC " << fw::GenerateAccessionNumber(now) << '\n';
  }
  out << "done\n";
  out.flush();
  return out ? 0 : 1;
}
