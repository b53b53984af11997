// C-FIND over a scripted peer: the request as it goes out (command and
// identifier in their PDUs), the responses FindNext and CFind::ReadRSP turn
// into records or results, and a name with "Ü" both ways.
#include "dicom/DcmObj.h"
#include "net/association/PDU_Service.h"
#include "net/query/CFind.h"
#include "net/query/FindQuery.h"
#include "net/query/StudyInfo.h"
#include "net/query/TWorklistItem.h"
#include "tests/net/AssociationScripts.h"
#include "tests/net/FindTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fw {
namespace {

using test::Elem;
using test::kDataSet;
using test::kNoDataSet;
using test::Le16;
using test::Le32;
using test::LogCapture;
using test::PDataPdu;
using test::Pdv;
using test::Response;
using test::ResponseCommand;
using test::ScriptedPeer;

std::string Match(std::string_view name) { return Elem(0x0010, 0x0010, name) + Elem(0x0010, 0x0020, "PID1"); }

// The station's side of one study search against a peer that answers with
// `responses` once it has the request.
class StudySearch {
public:
  explicit StudySearch(const std::string &responses, StudyInfo query = {}) {
    query_ = query;
    DcmObj identifier;
    BuildStudyKeys(query, identifier);
    identifierBytes_ = test::Encoded(identifier);
    requestBytes_ = (6 + 6 + 88) + (6 + 6 + identifierBytes_.size());
    peer_.Receive(test::RequestSize(STUDY_ROOT_FIND_UID, {"1.2.840.10008.1.2"}))
        .Send(test::AcceptPdu(test::AcceptItem(1, 0, "1.2.840.10008.1.2")))
        .Receive(requestBytes_)
        .Send(responses)
        .Receive(10)
        .Send(test::kReleaseRP)
        .ReceiveUntilClosed()
        .Start();
  }

  // Opens, queries and reads responses while they are pending; the results
  // of FindNext in order.
  std::vector<int> Run() {
    std::vector<int> results;
    EXPECT_TRUE(service_.OpenAssociation("127.0.0.1", peer_.PortText(), "QUILLBROOK", "PACS", STUDY_ROOT_FIND_UID, 5));
    FindList list{query_};
    EXPECT_TRUE(FindQuery(service_, list, STUDY_ROOT_FIND_UID, "STUDY"));
    EXPECT_TRUE(list.empty()) << "the query record is consumed";
    int status = FIND_PENDING;
    while (IsPendingStatus(status)) {
      status = FindNext(service_, records, "STUDY");
      results.push_back(status);
    }
    service_.ReleaseAssociation();
    EXPECT_TRUE(peer_.Wait());
    return results;
  }

  // What the station sent after its association request.
  std::string Sent() const {
    return peer_.Received().substr(test::RequestSize(STUDY_ROOT_FIND_UID, {"1.2.840.10008.1.2"}));
  }
  const std::string &IdentifierBytes() const { return identifierBytes_; }

