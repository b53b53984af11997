// C-ECHO and C-STORE over an association played from memory: the command
// sets byte for byte, the handling of responses, the association proposing a
// context per SOP class, WriteStoreRQ's choice of context and conversion,
// and the outcomes of the store step for a file.
#include "dicom/BufData.h"
#include "dicom/DcmCodec.h"
#include "net/association/PDU_Service.h"
#include "net/dimse/CEcho.h"
#include "net/dimse/CStore.h"
#include "net/dimse/StoreRequest.h"
#include "net/dimse/StoreStep.h"
#include "net/link/MemorySocket.h"
#include "tests/net/AssociationScripts.h"
#include "tests/net/FindTestSupport.h"
#include "tests/net/StoreTestObjects.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::Elem;
using test::Le16;
using test::Le32;
using test::LogCapture;

constexpr std::string_view SC = "1.2.840.10008.5.1.4.1.1.7";
constexpr std::string_view SR = "1.2.840.10008.5.1.4.1.1.88.11";

std::string Uid(std::string_view uid) {
  std::string value(uid);
  if (value.size() % 2) {
    value.push_back('\0');
  }
  return value;
}

std::string Encode(DcmObj &c) {
  BufData stream(false);
  WriteObj(stream, c);
  return std::string(stream.Bytes().begin(), stream.Bytes().end());
}

// Decodes a data set sent in the given transfer syntax.
std::unique_ptr<DcmObj> Decode(std::string_view bytes, std::string_view syntax) {
  auto c = std::make_unique<DcmObj>();
  c->transferSyntax = std::string(syntax);
  c->explicitVR = syntax != IMPLICIT_VR_LITTLE_ENDIAN;
  BufData stream(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), false);
  EXPECT_TRUE(ReadOjb(stream, *c));
  return c;
}

std::string PixelBytes(const DcmObj &c) {
  const DcmTag *pixels = c.FindElement(0x7FE0, 0x0010);
  return pixels == nullptr ? std::string() : std::string(pixels->data.begin(), pixels->data.end());
}

// The message ID of the first request after an accept of one context: the
// context and accept draws leave the counter at 3.
constexpr std::uint16_t FIRST_MESSAGE_ID = 3;

// A response command: the field, the request it answers, and Status unless
// status is negative; withDataSet announces a data set and sends one.
std::string ResponsePdu(std::uint16_t field, int status, std::uint8_t contextID = 1,
                        std::uint16_t answers = FIRST_MESSAGE_ID, bool withDataSet = false) {
  std::string body = Elem(0, 0x0002, Uid(SC)) + Elem(0, 0x0100, Le16(field)) + Elem(0, 0x0120, Le16(answers)) +
                     Elem(0, 0x0800, Le16(withDataSet ? 0x0102 : 0x0101));
  if (status >= 0) {
    body += Elem(0, 0x0900, Le16(static_cast<unsigned>(status)));
  }
  std::string pdus =
      test::PDataPdu(test::Pdv(contextID, 0x03, Elem(0, 0x0000, Le32(static_cast<std::uint32_t>(body.size()))) + body));
  if (withDataSet) {
    pdus += test::PDataPdu(test::Pdv(contextID, 0x02, Elem(0x0008, 0x0018, Uid("1.2.3"))));
  }
  return pdus;
}

// An association whose peer's bytes (accept, then responses) are played
// from memory; Sent() is what the station wrote after its request.
class Played {
public:
  explicit Played(const std::string &incoming) {
    auto socket = std::make_unique<MemorySocket>(incoming);
    socket_ = socket.get();
    service = std::make_unique<PDU_Service>(std::move(socket));
  }
  bool OpenSingle(std::string_view abstractSyntax, std::string_view ts1 = {}, std::string_view ts2 = {}) {
    const bool open = service->OpenAssociation("127.0.0.1", "1", "QUILLBROOK", "ANY-SCP", abstractSyntax, ts1, ts2, 5);
    requestSize_ = socket_->Sent().size();
    return open;
  }
  bool OpenMulti(const std::vector<ProposedContext> &contexts) {
    const bool open = service->OpenAssociation({"127.0.0.1", "1", "QUILLBROOK", "ANY-SCP", 5}, contexts);
    requestSize_ = socket_->Sent().size();
    return open;
  }
  std::string Request() const { return socket_->Sent().substr(0, requestSize_); }
  std::string Sent() const { return socket_->Sent().substr(requestSize_); }

  std::unique_ptr<PDU_Service> service;

private:
  MemorySocket *socket_ = nullptr;
  std::size_t requestSize_ = 0;
};

