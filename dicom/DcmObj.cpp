// DcmObj: entry access, ordered insertion with group length upkeep, top-level
// searches and deep copies.
#include "dicom/DcmObj.h"

#include <algorithm>
#include <iterator>

namespace fw {

namespace {

constexpr std::uint16_t ITEM_GROUP = 0xFFFE;
constexpr std::uint16_t ITEM = 0xE000;
constexpr std::uint16_t ITEM_DELIMITATION = 0xE00D;
constexpr std::uint16_t SEQUENCE_DELIMITATION = 0xE0DD;

DcmTag &TagOf(DcmEntry &entry) {
  return entry.IsElement() ? static_cast<DcmTag &>(entry) : static_cast<DcmObj &>(entry).header;
}

bool IsDelimiter(const DcmTag &t) {
  return t.group == ITEM_GROUP && (t.element == ITEM_DELIMITATION || t.element == SEQUENCE_DELIMITATION);
}

// An element whose content follows it as entries: a flat sequence, a flat
// item, or encapsulated pixel data.
bool OpensLevel(const DcmTag &t) { return t.length == UNDEFINED_LENGTH && !IsDelimiter(t); }

// What a value adds to a group length: an undefined length adds nothing.
std::uint32_t CountedLength(std::uint32_t length) { return length == UNDEFINED_LENGTH ? 0 : length; }

// Follows the nesting of flat content while the entries are walked in order.
class LevelWalk {
public:
  // True when the entry is at top level; then accounts for what it opens or
  // closes (an opening element is itself at the level it opens from). A
  // delimiter belongs to the content it closes, and one without an opening
  // element is passed over.
  bool Next(const DcmEntry &entry) {
    if (!entry.IsElement()) {
      return depth_ == 0;
    }
    const auto &t = static_cast<const DcmTag &>(entry);
    if (IsDelimiter(t)) {
      depth_ -= depth_ > 0 ? 1 : 0;
      return false;
    }
    const bool top = depth_ == 0;
    if (OpensLevel(t)) {
      ++depth_;
    }
    return top;
  }
  LevelWalk() = default;
  explicit LevelWalk(std::size_t depth) : depth_(depth) {}
  bool AtTop() const { return depth_ == 0; }
  std::size_t Depth() const { return depth_; }

private:
  std::size_t depth_ = 0;
};

// Index just past the content of the flat opener at index `opener`, or
// `opener` + 1 when its content is not closed.
std::size_t EndOfFlatContent(const std::vector<std::unique_ptr<DcmEntry>> &entries, std::size_t opener) {
  LevelWalk walk;
  walk.Next(*entries[opener]);
  for (std::size_t i = opener + 1; i < entries.size(); ++i) {
    walk.Next(*entries[i]);
    if (walk.AtTop()) {
      return i + 1;
    }
  }
  return opener + 1;
}

void AddToGroupLength(DcmTag *groupLength, std::uint32_t delta) {
  // The element may have been the one just replaced: only a 4-byte value counts.
  if (groupLength == nullptr || groupLength->length != 4 || groupLength->data.size() < 4) {
    return;
  }
  auto &d = groupLength->data;
  std::uint32_t value =
      std::uint32_t{d[0]} | std::uint32_t{d[1]} << 8 | std::uint32_t{d[2]} << 16 | std::uint32_t{d[3]} << 24;
  value += delta;
  d[0] = static_cast<std::uint8_t>(value);
  d[1] = static_cast<std::uint8_t>(value >> 8);
  d[2] = static_cast<std::uint8_t>(value >> 16);
  d[3] = static_cast<std::uint8_t>(value >> 24);
}

} // namespace

DcmObj::~DcmObj() { DestroyAll(std::move(children_)); }

void DcmObj::DestroyAll(std::vector<std::unique_ptr<DcmEntry>> entries) {
  // Nested containers are emptied before they go, so destroying a deeply
  // nested tree never recurses.
  while (!entries.empty()) {
    std::unique_ptr<DcmEntry> entry = std::move(entries.back());
    entries.pop_back();
    if (entry->IsContainer()) {
      auto &nested = static_cast<DcmObj &>(*entry).children_;
      std::move(nested.begin(), nested.end(), std::back_inserter(entries));
      nested.clear();
    }
  }
}

bool DcmObj::IsElement(std::size_t index) const { return index < children_.size() && children_[index]->IsElement(); }

DcmEntry *DcmObj::EntryAt(std::size_t index) {
  DropTailScan(); // the caller may change the entry
  return index < children_.size() ? children_[index].get() : nullptr;
}

const DcmEntry *DcmObj::EntryAt(std::size_t index) const {
  return index < children_.size() ? children_[index].get() : nullptr;
}

DcmTag *DcmObj::ElementAt(std::size_t index) {
  DropTailScan();
  return IsElement(index) ? static_cast<DcmTag *>(children_[index].get()) : nullptr;
}

const DcmTag *DcmObj::ElementAt(std::size_t index) const {
  return IsElement(index) ? static_cast<const DcmTag *>(children_[index].get()) : nullptr;
}

DcmObj *DcmObj::ContainerAt(std::size_t index) {
  DropTailScan();
  return index < children_.size() && children_[index]->IsContainer() ? static_cast<DcmObj *>(children_[index].get())
                                                                     : nullptr;
}

const DcmObj *DcmObj::ContainerAt(std::size_t index) const {
  return index < children_.size() && children_[index]->IsContainer()
             ? static_cast<const DcmObj *>(children_[index].get())
             : nullptr;
}

void DcmObj::Append(std::unique_ptr<DcmEntry> entry) {
  if (entry != nullptr) {
    children_.push_back(std::move(entry));
  }
}

void DcmObj::InsertAt(std::size_t index, std::unique_ptr<DcmEntry> entry) {
  if (entry == nullptr) {
    return;
  }
  DropTailScan();
  index = std::min(index, children_.size());
  children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(index), std::move(entry));
}