  FindList records;

private:
  StudyInfo query_;
  std::string identifierBytes_;
  std::size_t requestBytes_ = 0;
  ScriptedPeer peer_;
  PDU_Service service_;
};

TEST(FindExchangeTest, RequestIsCommandThenIdentifierOnContextOne) {
  StudyInfo query;
  query.patientID = "123";
  StudySearch search(Response(0), query);
  EXPECT_EQ(search.Run(), std::vector<int>{0});
  EXPECT_TRUE(search.records.empty());

  DcmObj command;
  CFind::BuildRQ(command, STUDY_ROOT_FIND_UID, 3);
  const std::string expected =
      PDataPdu(Pdv(1, 0x03, test::Encoded(command))) + PDataPdu(Pdv(1, 0x02, search.IdentifierBytes()));
  EXPECT_EQ(search.Sent().substr(0, expected.size()), expected);
  EXPECT_EQ(search.Sent().substr(expected.size()), test::kReleaseRQ);
}

struct ResponsesCase {
  const char *name;
  std::string responses;
  std::vector<int> results;
  std::vector<std::string> patientNames; // of the records appended
  std::vector<std::string> log;
};

class FindNextTest : public ::testing::TestWithParam<ResponsesCase> {};

TEST_P(FindNextTest, AppendsOneRecordPerResponseThatIsNotTheEnd) {
  LogCapture log;
  StudySearch search(GetParam().responses);
  EXPECT_EQ(search.Run(), GetParam().results);
  std::vector<std::string> names;
  for (const FindRecord &record : search.records) {
    names.push_back(std::get<StudyInfo>(record).patientName);
  }
  EXPECT_EQ(names, GetParam().patientNames);
  EXPECT_EQ(log.Messages(), GetParam().log);
}

INSTANTIATE_TEST_SUITE_P(
    Responses, FindNextTest,
    ::testing::Values(
        ResponsesCase{"ThreeMatches",
                      Response(0xFF00, Match("A^A")) + Response(0xFF00, Match("B,B")) + Response(0xFF01, Match("C^C")) +
                          Response(0),
                      {0xFF00, 0xFF00, 0xFF01, 0},
                      {"A^A", "B^B", "C^C"},
                      {}},
        ResponsesCase{"NoMatch", Response(0), {0}, {}, {}},
        // A final success that still carries an identifier adds nothing.
        ResponsesCase{"FinalWithIdentifier", Response(0, Match("X")), {0}, {}, {}},
        ResponsesCase{"FailureWithoutIdentifierAddsEmptyRecord", Response(0xA700), {0xA700}, {""}, {}},
        ResponsesCase{"MatchThenFailure",
                      Response(0xFF00, Match("A^A")) + Response(0xC000, Match("ERR")),
                      {0xFF00, 0xC000},
                      {"A^A", "ERR"},
                      {}},
        ResponsesCase{"PendingWithoutIdentifierAddsEmptyRecord", Response(0xFF00) + Response(0), {0xFF00, 0}, {""}, {}},
        ResponsesCase{"NotAFindResponse", PDataPdu(Pdv(1, 0x03, ResponseCommand(0, kNoDataSet, 0x8001))), {-1}, {}, {}},
        ResponsesCase{"ResponseWithoutStatus",
                      PDataPdu(Pdv(1, 0x03, ResponseCommand(-1, kNoDataSet))),
                      {-1},
                      {},
                      {"ERROR, CFind::ReadRSP, no status"}},
        // A response to another request ends the search and the association.
        ResponsesCase{"ResponseToAnotherRequest",
                      PDataPdu(Pdv(1, 0x03, ResponseCommand(0xFF00, kNoDataSet, 0x8020, 5))) + Response(0),
                      {-1},
                      {},
                      {"ERROR, CFind::ReadRSP, response to message 5 instead of 3"}},
        ResponsesCase{"PeerAbortsBeforeIdentifier",
                      PDataPdu(Pdv(1, 0x03, ResponseCommand(0xFF00, kDataSet))) + test::kAbort,
                      {-1},
                      {},
                      {"WARNING, PDU_Service::Read Abort-RQ"}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FindExchangeTest, AccentedNameGoesOutInLatin1AndComesBackFromUtf8) {
  StudyInfo query;
  query.patientName = "M\xC3\x9CLLER*";
  const std::string utf8Match = Elem(0x0008, 0x0005, "ISO_IR 192") + Elem(0x0010, 0x0010, "M\xC3\x9CLLER^J\xC3\x96RG ");
  StudySearch search(Response(0xFF00, utf8Match) + Response(0), query);
  search.Run();

  const std::string sent = search.IdentifierBytes();
  EXPECT_EQ(sent.substr(0, 18), Elem(0x0008, 0x0005, "ISO_IR 100"));
  EXPECT_NE(sent.find(Elem(0x0010, 0x0010, "M\xDCLLER* ")), std::string::npos);
  EXPECT_NE(search.Sent().find(sent), std::string::npos);
  ASSERT_EQ(search.records.size(), 1u);
  EXPECT_EQ(std::get<StudyInfo>(search.records[0]).patientName, "M\xC3\x9CLLER^J\xC3\x96RG");
}

TEST(FindExchangeTest, GreekNameGoesOutInUtf8AndComesBackFromIso8859_7) {
  StudyInfo query;
  query.patientName = "\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82*";
  const std::string greekMatch =
      Elem(0x0008, 0x0005, "ISO_IR 126") + Elem(0x0010, 0x0010, "\xC3\xE9\xFE\xF1\xE3\xEF\xF2^A ");
  StudySearch search(Response(0xFF00, greekMatch) + Response(0), query);
  search.Run();

  const std::string sent = search.IdentifierBytes();
  EXPECT_EQ(sent.substr(0, 18), Elem(0x0008, 0x0005, "ISO_IR 192"));
  EXPECT_NE(sent.find(Elem(0x0010, 0x0010, "\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82* ")),
            std::string::npos);
  ASSERT_EQ(search.records.size(), 1u);
  EXPECT_EQ(std::get<StudyInfo>(search.records[0]).patientName,
            "\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82^A");
}

TEST(FindExchangeTest, WorklistSearchReadsStepItemOfEachResponse) {
  TWorklistItem query;
  query.scheduledStartDate = "20240309";
  query.modality = "US";
  DcmObj identifier;
  BuildWorklistKeys(query, identifier);
  const std::string identifierBytes = test::Encoded(identifier);
  const std::string match =
      Elem(0x0010, 0x0010, "DOE^JOHN") +
      test::FlatSequence(0x0040, 0x0100, test::FlatItem(Elem(0x0008, 0x0060, "US") + Elem(0x0040, 0x0002, "20240309")));
  ScriptedPeer peer;
  peer.Receive(test::RequestSize(MODALITY_WORKLIST_FIND_UID, {"1.2.840.10008.1.2"}))
      .Send(test::AcceptPdu(test::AcceptItem(1, 0, "1.2.840.10008.1.2")))
      .Receive((6 + 6 + 82) + (6 + 6 + identifierBytes.size()))
      .Send(Response(0xFF00, match) + Response(0))
      .Receive(10)
      .Send(test::kReleaseRP)
      .ReceiveUntilClosed()
      .Start();
  PDU_Service service;
  ASSERT_TRUE(
      service.OpenAssociation("127.0.0.1", peer.PortText(), "QUILLBROOK", "WORKLIST", MODALITY_WORKLIST_FIND_UID, 5));
  ASSERT_TRUE(CFind::WriteRQ(service, identifier, MODALITY_WORKLIST_FIND_UID));
  DcmObj response;
  EXPECT_EQ(CFind::ReadRSP(service, response), 0xFF00);
  TWorklistItem item;
  ReadWorklistItem(item, response);
  EXPECT_EQ(item.patientName, "DOE^JOHN");
  EXPECT_EQ(item.scheduledStartDate, "20240309");
  EXPECT_EQ(item.modality, "US");
  response.Clear();
  EXPECT_EQ(CFind::ReadRSP(service, response), 0);
  EXPECT_EQ(response.Count(), 0u);
  service.ReleaseAssociation();
  ASSERT_TRUE(peer.Wait());
  DcmObj command;
  CFind::BuildRQ(command, MODALITY_WORKLIST_FIND_UID, 3);
  const std::size_t requestSize = test::RequestSize(MODALITY_WORKLIST_FIND_UID, {"1.2.840.10008.1.2"});
  EXPECT_EQ(peer.Received().substr(requestSize, 6 + 6 + 82), PDataPdu(Pdv(1, 0x03, test::Encoded(command))));
}

TEST(FindQueryTest, RefusesRecordOfAnotherLevelAndEmptyList) {
  LogCapture log;
  PDU_Service service; // never opened: nothing may be sent
  FindList empty;
  EXPECT_FALSE(FindQuery(service, empty, STUDY_ROOT_FIND_UID, "STUDY"));
  FindList series{SeriesInfo{}};
  EXPECT_FALSE(FindQuery(service, series, STUDY_ROOT_FIND_UID, "STUDY"));
  EXPECT_EQ(series.size(), 1u);
  EXPECT_EQ(FindNext(service, series, "PATIENT"), -1);
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{"ERROR, FindQuery, no query record",
                                                      "ERROR, FindQuery, the query record does not fit the level STUDY",
                                                      "ERROR, FindNext, unknown level PATIENT"}));
}

TEST(FindQueryTest, RecordsOfEachLevel) {
  DcmObj identifier;
  ASSERT_TRUE(test::DecodeImplicit(
      Elem(0x0020, 0x000D, "1.2 ") + Elem(0x0020, 0x000E, "1.2.3 ") + Elem(0x0028, 0x0010, Le16(480)), identifier));
  FindList list;
  EXPECT_TRUE(AppendFindRecord(list, "STUDY", identifier));
  EXPECT_TRUE(AppendFindRecord(list, "SERIES", identifier));
  EXPECT_TRUE(AppendFindRecord(list, "IMAGE", identifier));
  EXPECT_FALSE(AppendFindRecord(list, "PATIENT", identifier));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(std::get<StudyInfo>(list[0]).studyInstanceUID, "1.2");
  EXPECT_EQ(std::get<SeriesInfo>(list[1]).seriesInstanceUID, "1.2.3");
  EXPECT_EQ(std::get<ImageInfo>(list[2]).rows, 480);
}

} // namespace
} // namespace fw