TEST(CommandSetTest, EchoAndStoreRequestsByteForByte) {
  DcmObj echo;
  CEcho::BuildRQ(echo, VERIFICATION_SOP_CLASS, 7);
  std::string body = Elem(0, 0x0002, Uid(VERIFICATION_SOP_CLASS)) + Elem(0, 0x0100, Le16(0x0030)) +
                     Elem(0, 0x0110, Le16(7)) + Elem(0, 0x0800, Le16(0x0101));
  EXPECT_EQ(echo.FindElement(0, 0)->GetUS(), 56);
  EXPECT_EQ(Encode(echo), Elem(0, 0, Le32(56)) + body);

  struct Case {
    std::string_view instance;
    std::uint32_t groupLength;
  };
  for (const Case &c : {Case{"1.2.3.4.5", 92}, Case{"", 74}}) {
    SCOPED_TRACE(std::string(c.instance));
    DcmObj store;
    CStore::BuildRQ(store, SC, c.instance, 9);
    body = Elem(0, 0x0002, Uid(SC)) + Elem(0, 0x0100, Le16(0x0001)) + Elem(0, 0x0110, Le16(9)) +
           Elem(0, 0x0700, Le16(0)) + Elem(0, 0x0800, Le16(0x0102));
    if (!c.instance.empty()) {
      body += Elem(0, 0x1000, Uid(c.instance));
    }
    ASSERT_EQ(body.size(), c.groupLength);
    EXPECT_EQ(Encode(store), Elem(0, 0, Le32(c.groupLength)) + body);
  }
}

struct StoreResponseCase {
  const char *name;
  std::string response; // after the accept
  int result;
  const char *line; // expected log line, or null for none
  bool associationGoesOn = true;
  std::string sent = ""; // what the station sends after its request
};

class StoreResponseTest : public testing::TestWithParam<StoreResponseCase> {};

TEST_P(StoreResponseTest, StatusOrFailure) {
  const StoreResponseCase &c = GetParam();
  LogCapture log;
  // When the association goes on, a second response follows.
  Played played(test::ImplicitAccept() + c.response + (c.associationGoesOn ? ResponsePdu(0x8001, 0xA700) : ""));
  ASSERT_TRUE(played.OpenSingle(SC));
  played.service->SetRequestMessageID(FIRST_MESSAGE_ID); // as a request would have set it
  EXPECT_EQ(ReadStoreRSP(*played.service), c.result);
  const auto errors = log.StartingWith("ERROR, CStore::ReadRSP");
  if (c.line == nullptr) {
    EXPECT_TRUE(errors.empty());
  } else {
    EXPECT_EQ(errors, std::vector<std::string>{c.line});
  }
  EXPECT_EQ(played.service->IsOpen(), c.associationGoesOn);
  EXPECT_EQ(played.Sent(), c.sent);
  if (c.associationGoesOn) {
    // Nothing of this response is left to be taken for the next one.
    EXPECT_EQ(ReadStoreRSP(*played.service), 0xA700);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Responses, StoreResponseTest,
    testing::Values(
        StoreResponseCase{"Success", ResponsePdu(0x8001, 0), 0, nullptr},
        StoreResponseCase{"CoercionWarningIsNotStored", ResponsePdu(0x8001, 0xB000), 0xB000,
                          "ERROR, CStore::ReadRSP, status == 45056"},
        StoreResponseCase{"OutOfResources", ResponsePdu(0x8001, 0xA700), 0xA700,
                          "ERROR, CStore::ReadRSP, status == 42752"},
        StoreResponseCase{"MissingStatus", ResponsePdu(0x8001, -1), -2, "ERROR, CStore::ReadRSP, no status"},
        StoreResponseCase{"EchoResponse", ResponsePdu(0x8030, 0), -2, "ERROR, CStore::ReadRSP, not a C-Store RSP"},
        StoreResponseCase{"AnnouncedDataSetIsReadAndDropped", ResponsePdu(0x8001, 0, 1, FIRST_MESSAGE_ID, true), 0,
                          nullptr},
        // A response to another request aborts the association.
        StoreResponseCase{"AnswersAnotherRequest", ResponsePdu(0x8001, 0, 1, 5), -2,
                          "ERROR, CStore::ReadRSP, response to message 5 instead of 3", false, test::kAbort},
        StoreResponseCase{"WrongMessageIdBeingRespondedTo", ResponsePdu(0x8001, 0, 1, 0), -2,
                          "ERROR, CStore::ReadRSP, response to message 0 instead of 3", false, test::kAbort},
        StoreResponseCase{"NoResponse", "", -1, "ERROR, CStore::ReadRSP, PDU->Read DCO failed", false}),
    [](const testing::TestParamInfo<StoreResponseCase> &info) { return std::string(info.param.name); });

TEST(EchoResponseTest, OnlyEchoResponseWithSuccessPasses) {
  struct Case {
    std::uint16_t field;
    int status;
    bool passes;
    std::uint16_t answers = FIRST_MESSAGE_ID;
  };
  for (const Case &c : {Case{0x8030, 0, true}, Case{0x8030, 0x0001, false}, Case{0x8001, 0, false},
                        Case{0x8030, -1, false}, Case{0x8030, 0, false, 5}}) {
    SCOPED_TRACE(c.field);
    SCOPED_TRACE(c.status);
    SCOPED_TRACE(c.answers);
    Played played(test::ImplicitAccept() + ResponsePdu(c.field, c.status, 1, c.answers));
    ASSERT_TRUE(played.OpenSingle(VERIFICATION_SOP_CLASS));
    ASSERT_TRUE(CEcho::WriteRQ(*played.service, VERIFICATION_SOP_CLASS));
    EXPECT_EQ(CEcho::ReadRSP(*played.service), c.passes);
    const auto sent = test::SentMessages(played.Sent());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].command);
    EXPECT_EQ(sent[0].contextID, 1);
  }
}

