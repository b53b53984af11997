// Negotiation: the contexts proposed and the choice among those accepted.
#include "net/association/Negotiation.h"

#include "dicom/Uids.h"

#include <algorithm>

namespace fw {
namespace {

bool IsUncompressed(std::string_view uid) {
  return uid == EXPLICIT_VR_LITTLE_ENDIAN || uid == IMPLICIT_VR_LITTLE_ENDIAN;
}

void AddOnce(std::vector<std::string> &list, std::string_view value) {
  if (!value.empty() && std::find(list.begin(), list.end(), value) == list.end()) {
    list.emplace_back(value);
  }
}

// A class with the compressed syntaxes of its objects, in order.
struct ClassSyntaxes {
  std::string sopClass;
  std::vector<std::string> compressed;
};

} // namespace

bool IsSelectable(std::string_view transferSyntax) {
  return std::find(SELECTABLE_TRANSFER_SYNTAXES.begin(), SELECTABLE_TRANSFER_SYNTAXES.end(), transferSyntax) !=
         SELECTABLE_TRANSFER_SYNTAXES.end();
}

bool ProposalFits(const std::vector<ProposedContext> &contexts) {
  return !contexts.empty() && contexts.size() <= MAX_PRESENTATION_CONTEXTS;
}

ProposedContext ProposeContext(std::string_view abstractSyntax, std::string_view transferSyntax1,
                               std::string_view transferSyntax2) {
  ProposedContext context{std::string(abstractSyntax), {}};
  if (!transferSyntax2.empty()) {
    context.transferSyntaxes.emplace_back(transferSyntax2);
  }
  if (!transferSyntax1.empty() && transferSyntax1 != transferSyntax2) {
    context.transferSyntaxes.emplace_back(transferSyntax1);
  }
  if (transferSyntax1 != IMPLICIT_VR_LITTLE_ENDIAN && transferSyntax2 != IMPLICIT_VR_LITTLE_ENDIAN) {
    context.transferSyntaxes.emplace_back(IMPLICIT_VR_LITTLE_ENDIAN);
  }
  return context;
}

std::vector<ProposedContext> ProposeStorageContexts(const std::vector<StorageClass> &classes) {
  std::vector<ClassSyntaxes> wanted;
  for (const StorageClass &storage : classes) {
    if (storage.sopClass.empty()) {
      continue;
    }
    auto known = std::find_if(wanted.begin(), wanted.end(),
                              [&](const ClassSyntaxes &c) { return c.sopClass == storage.sopClass; });
    if (known == wanted.end()) {
      if (wanted.size() == MAX_PRESENTATION_CONTEXTS) {
        continue; // no context left even for its uncompressed one
      }
      known = wanted.insert(wanted.end(), {storage.sopClass, {}});
    }
    for (const std::string &syntax : storage.ownSyntaxes) {
      if (!IsUncompressed(syntax)) {
        AddOnce(known->compressed, syntax);
      }
    }
  }

  // Every class has its uncompressed context; what is left goes to separate
  // compressed contexts, earliest classes first.
  std::size_t spare = MAX_PRESENTATION_CONTEXTS - wanted.size();
  const std::vector<std::string> uncompressed = {std::string(EXPLICIT_VR_LITTLE_ENDIAN),
                                                 std::string(IMPLICIT_VR_LITTLE_ENDIAN)};
  std::vector<ProposedContext> contexts;
  for (const ClassSyntaxes &c : wanted) {
    if (c.compressed.size() <= spare) {
      spare -= c.compressed.size();
      for (const std::string &syntax : c.compressed) {
        contexts.push_back({c.sopClass, {syntax}});
      }
      contexts.push_back({c.sopClass, uncompressed});
    } else {
      std::vector<std::string> joined = c.compressed;
      joined.insert(joined.end(), uncompressed.begin(), uncompressed.end());
      contexts.push_back({c.sopClass, std::move(joined)});
      spare = 0; // later classes must not overtake this one
    }
  }
  return contexts;
}

std::vector<ProposedContext> ProposeStorageContexts(const std::vector<std::string> &classes,
                                                    const std::vector<std::string> &ownSyntaxes) {
  std::vector<StorageClass> storage;
  storage.reserve(classes.size());
  for (const std::string &sopClass : classes) {
    storage.push_back({sopClass, ownSyntaxes});
  }
  return ProposeStorageContexts(storage);
}

std::uint8_t DefaultContext(const std::vector<AcceptedContext> &accepted) {
  const auto chosen = std::find_if(accepted.begin(), accepted.end(),
                                   [](const AcceptedContext &context) { return IsSelectable(context.transferSyntax); });
  return chosen != accepted.end() ? chosen->id : 0;
}

const AcceptedContext *FindAccepted(const std::vector<AcceptedContext> &accepted, std::uint8_t contextID) {
  const auto found = std::find_if(accepted.begin(), accepted.end(),
                                  [&](const AcceptedContext &context) { return context.id == contextID; });
  return found != accepted.end() ? &*found : nullptr;
}

std::uint8_t AcceptedContextFor(const std::vector<AcceptedContext> &accepted, std::string_view abstractSyntax,
                                std::string_view objectSyntax) {
  std::uint8_t uncompressed = 0;
  std::uint8_t other = 0;
  for (const AcceptedContext &context : accepted) {
    const std::string &syntax = context.transferSyntax;
    if (!IsSelectable(syntax) || context.abstractSyntax != abstractSyntax) {
      continue;
    }
    if (!objectSyntax.empty() && syntax == objectSyntax) {
      return context.id;
    }
    if (IsUncompressed(syntax)) {
      if (uncompressed == 0) {
        uncompressed = context.id;
      }
    } else if (other == 0) {
      other = context.id;
    }
  }
  return uncompressed != 0 ? uncompressed : other;
}

} // namespace fw
