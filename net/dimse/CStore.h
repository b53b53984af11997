// PS3.7 9.1.1 C-STORE, 9.3.1 C-STORE protocol
// CStore: storage (C-STORE) as service class user, and the association form
// that proposes the presentation contexts of the SOP classes to be stored.
//
// C-STORE-RQ command set, implicit VR little endian, elements in tag order,
// UIDs padded to even length with a zero byte:
//
//   tag          VR  attribute                   value
//   (0000,0000)  UL  Command Group Length        48 + L(class UID) [+ 8 + L(instance UID)]
//   (0000,0002)  UI  Affected SOP Class UID      the SOP class UID given
//   (0000,0100)  US  Command Field               0x0001
//   (0000,0110)  US  Message ID                  next message ID
//   (0000,0700)  US  Priority                    0 (medium)
//   (0000,0800)  US  Command Data Set Type       0x0102 (a data set follows)
//   (0000,1000)  UI  Affected SOP Instance UID   the data set's (0008,0018); left out when empty
//
// L(x) is the length of x rounded up to even. A C-STORE-RSP must have
// Command Field 0x8001, the request's message ID in (0000,0120) and a
// Status; only status 0 means stored.
#pragma once

#include "dicom/DcmObj.h"
#include "net/pdu/PduTypes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

class PDU_Service;

inline constexpr std::uint16_t C_STORE_RQ = 0x0001;
inline constexpr std::uint16_t C_STORE_RSP = 0x8001;

namespace CStore {

// Fills an empty command set with the C-STORE-RQ of the table above.
void BuildRQ(DcmObj &command, std::string_view sopClassUID, std::string_view sopInstanceUID, std::uint16_t messageID);
// Writes the C-STORE-RQ (message ID drawn from IdCounter) and then the data
// set, when there is one, in its own transfer syntax.
bool WriteRQ(PDU_Service &service, DcmObj *dataSet, std::string_view sopClassUID);
// -1 no response could be read, -2 the message read is not a C-STORE-RSP,
// answers another request (the association is then aborted) or has no
// Status, otherwise the status (0 to 65535; non-zero logged). A data set the
// response announces is read and dropped.
int ReadRSP(PDU_Service &service);

} // namespace CStore

// One presentation context to propose: an abstract syntax and its transfer
// syntaxes in order of preference.
struct ProposedContext {
  std::string abstractSyntax;
  std::vector<std::string> transferSyntaxes;
};

// A SOP class to be stored and the transfer syntaxes its objects are in.
struct StorageClass {
  std::string sopClass;
  std::vector<std::string> ownSyntaxes;
};

// The storage contexts of an association, class after class in the order
// given (empty classes and repeats passed over, a repeat's syntaxes joined to
// the first), context IDs 1, 3, 5, ... in this order:
//
//   context of a class             transfer syntaxes proposed
//   one per compressed own syntax  that syntax alone
//   one uncompressed               explicit VR little endian, implicit VR
//                                  little endian
//
// A peer accepts one transfer syntax per context. Offered JPEG Baseline and
// an uncompressed syntax in one context, many archives take the uncompressed
// one, and every frame would be decoded and sent at many times its size. On
// a context of its own the peer can take the object as it is, and the
// uncompressed context stays for a peer that cannot (the object is then
// converted). Explicit and implicit VR little endian among the own syntaxes
// need no context of their own.
//
// At most 128 contexts (context IDs are the odd numbers 1 to 255):
//   - classes past the 128th are left out: their objects find no context;
//   - when separate contexts for every class would need more than 128, the
//     earliest classes keep them while they fit, and each later class gets
//     one context with its compressed syntaxes followed by the uncompressed
//     ones, where the peer chooses.
std::vector<ProposedContext> ProposeStorageContexts(const std::vector<StorageClass> &classes);

// The same with the same own syntaxes for every class.
std::vector<ProposedContext> ProposeStorageContexts(const std::vector<std::string> &classes,
                                                    const std::vector<std::string> &ownSyntaxes);

// Opens an association proposing one presentation context per entry, with
// context IDs 1, 3, 5, ... in the order given (at most 128 contexts; entries
// without transfer syntaxes propose implicit VR little endian). Titles,
// time-out, user information and the choice of the default context as in
// PDU_Service::OpenAssociation. False (nothing sent) for an empty or too long
// list.
bool OpenAssociation(PDU_Service &service, std::string_view host, std::string_view port,
                     std::string_view callingApTitle, std::string_view calledApTitle,
                     const std::vector<ProposedContext> &contexts, int timeoutSeconds);

// The abstract syntax proposed for a context ID; empty when none was.
std::string ProposedAbstractSyntax(const PDU_Service &service, std::uint8_t contextID);

// The accepted context an object of the abstract syntax in objectSyntax is
// sent on; 0 when there is none. Among the accepted contexts proposed for
// the abstract syntax, in the peer's order:
//
//   rule  context accepted with                  the object is
//   1     objectSyntax itself                     sent as it is
//   2     explicit or implicit VR little endian   converted or relabelled
//   3     any other syntax the station writes     converted
//
// So an object is converted only when no context takes it as it is.
std::uint8_t AcceptedContextFor(const PDU_Service &service, std::string_view abstractSyntax,
                                std::string_view objectSyntax = {});

} // namespace fw