TEST(StoreAssociationTest, ProposesOneContextPerSopClassWithOddIds) {
  Played played(test::AcceptPdu(test::AcceptItem(1, 0, EXPLICIT_VR_LITTLE_ENDIAN)));
  ASSERT_TRUE(played.OpenMulti(
      {{std::string(test::US_IMAGE_STORAGE),
        {std::string(JPEG_BASELINE), std::string(EXPLICIT_VR_LITTLE_ENDIAN), std::string(IMPLICIT_VR_LITTLE_ENDIAN)}},
       {std::string(test::US_MULTIFRAME_STORAGE), {std::string(IMPLICIT_VR_LITTLE_ENDIAN)}},
       {std::string(SC), {}}}));
  const auto context = [](std::uint8_t id, std::string_view abstract, const std::vector<std::string_view> &syntaxes) {
    std::string body = std::string(1, static_cast<char>(id)) + std::string(3, '\0') + test::Item(0x30, abstract);
    for (std::string_view syntax : syntaxes) {
      body += test::Item(0x40, syntax);
    }
    return test::Item(0x20, body);
  };
  const std::string expected =
      context(1, test::US_IMAGE_STORAGE, {JPEG_BASELINE, EXPLICIT_VR_LITTLE_ENDIAN, IMPLICIT_VR_LITTLE_ENDIAN}) +
      context(3, test::US_MULTIFRAME_STORAGE, {IMPLICIT_VR_LITTLE_ENDIAN}) +
      context(5, SC, {IMPLICIT_VR_LITTLE_ENDIAN});
  EXPECT_NE(played.Request().find(expected), std::string::npos);
  EXPECT_EQ(played.service->ProposedAbstractSyntax(3), test::US_MULTIFRAME_STORAGE);
  EXPECT_EQ(played.service->ProposedAbstractSyntax(7), "");
}

const std::string kJpeg(JPEG_BASELINE);
const std::string kJ2k(JPEG_2000);
const std::string kExplicit(EXPLICIT_VR_LITTLE_ENDIAN);
const std::string kImplicit(IMPLICIT_VR_LITTLE_ENDIAN);
const std::vector<std::string> kUncompressed = {kExplicit, kImplicit};

std::vector<std::pair<std::string, std::vector<std::string>>> Flat(const std::vector<ProposedContext> &contexts) {
  std::vector<std::pair<std::string, std::vector<std::string>>> flat;
  for (const ProposedContext &context : contexts) {
    flat.emplace_back(context.abstractSyntax, context.transferSyntaxes);
  }
  return flat;
}

// Each compressed syntax of a class on a context of its own, then one
// uncompressed context, class after class in order of first appearance.
TEST(StoreAssociationTest, ProposeStorageContextsKeepsCompressedSyntaxesApart) {
  const std::string us(test::US_IMAGE_STORAGE);
  const std::string usMulti(test::US_MULTIFRAME_STORAGE);
  const std::string sc(SC);
  struct Case {
    const char *name;
    std::vector<StorageClass> classes;
    std::vector<std::pair<std::string, std::vector<std::string>>> expected;
  } cases[] = {
      {"JpegAloneThenUncompressed", {{us, {kJpeg}}}, {{us, {kJpeg}}, {us, kUncompressed}}},
      {"UncompressedOwnSyntaxesShareOneContext", {{us, {kImplicit, kExplicit}}}, {{us, kUncompressed}}},
      {"NoOwnSyntaxStillUncompressed", {{sc, {}}}, {{sc, kUncompressed}}},
      {"RepeatsJoinTheFirst",
       {{us, {kJpeg}}, {us, {kJ2k, kJpeg}}, {us, {kExplicit}}},
       {{us, {kJpeg}}, {us, {kJ2k}}, {us, kUncompressed}}},
      {"FirstAppearanceOrder",
       {{usMulti, {kJpeg}}, {us, {kJpeg}}, {usMulti, {kJpeg}}, {sc, {kJpeg}}},
       {{usMulti, {kJpeg}},
        {usMulti, kUncompressed},
        {us, {kJpeg}},
        {us, kUncompressed},
        {sc, {kJpeg}},
        {sc, kUncompressed}}},
      {"EmptyClassPassedOver", {{"", {kJpeg}}, {us, {kJpeg}}}, {{us, {kJpeg}}, {us, kUncompressed}}},
      {"NoClasses", {}, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Flat(ProposeStorageContexts(c.classes)), c.expected);
  }
  // The station's own form: the same syntaxes for every class; implicit VR
  // among them asks for nothing more.
  EXPECT_EQ(Flat(ProposeStorageContexts(std::vector<std::string>{us, us, sc}, {kJpeg, kImplicit})),
            (std::vector<std::pair<std::string, std::vector<std::string>>>{
                {us, {kJpeg}}, {us, kUncompressed}, {sc, {kJpeg}}, {sc, kUncompressed}}));
}

