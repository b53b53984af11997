// Negotiation: what the station proposes in an A-ASSOCIATE-RQ and what it
// makes of the accept items that come back, as functions over values (no
// link, no PDU objects), so each rule can be read and tested on its own.
// PDU_Service applies them when it opens an association.
//
// Proposing. Context IDs are the odd numbers 1, 3, 5, ... in the order the
// contexts are given, so one request holds at most MAX_PRESENTATION_CONTEXTS
// (128) of them (ProposalFits). A context without transfer syntaxes proposes
// implicit VR little endian.
//
// Accepting. The accept items for contexts that were proposed and accepted
// make the accepted contexts, in the peer's order. Messages are written on
// the first of them whose transfer syntax is selectable (DefaultContext);
// an object is stored on the one AcceptedContextFor picks.
#pragma once

#include "net/pdu/PduTypes.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// The transfer syntaxes messages may be written in, unranked: the first
// accepted context with one of them is used.
inline constexpr std::array<std::string_view, 6> SELECTABLE_TRANSFER_SYNTAXES = {
    "1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.4.70", "1.2.840.10008.1.2.1",
    "1.2.840.10008.1.2",      "1.2.840.10008.1.2.4.91", "1.2.840.10008.1.2.4.50",
};

// True for a transfer syntax of SELECTABLE_TRANSFER_SYNTAXES.
bool IsSelectable(std::string_view transferSyntax);

// ---- proposing ----

// One presentation context to propose: an abstract syntax and its transfer
// syntaxes in order of preference.
struct ProposedContext {
  std::string abstractSyntax;
  std::vector<std::string> transferSyntaxes;
};

// True when the contexts fit one request: at least one, at most 128.
bool ProposalFits(const std::vector<ProposedContext> &contexts);

// One context for the abstract syntax with, in this order: transferSyntax2
// if not empty; transferSyntax1 if not empty and not the same; implicit VR
// little endian unless already there.
ProposedContext ProposeContext(std::string_view abstractSyntax, std::string_view transferSyntax1 = {},
                               std::string_view transferSyntax2 = {});

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

// ---- accepting ----

// A context the peer accepted: its ID, the abstract syntax proposed for it
// and the one transfer syntax the peer chose.
struct AcceptedContext {
  std::uint8_t id = 0;
  std::string abstractSyntax;
  std::string transferSyntax;
  bool operator==(const AcceptedContext &) const = default;
};

// The first accepted context whose transfer syntax is selectable; 0 when
// there is none (the association is then of no use).
std::uint8_t DefaultContext(const std::vector<AcceptedContext> &accepted);

// The accepted context with the ID; nullptr when there is none.
const AcceptedContext *FindAccepted(const std::vector<AcceptedContext> &accepted, std::uint8_t contextID);

// The accepted context an object of the abstract syntax in objectSyntax is
// sent on; 0 when there is none. Among the accepted contexts proposed for
// the abstract syntax whose transfer syntax is selectable, in the peer's
// order:
//
//   rule  context accepted with                  the object is
//   1     objectSyntax itself                     sent as it is
//   2     explicit or implicit VR little endian   converted or relabelled
//   3     any other syntax the station writes     converted
//
// So an object is converted only when no context takes it as it is.
std::uint8_t AcceptedContextFor(const std::vector<AcceptedContext> &accepted, std::string_view abstractSyntax,
                                std::string_view objectSyntax = {});

} // namespace fw