void DcmObj::RemoveAt(std::size_t index) {
  if (index >= children_.size()) {
    return;
  }
  DropTailScan();
  std::vector<std::unique_ptr<DcmEntry>> removed;
  removed.push_back(std::move(children_[index]));
  children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(index));
  DestroyAll(std::move(removed));
}

void DcmObj::Clear() {
  DropTailScan();
  DestroyAll(std::move(children_));
  children_.clear();
}

void DcmObj::Put(std::unique_ptr<DcmTag> e) {
  if (e == nullptr) {
    return;
  }
  const std::uint32_t key = e->Key();
  AdvanceTailScan();
  if (tail_.depth == 0 && (!tail_.anyTop || tail_.greatestTopKey < key)) {
    // Every top-level entry has a smaller tag: the element goes last.
    DcmTag *groupLength = nullptr;
    for (const auto &[group, element] : tail_.groupLengths) {
      if (group == e->group) {
        groupLength = element;
      }
    }
    const std::uint32_t added = CountedLength(e->length) + 8;
    children_.push_back(std::move(e));
    AddToGroupLength(groupLength, added);
    return;
  }
  DropTailScan(); // what follows may change or move walked entries
  DcmTag *groupLength = nullptr;
  LevelWalk walk;
  for (std::size_t i = 0; i < children_.size(); ++i) {
    DcmEntry &entry = *children_[i];
    if (!walk.Next(entry)) {
      continue;
    }
    DcmTag &t = TagOf(entry);
    if (t.group == e->group && t.element == 0 && t.length == 4) {
      groupLength = &t;
    }
    if (t.Key() == key) {
      const std::uint32_t oldLength = CountedLength(t.length);
      if (entry.IsElement() && OpensLevel(t)) {
        // The old value is the flat content that follows: it goes with it.
        const std::size_t end = EndOfFlatContent(children_, i);
        std::vector<std::unique_ptr<DcmEntry>> removed;
        std::move(children_.begin() + static_cast<std::ptrdiff_t>(i + 1),
                  children_.begin() + static_cast<std::ptrdiff_t>(end), std::back_inserter(removed));
        children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(i + 1),
                        children_.begin() + static_cast<std::ptrdiff_t>(end));
        DestroyAll(std::move(removed));
      }
      t.length = e->length;
      t.data = std::move(e->data);
      AddToGroupLength(groupLength, CountedLength(t.length) - oldLength);
      return;
    }
    if (t.Key() > key) {
      const std::uint32_t added = CountedLength(e->length) + 8;
      children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(i), std::move(e));
      AddToGroupLength(groupLength, added);
      return;
    }
  }
  const std::uint32_t added = CountedLength(e->length) + 8;
  children_.push_back(std::move(e));
  AddToGroupLength(groupLength, added);
}