// At most 128 contexts: while two per class fit, every class has both; past
// that the last classes share one context, and classes past the 128th are
// left out.
TEST(StoreAssociationTest, ProposeStorageContextsStaysWithin128) {
  struct Case {
    std::size_t classes;
    std::size_t separate; // classes with a JPEG context of their own
    std::size_t kept;     // classes proposed at all
  } cases[] = {{64, 64, 64}, {65, 63, 65}, {100, 28, 100}, {128, 0, 128}, {130, 0, 128}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.classes);
    std::vector<std::string> classes;
    for (std::size_t i = 0; i < c.classes; ++i) {
      classes.push_back("1.2.826.0.1.3680043.9.7777.5." + std::to_string(i + 1));
    }
    const std::vector<ProposedContext> contexts = ProposeStorageContexts(classes, {kJpeg});
    EXPECT_LE(contexts.size(), MAX_PRESENTATION_CONTEXTS);
    std::vector<std::string> proposedClasses;
    std::size_t separate = 0;
    for (const ProposedContext &context : contexts) {
      if (proposedClasses.empty() || proposedClasses.back() != context.abstractSyntax) {
        proposedClasses.push_back(context.abstractSyntax);
      }
      if (context.transferSyntaxes == std::vector<std::string>{kJpeg}) {
        ++separate;
      } else {
        // Every class keeps a way to be sent uncompressed, and JPEG where shared.
        const std::vector<std::string> &ts = context.transferSyntaxes;
        EXPECT_EQ(std::vector<std::string>(ts.end() - 2, ts.end()), kUncompressed);
      }
    }
    EXPECT_EQ(separate, c.separate);
    ASSERT_EQ(proposedClasses.size(), c.kept);
    EXPECT_EQ(proposedClasses, std::vector<std::string>(classes.begin(), classes.begin() + c.kept));
    if (c.separate < c.kept) {
      EXPECT_EQ(contexts.back().transferSyntaxes, (std::vector<std::string>{kJpeg, kExplicit, kImplicit}));
    }
  }
}

// The station proposes for US and SC each JPEG alone (1, 5) and uncompressed
// (3, 7); which context an object goes on, by what the peer accepted.
TEST(StoreAssociationTest, AcceptedContextForPrefersTheObjectsOwnSyntax) {
  const std::string us(test::US_IMAGE_STORAGE);
  struct Case {
    const char *name;
    std::string acceptItems;
    std::string objectSyntax;
    std::uint8_t expected;
  } cases[] = {
      {"JpegTakenAsItIs", test::AcceptItem(1, 0, kJpeg) + test::AcceptItem(3, 0, kExplicit), kJpeg, 1},
      {"UncompressedOnItsOwnContext", test::AcceptItem(1, 0, kJpeg) + test::AcceptItem(3, 0, kImplicit), kImplicit, 3},
      {"ExplicitObjectOnImplicitContext", test::AcceptItem(1, 0, kJpeg) + test::AcceptItem(3, 0, kImplicit), kExplicit,
       3},
      {"JpegRefusedConverted", test::AcceptItem(1, 4, kJpeg) + test::AcceptItem(3, 0, kImplicit), kJpeg, 3},
      {"PeerOrderDoesNotMatter", test::AcceptItem(3, 0, kExplicit) + test::AcceptItem(1, 0, kJpeg), kJpeg, 1},
      {"OnlyJpegForAnUncompressedObject", test::AcceptItem(1, 0, kJpeg) + test::AcceptItem(3, 4, kImplicit), kExplicit,
       1},
      {"NothingForTheClass", test::AcceptItem(5, 0, kJpeg) + test::AcceptItem(7, 0, kImplicit), kJpeg, 0},
      {"NoObjectSyntaxPrefersUncompressed", test::AcceptItem(1, 0, kJpeg) + test::AcceptItem(3, 0, kExplicit), "", 3},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Played played(test::AcceptPdu(c.acceptItems));
    ASSERT_TRUE(played.OpenMulti(ProposeStorageContexts(std::vector<std::string>{us, std::string(SC)}, {kJpeg})));
    EXPECT_EQ(played.service->ContextFor(us, c.objectSyntax), c.expected);
  }
}

TEST(StoreAssociationTest, RefusesEmptyProposal) {
  LogCapture log;
  Played played(test::ImplicitAccept());
  EXPECT_FALSE(played.OpenMulti({}));
  EXPECT_TRUE(played.Request().empty());
}

// Three classes proposed; the peer takes the still's with explicit VR, the
// clip's with implicit VR and rejects secondary capture.
class ContextChoiceTest : public testing::Test {
protected:
  void SetUp() override {
    const std::string accept = test::AcceptPdu(test::AcceptItem(1, 0, EXPLICIT_VR_LITTLE_ENDIAN) +
                                               test::AcceptItem(3, 0, IMPLICIT_VR_LITTLE_ENDIAN) +
                                               test::AcceptItem(5, 3, IMPLICIT_VR_LITTLE_ENDIAN));
    // Three context and three accept draws leave the counter at 9.
    played_ = std::make_unique<Played>(accept + ResponsePdu(0x8001, 0, 1, 9) + ResponsePdu(0x8001, 0, 3, 11));
    const std::vector<std::string> syntaxes = {std::string(JPEG_BASELINE), std::string(EXPLICIT_VR_LITTLE_ENDIAN),
                                               std::string(IMPLICIT_VR_LITTLE_ENDIAN)};
    ASSERT_TRUE(played_->OpenMulti({{std::string(test::US_IMAGE_STORAGE), syntaxes},
                                    {std::string(test::US_MULTIFRAME_STORAGE), syntaxes},
                                    {std::string(SC), syntaxes}}));
  }
  std::unique_ptr<Played> played_;
};

