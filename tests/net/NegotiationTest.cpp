// Negotiation without a link: which accepted context messages are written
// on, which one an object is stored on, and how many contexts one request
// may propose. (What ProposeStorageContexts proposes for the classes and
// their syntaxes, and the contexts as they go on the wire, are tested with
// the store association in StoreServiceTest.)
#include "net/association/Negotiation.h"

#include "dicom/Uids.h"
#include "net/association/PDU_Service.h"
#include "net/link/MemorySocket.h"
#include "tests/net/AssociationScripts.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fw {
namespace {

const std::string kUs = "1.2.840.10008.5.1.4.1.1.6.1";
const std::string kSc = "1.2.840.10008.5.1.4.1.1.7";
const std::string kImplicit(IMPLICIT_VR_LITTLE_ENDIAN);
const std::string kExplicit(EXPLICIT_VR_LITTLE_ENDIAN);
const std::string kJpeg(JPEG_BASELINE);
const std::string kRle = "1.2.840.10008.1.2.5";
const std::string kBigEndian = "1.2.840.10008.1.2.2";

// Rows as in Negotiation.h: the accepted contexts in the peer's order, the
// object's class and syntax, the context AcceptedContextFor picks, and the
// context messages are written on by default.
struct AcceptCase {
  const char *name;
  std::vector<AcceptedContext> accepted;
  std::string abstractSyntax;
  std::string objectSyntax;
  std::uint8_t forObject;
  std::uint8_t byDefault;
};

void PrintTo(const AcceptCase &c, std::ostream *out) { *out << c.name; }

class AcceptTest : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(AcceptTest, ChoosesTheContext) {
  const AcceptCase &c = GetParam();
  EXPECT_EQ(AcceptedContextFor(c.accepted, c.abstractSyntax, c.objectSyntax), c.forObject);
  EXPECT_EQ(DefaultContext(c.accepted), c.byDefault);
}

INSTANTIATE_TEST_SUITE_P(
    AcceptedContexts, AcceptTest,
    ::testing::Values(
        AcceptCase{"NothingAccepted", {}, kUs, kJpeg, 0, 0},
        // Rule 1 before rule 2 before rule 3, whatever the peer's order.
        AcceptCase{"OwnSyntaxFirst", {{1, kUs, kExplicit}, {3, kUs, kJpeg}}, kUs, kJpeg, 3, 1},
        AcceptCase{"UncompressedBeforeOtherCompressed",
                   {{1, kUs, kJpeg}, {3, kUs, kImplicit}},
                   kUs,
                   std::string(JPEG_2000),
                   3,
                   1},
        AcceptCase{"OtherCompressedLast", {{1, kUs, kJpeg}}, kUs, kExplicit, 1, 1},
        AcceptCase{"NoObjectSyntaxPrefersUncompressed", {{1, kUs, kJpeg}, {3, kUs, kExplicit}}, kUs, "", 3, 1},
        // Of equal rank, the peer's order counts.
        AcceptCase{"FirstUncompressedInPeerOrder", {{5, kUs, kImplicit}, {3, kUs, kExplicit}}, kUs, kJpeg, 5, 5},
        // Only contexts proposed for the class count for its objects.
        AcceptCase{"OtherClassOnly", {{1, kSc, kJpeg}, {3, kSc, kImplicit}}, kUs, kJpeg, 0, 1},
        AcceptCase{"OwnClassAfterAnother", {{1, kSc, kJpeg}, {3, kUs, kImplicit}}, kUs, kJpeg, 3, 1},
        // A syntax the station does not write is never chosen, even when it
        // is the object's own.
        AcceptCase{"UnwritableOwnSyntaxSkipped", {{1, kUs, kRle}, {3, kUs, kImplicit}}, kUs, kRle, 3, 3},
        AcceptCase{"BigEndianOnly", {{1, kUs, kBigEndian}}, kUs, kExplicit, 0, 0},
        AcceptCase{
            "WritableAfterUnwritable", {{1, kSc, kBigEndian}, {3, kSc, kRle}, {5, kSc, kJpeg}}, kSc, kJpeg, 5, 5}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(AcceptedContextTest, FindAcceptedByID) {
  const std::vector<AcceptedContext> accepted = {{1, kUs, kJpeg}, {3, kUs, kImplicit}};
  ASSERT_NE(FindAccepted(accepted, 3), nullptr);
  EXPECT_EQ(FindAccepted(accepted, 3)->transferSyntax, kImplicit);
  EXPECT_EQ(FindAccepted(accepted, 2), nullptr);
  EXPECT_EQ(FindAccepted({}, 1), nullptr);
}

TEST(AcceptedContextTest, SelectableSyntaxes) {
  for (const std::string &uid : {kImplicit, kExplicit, kJpeg, std::string(JPEG_2000),
                                 std::string("1.2.840.10008.1.2.4.70"), std::string("1.2.840.10008.1.2.4.91")}) {
    EXPECT_TRUE(IsSelectable(uid)) << uid;
  }
  for (const std::string &uid :
       {kRle, kBigEndian, std::string(), kImplicit + '\0', std::string("1.2.840.10008.1.2.4")}) {
    EXPECT_FALSE(IsSelectable(uid)) << uid;
  }
}

// One request holds 1 to 128 contexts; a list outside that is refused before
// anything is sent.
TEST(ProposalSizeTest, OneRequestHoldsOneTo128Contexts) {
  struct Case {
    std::size_t contexts;
    bool fits;
  } cases[] = {{0, false}, {1, true}, {128, true}, {129, false}, {300, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.contexts);
    const std::vector<ProposedContext> contexts(c.contexts, ProposedContext{kSc, {kImplicit}});
    EXPECT_EQ(ProposalFits(contexts), c.fits);

    auto socket = std::make_unique<MemorySocket>(test::ImplicitAccept());
    const MemorySocket &played = *socket;
    PDU_Service service(std::move(socket));
    test::LogCapture log;
    EXPECT_EQ(service.OpenAssociation({"127.0.0.1", "1", "QUILLBROOK", "ANY-SCP", 5}, contexts), c.fits);
    if (!c.fits) {
      EXPECT_TRUE(played.Sent().empty());
      EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR, OpenAssociation, " + std::to_string(c.contexts) +
                                                         " presentation contexts"});
    }
  }
}

} // namespace
} // namespace fw