void DcmObj::AdvanceTailScan() {
  if (tail_.scanned > children_.size() || (tail_.scanned > 0 && children_[tail_.scanned - 1].get() != tail_.last)) {
    DropTailScan(); // walk again from the start
  }
  LevelWalk walk(tail_.depth);
  for (std::size_t i = tail_.scanned; i < children_.size(); ++i) {
    DcmEntry &entry = *children_[i];
    if (!walk.Next(entry)) {
      continue;
    }
    DcmTag &t = TagOf(entry);
    if (!tail_.anyTop || t.Key() > tail_.greatestTopKey) {
      tail_.greatestTopKey = t.Key();
    }
    tail_.anyTop = true;
    if (t.element == 0 && t.length == 4) {
      auto known = std::find_if(tail_.groupLengths.begin(), tail_.groupLengths.end(),
                                [&t](const auto &g) { return g.first == t.group; });
      if (known != tail_.groupLengths.end()) {
        known->second = &t;
      } else {
        tail_.groupLengths.emplace_back(t.group, &t);
      }
    }
  }
  tail_.depth = walk.Depth();
  tail_.scanned = children_.size();
  tail_.last = children_.empty() ? nullptr : children_.back().get();
}

void DcmObj::PutText(std::uint16_t group, std::uint16_t element, std::string_view text) {
  Put(DcmTag::FromText(group, element, text));
}

void DcmObj::PutBytes(std::uint16_t group, std::uint16_t element, std::uint32_t length, const void *bytes) {
  Put(DcmTag::FromBytes(group, element, length, bytes));
}

const DcmTag *DcmObj::FindElement(std::uint16_t group, std::uint16_t element) const {
  LevelWalk walk;
  for (const auto &entry : children_) {
    if (walk.Next(*entry) && entry->IsElement()) {
      const auto &t = static_cast<const DcmTag &>(*entry);
      if (t.Is(group, element)) {
        return &t;
      }
    }
  }
  return nullptr;
}

std::uint16_t DcmObj::FindUS(std::uint16_t group, std::uint16_t element) const {
  const DcmTag *t = FindElement(group, element);
  return t != nullptr ? t->GetUS() : 0;
}

std::string DcmObj::FindText(std::uint16_t group, std::uint16_t element) const {
  const DcmTag *t = FindElement(group, element);
  return t != nullptr ? t->GetText() : std::string();
}

void DcmObj::InsertSequence(std::uint16_t group, std::uint16_t element, const DcmObj &source) {
  auto nested = std::make_unique<DcmObj>();
  nested->explicitVR = explicitVR;
  nested->header.group = group;
  nested->header.element = element;
  if (group != ITEM_GROUP && element != ITEM) {
    nested->header.SetVR("SQ");
  }
  nested->CopyFrom(source);

  DropTailScan();
  const std::uint32_t key = nested->header.Key();
  LevelWalk walk;
  for (std::size_t i = 0; i < children_.size(); ++i) {
    if (walk.Next(*children_[i]) && TagOf(*children_[i]).Key() > key) {
      children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(i), std::move(nested));
      return;
    }
  }
  children_.push_back(std::move(nested));
}

void DcmObj::CopyFrom(const DcmObj &source) {
  if (&source == this) {
    DcmObj snapshot;
    snapshot.CopyFrom(source);
    CopyFrom(snapshot);
    return;
  }
  for (const auto &entry : source.children_) {
    if (entry->IsElement()) {
      Append(std::make_unique<DcmTag>(static_cast<const DcmTag &>(*entry)));
    } else {
      const auto &nested = static_cast<const DcmObj &>(*entry);
      InsertSequence(nested.header.group, nested.header.element, nested);
    }
  }
}

} // namespace fw