TEST_F(ContextChoiceTest, EachObjectTravelsOnTheContextOfItsOwnClass) {
  auto still = test::MakeImage(test::US_IMAGE_STORAGE, "1.2.3.1", 1);
  auto clip = test::MakeImage(test::US_MULTIFRAME_STORAGE, "1.2.3.2", 3);
  ASSERT_TRUE(still && clip);
  // The caller's class is the last one built; each object keeps its own.
  EXPECT_EQ(WriteStoreRQ(*played_->service, *still, test::US_MULTIFRAME_STORAGE), 0);
  EXPECT_EQ(ReadStoreRSP(*played_->service), 0);
  EXPECT_EQ(WriteStoreRQ(*played_->service, *clip, test::US_MULTIFRAME_STORAGE), 0);
  EXPECT_EQ(ReadStoreRSP(*played_->service), 0);

  const auto sent = test::SentMessages(played_->Sent());
  ASSERT_EQ(sent.size(), 4u);
  const struct {
    std::uint8_t context;
    std::string_view sopClass;
    std::string_view instance;
    std::string_view syntax;
  } expected[] = {{1, test::US_IMAGE_STORAGE, "1.2.3.1", EXPLICIT_VR_LITTLE_ENDIAN},
                  {3, test::US_MULTIFRAME_STORAGE, "1.2.3.2", IMPLICIT_VR_LITTLE_ENDIAN}};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const test::SentMessage &command = sent[2 * i];
    const test::SentMessage &data = sent[2 * i + 1];
    EXPECT_TRUE(command.command);
    EXPECT_FALSE(data.command);
    EXPECT_EQ(command.contextID, expected[i].context);
    EXPECT_EQ(data.contextID, expected[i].context);
    auto decodedCommand = Decode(command.bytes, IMPLICIT_VR_LITTLE_ENDIAN);
    const std::string affected = Uid(expected[i].sopClass);
    EXPECT_EQ(decodedCommand->FindElement(0, 0x0002)->data,
              std::vector<std::uint8_t>(affected.begin(), affected.end()));
    EXPECT_EQ(decodedCommand->FindText(0, 0x1000).substr(0, expected[i].instance.size()), expected[i].instance);
    // The data set arrives uncompressed, its pixels those of the JPEG decoded.
    auto reference = test::MakeImage(expected[i].sopClass, "1.2.3", i == 0 ? 1 : 3);
    ASSERT_TRUE(ConvertTransferSyntax(*reference, expected[i].syntax));
    auto decoded = Decode(data.bytes, expected[i].syntax);
    EXPECT_FALSE(PixelBytes(*decoded).empty());
    EXPECT_EQ(PixelBytes(*decoded), PixelBytes(*reference));
  }
}

TEST_F(ContextChoiceTest, ClassWithoutAcceptedContextIsNotSent) {
  LogCapture log;
  auto capture = test::MakeImage(SC, "1.2.3.3", 1);
  ASSERT_TRUE(capture);
  EXPECT_EQ(WriteStoreRQ(*played_->service, *capture, test::US_IMAGE_STORAGE), -1);
  EXPECT_TRUE(
      log.Contains(std::string("ERROR, WriteStoreRQ, no accepted presentation context for ") + std::string(SC)));
  EXPECT_TRUE(played_->Sent().empty());
}

// The station's own proposal for a still (JPEG Baseline, implicit VR) and a
// peer that takes implicit VR only.
TEST(WriteStoreRQTest, JpegObjectConvertedWhenOnlyImplicitAccepted) {
  Played played(test::ImplicitAccept());
  ASSERT_TRUE(played.OpenSingle(test::US_IMAGE_STORAGE, JPEG_BASELINE));
  auto still = test::MakeImage(test::US_IMAGE_STORAGE, "1.2.3.4", 1);
  ASSERT_TRUE(still);
  EXPECT_EQ(WriteStoreRQ(*played.service, *still, test::US_IMAGE_STORAGE), 0);

  const auto sent = test::SentMessages(played.Sent());
  ASSERT_EQ(sent.size(), 2u);
  auto reference = test::MakeImage(test::US_IMAGE_STORAGE, "1.2.3.4", 1);
  ASSERT_TRUE(ConvertTransferSyntax(*reference, IMPLICIT_VR_LITTLE_ENDIAN));
  auto decoded = Decode(sent[1].bytes, IMPLICIT_VR_LITTLE_ENDIAN);
  EXPECT_EQ(PixelBytes(*decoded).size(), 64u * 48 * 3);
  EXPECT_EQ(PixelBytes(*decoded), PixelBytes(*reference));
}

// The station's proposal for a still: JPEG alone (1) and uncompressed (3).
// With JPEG accepted the data set goes on 1 exactly as encoded, whatever
// was accepted on 3; only without it is the still decoded for 3.
TEST(WriteStoreRQTest, JpegObjectGoesAsItIsWhenItsContextWasAccepted) {
  struct Case {
    const char *name;
    std::string acceptItems;
    std::uint8_t context;
    std::string_view syntax; // of the data set sent
  } cases[] = {
      {"BothAccepted", test::AcceptItem(1, 0, kJpeg) + test::AcceptItem(3, 0, kImplicit), 1, JPEG_BASELINE},
      {"OnlyJpeg", test::AcceptItem(1, 0, kJpeg) + test::AcceptItem(3, 4, kExplicit), 1, JPEG_BASELINE},
      {"OnlyExplicit", test::AcceptItem(1, 4, kJpeg) + test::AcceptItem(3, 0, kExplicit), 3, EXPLICIT_VR_LITTLE_ENDIAN},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Played played(test::AcceptPdu(c.acceptItems));
    ASSERT_TRUE(played.OpenMulti(ProposeStorageContexts({std::string(test::US_IMAGE_STORAGE)}, {kJpeg})));
    auto still = test::MakeImage(test::US_IMAGE_STORAGE, "1.2.3.8", 1);
    ASSERT_TRUE(still);
    EXPECT_EQ(WriteStoreRQ(*played.service, *still, test::US_IMAGE_STORAGE), 0);
    const auto sent = test::SentMessages(played.Sent());
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].contextID, c.context);
    EXPECT_EQ(sent[1].contextID, c.context);
    auto reference = test::MakeImage(test::US_IMAGE_STORAGE, "1.2.3.8", 1);
    ASSERT_TRUE(ConvertTransferSyntax(*reference, c.syntax));
    EXPECT_TRUE(sent[1].bytes == Encode(*reference)) << "sent " << sent[1].bytes.size() << " bytes";
  }
}

// Once the link is gone, the remaining objects are neither converted nor
// sent: WriteStoreRQ says so at once.
TEST(WriteStoreRQTest, LinkGoneReturnsAtOnceWithoutConverting) {
  Played played(test::ImplicitAccept());
  ASSERT_TRUE(played.OpenSingle(test::US_IMAGE_STORAGE, JPEG_BASELINE));
  played.service->Disconnect();
  auto still = test::MakeImage(test::US_IMAGE_STORAGE, "1.2.3.4", 1);
  ASSERT_TRUE(still);
  const std::string pixelsBefore = PixelBytes(*still);
  EXPECT_EQ(WriteStoreRQ(*played.service, *still, test::US_IMAGE_STORAGE), -4);
  EXPECT_EQ(still->transferSyntax, JPEG_BASELINE) << "not converted";
  EXPECT_EQ(PixelBytes(*still), pixelsBefore);
  EXPECT_EQ(played.Sent(), "");
}

TEST(WriteStoreRQTest, FailedConversionSendsNothing) {
  Played played(test::ImplicitAccept());
  ASSERT_TRUE(played.OpenSingle(test::US_IMAGE_STORAGE, JPEG_BASELINE));
  auto still = test::MakeImage(test::US_IMAGE_STORAGE, "1.2.3.5", 1);
  ASSERT_TRUE(still);
  // A fragment that is no JPEG stream at all.
  DcmObj broken;
  broken.transferSyntax = still->transferSyntax;
  broken.explicitVR = true;
  for (std::size_t i = 0; i < still->Count(); ++i) {
    const DcmTag *element = still->ElementAt(i);
    if (element != nullptr && !element->Is(0x7FE0, 0x0010)) {
      broken.Put(
          DcmTag::FromBytes(element->group, element->element, element->length, element->data.data(), element->VR()));
    }
  }
  const std::string garbage(64, '\x55');
  const std::string encapsulated =
      test::Header(0xFFFE, 0xE000, 0) + test::Elem(0xFFFE, 0xE000, garbage) + test::Header(0xFFFE, 0xE0DD, 0);
  DcmObj source;
  source.transferSyntax = still->transferSyntax;
  source.explicitVR = true;
  LogCapture log;
  // Decode the encapsulated element from bytes the way a file holds it.
  std::string bytes = Le16(0x7FE0) + Le16(0x0010) + "OB" + std::string(2, '\0') + Le32(0xFFFFFFFF) + encapsulated;
  BufData stream(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), false);
  ASSERT_TRUE(ReadOjb(stream, source));
  broken.CopyFrom(source);
  EXPECT_EQ(WriteStoreRQ(*played.service, broken, test::US_IMAGE_STORAGE), -3);
  EXPECT_TRUE(played.Sent().empty());
}

TEST(WriteStoreRQTest, NonImageObjectRelabelledNotConverted) {
  struct Case {
    std::string_view own;
    std::string_view accepted;
    int result;
  };
  for (const Case &c : {Case{EXPLICIT_VR_LITTLE_ENDIAN, IMPLICIT_VR_LITTLE_ENDIAN, 0},
                        Case{IMPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_LITTLE_ENDIAN, 0},
                        Case{EXPLICIT_VR_BIG_ENDIAN, IMPLICIT_VR_LITTLE_ENDIAN, -3}}) {
    SCOPED_TRACE(std::string(c.own) + " -> " + std::string(c.accepted));
    LogCapture log;
    Played played(test::AcceptPdu(test::AcceptItem(1, 0, c.accepted)));
    ASSERT_TRUE(played.OpenSingle(SR, c.accepted));
    DcmObj report;
    report.transferSyntax = std::string(c.own);
    report.explicitVR = c.own != IMPLICIT_VR_LITTLE_ENDIAN;
    report.PutText(0x0008, 0x0016, SR);
    report.PutText(0x0008, 0x0018, "1.2.3.6");
    report.PutText(0x0010, 0x0010, "DOE^JANE");
    EXPECT_EQ(WriteStoreRQ(*played.service, report, SR), c.result);
    const auto sent = test::SentMessages(played.Sent());
    if (c.result != 0) {
      EXPECT_TRUE(sent.empty());
      continue;
    }
    ASSERT_EQ(sent.size(), 2u);
    auto decoded = Decode(sent[1].bytes, c.accepted);
    EXPECT_EQ(decoded->FindText(0x0010, 0x0010), "DOE^JANE");
  }
}

// ------------------------------------------------------------ store step

// A socket played from memory whose sends fail once refuse is set.
class RefusingSocket : public MemorySocket {
public:
  using MemorySocket::MemorySocket;
  bool SendBinary(const std::uint8_t *data, std::size_t length) override {
    return !refuse && MemorySocket::SendBinary(data, length);
  }
  bool refuse = false;
};

enum class StepFile { JpegStill, NativeStill, BigEndianReport, Missing };

struct StoreStepCase {
  const char *name;
  // The syntax accepted on each of the four contexts proposed (ultrasound
  // image: 1 JPEG, 3 uncompressed; report: 5 JPEG, 7 uncompressed); empty
  // rejects the context.
  std::array<std::string_view, 4> accepted;
  StepFile file;
  std::string response; // after the accept
  StoreResult::Outcome outcome;
  int status = -1;
  std::uint8_t context = 0;
  std::size_t messagesSent = 0; // command and data set
  StoreOptions options = {};
  bool linkClosed = false;
  bool sendsFail = false;
  const char *line = nullptr; // a log line the step leads to
};
void PrintTo(const StoreStepCase &c, std::ostream *out) { *out << c.name; }

// Four contexts and four accept draws leave the counter at 12: the request
// is message 13.
constexpr std::uint16_t STEP_MESSAGE_ID = 13;
std::string StepResponse(int status, std::uint16_t field = 0x8001, std::uint8_t contextID = 1) {
  return ResponsePdu(field, status, contextID, STEP_MESSAGE_ID);
}

StoreOptions RefuseLossy() {
  StoreOptions options;
  options.refuseLossyConversion = true;
  return options;
}
StoreOptions ReadFirst() {
  StoreOptions options;
  options.checkLinkBeforeReading = false;
  return options;
}

class StoreStepTest : public testing::TestWithParam<StoreStepCase> {
protected:
  // The file of the case, written to the folder; the path of none for Missing.
  std::string WriteFile(StepFile kind) {
    const std::string path = (dir_.path() / "object.dcm").string();
    std::unique_ptr<DcmObj> object;
    switch (kind) {
    case StepFile::JpegStill:
      object = test::MakeImage(test::US_IMAGE_STORAGE, "1.2.3.21", 1);
      break;
    case StepFile::NativeStill:
      object = test::MakeImage(test::US_IMAGE_STORAGE, "1.2.3.22", 1, EXPLICIT_VR_LITTLE_ENDIAN);
      break;
    case StepFile::BigEndianReport:
      object = std::make_unique<DcmObj>();
      object->transferSyntax = std::string(EXPLICIT_VR_BIG_ENDIAN);
      object->explicitVR = true;
      object->PutText(0x0008, 0x0016, SR);
      object->PutText(0x0008, 0x0018, "1.2.3.23");
      break;
    case StepFile::Missing:
      return path;
    }
    EXPECT_TRUE(object && object->Write(path));
    return path;
  }
  test::TempDir dir_;
};

TEST_P(StoreStepTest, PeerAnswerGivesTheOutcome) {
  const StoreStepCase &c = GetParam();
  const std::string path = WriteFile(c.file);
  std::string acceptItems;
  for (std::uint8_t i = 0; i < 4; ++i) {
    const std::string_view syntax = c.accepted[i];
    acceptItems += test::AcceptItem(static_cast<std::uint8_t>(2 * i + 1), syntax.empty() ? 4 : 0,
                                    syntax.empty() ? IMPLICIT_VR_LITTLE_ENDIAN : syntax);
  }
  auto owned = std::make_unique<RefusingSocket>(test::AcceptPdu(acceptItems) + c.response);
  RefusingSocket &socket = *owned;
  PDU_Service service(std::move(owned));
  const std::string sopClass(c.file == StepFile::BigEndianReport ? SR : test::US_IMAGE_STORAGE);
  ASSERT_TRUE(
      service.OpenAssociation({"127.0.0.1", "1", "QUILLBROOK", "ANY-SCP", 5},
                              ProposeStorageContexts({std::string(test::US_IMAGE_STORAGE), std::string(SR)}, {kJpeg})));
  const std::size_t requestSize = socket.Sent().size();
  if (c.linkClosed) {
    socket.Close();
  }
  socket.refuse = c.sendsFail;
  LogCapture log;

  const StoreResult result = StoreFile(service, path, sopClass, c.options);
  EXPECT_EQ(result.outcome, c.outcome);
  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.contextID, c.context);
  if (c.context != 0) {
    EXPECT_EQ(result.acceptedSyntax, c.accepted[(c.context - 1) / 2]);
  }
  EXPECT_EQ(test::SentMessages(socket.Sent().substr(requestSize)).size(), c.messagesSent);
  if (c.line != nullptr) {
    EXPECT_TRUE(log.Contains(c.line)) << c.line;
  }
}

using Outcome = StoreResult::Outcome;
constexpr std::string_view NONE = {};

INSTANTIATE_TEST_SUITE_P(
    Answers, StoreStepTest,
    testing::Values(
        StoreStepCase{"StoredAsItIs",
                      {kJpeg, kImplicit, NONE, kImplicit},
                      StepFile::JpegStill,
                      StepResponse(0),
                      Outcome::Stored,
                      0,
                      1,
                      2},
        StoreStepCase{"ConvertedWhenOnlyUncompressedIsAccepted",
                      {NONE, kImplicit, NONE, kImplicit},
                      StepFile::JpegStill,
                      StepResponse(0, 0x8001, 3),
                      Outcome::Stored,
                      0,
                      3,
                      2},
        StoreStepCase{"CoercionWarning",
                      {kJpeg, NONE, NONE, kImplicit},
                      StepFile::JpegStill,
                      StepResponse(0xB000),
                      Outcome::StoredWithWarning,
                      0xB000,
                      1,
                      2},
        StoreStepCase{"OutOfResources",
                      {kJpeg, NONE, NONE, kImplicit},
                      StepFile::JpegStill,
                      StepResponse(0xA700),
                      Outcome::Refused,
                      0xA700,
                      1,
                      2,
                      {},
                      false,
                      false,
                      "ERROR, CStore::ReadRSP, status == 42752"},
        StoreStepCase{"ResponseWithoutStatus",
                      {kJpeg, NONE, NONE, kImplicit},
                      StepFile::JpegStill,
                      StepResponse(-1),
                      Outcome::InvalidResponse,
                      -1,
                      1,
                      2},
        StoreStepCase{"EchoResponse",
                      {kJpeg, NONE, NONE, kImplicit},
                      StepFile::JpegStill,
                      StepResponse(0, 0x8030),
                      Outcome::InvalidResponse,
                      -1,
                      1,
                      2},
        StoreStepCase{"ResponseToAnotherRequest",
                      {kJpeg, NONE, NONE, kImplicit},
                      StepFile::JpegStill,
                      ResponsePdu(0x8001, 0, 1, 5),
                      Outcome::InvalidResponse,
                      -1,
                      1,
                      2},
        StoreStepCase{
            "NoResponse", {kJpeg, NONE, NONE, kImplicit}, StepFile::JpegStill, "", Outcome::NoResponse, -1, 1, 2},
        StoreStepCase{
            "NoContextForTheClass", {NONE, NONE, NONE, kImplicit}, StepFile::JpegStill, "", Outcome::NoContext},
        StoreStepCase{"LossyConversionRefused",
                      {kJpeg, NONE, NONE, kImplicit},
                      StepFile::NativeStill,
                      "",
                      Outcome::LossyConversion,
                      -1,
                      1,
                      0,
                      RefuseLossy()},
        StoreStepCase{"LossyConversionAllowed",
                      {kJpeg, NONE, NONE, kImplicit},
                      StepFile::NativeStill,
                      StepResponse(0),
                      Outcome::Stored,
                      0,
                      1,
                      2},
        StoreStepCase{"NoRelabellingFromBigEndian",
                      {kJpeg, NONE, NONE, kImplicit},
                      StepFile::BigEndianReport,
                      "",
                      Outcome::ConversionFailed,
                      -1,
                      7,
                      0,
                      {},
                      false,
                      false,
                      "ERROR, WriteStoreRQ, cannot send 1.2.840.10008.1.2.2 as 1.2.840.10008.1.2"},
        StoreStepCase{"FileCannotBeRead", {kJpeg, NONE, NONE, kImplicit}, StepFile::Missing, "", Outcome::Unreadable},
        StoreStepCase{"LinkOverBeforeTheFileIsRead",
                      {kJpeg, NONE, NONE, kImplicit},
                      StepFile::Missing,
                      "",
                      Outcome::AssociationOver,
                      -1,
                      0,
                      0,
                      {},
                      true},
        StoreStepCase{"FileReadFirstOnRequest",
                      {kJpeg, NONE, NONE, kImplicit},
                      StepFile::Missing,
                      "",
                      Outcome::Unreadable,
                      -1,
                      0,
                      0,
                      ReadFirst(),
                      true},
        StoreStepCase{"LinkOverAfterTheFileIsRead",
                      {kJpeg, NONE, NONE, kImplicit},
                      StepFile::JpegStill,
                      "",
                      Outcome::AssociationOver,
                      -1,
                      0,
                      0,
                      ReadFirst(),
                      true},
        StoreStepCase{"RequestCannotBeWritten",
                      {kJpeg, NONE, NONE, kImplicit},
                      StepFile::JpegStill,
                      "",
                      Outcome::NotSent,
                      -1,
                      1,
                      0,
                      {},
                      false,
                      true}),
    [](const testing::TestParamInfo<StoreStepCase> &info) { return std::string(info.param.name); });

TEST(StoreWarningTest, WarningStatusesOfAStoreResponse) {
  for (const int status : {0x0001, 0xB000, 0xB007, 0xBFFF}) {
    EXPECT_TRUE(IsStoreWarning(status)) << status;
  }
  for (const int status : {0x0000, 0x0002, 0xA700, 0xAFFF, 0xC000, 0xFF00}) {
    EXPECT_FALSE(IsStoreWarning(status)) << status;
  }
}

} // namespace
} // namespace fw
