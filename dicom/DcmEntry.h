// DcmEntry: what a data set container holds, either one data element (DcmTag)
// or a nested container (DcmObj, a sequence or an item). The container owns its
// entries through this base and asks each one which of the two it is.
#pragma once

namespace fw {

class DcmTag;

class DcmEntry {
public:
  virtual ~DcmEntry() = default;

  // True for a DcmTag, false for a DcmObj.
  bool IsElement() const { return isElement_; }
  bool IsContainer() const { return !isElement_; }

  // The element that carries the entry's tag: the element itself, or the
  // header of a nested container.
  virtual DcmTag &Tag() = 0;
  virtual const DcmTag &Tag() const = 0;

protected:
  explicit DcmEntry(bool isElement) : isElement_(isElement) {}
  DcmEntry(const DcmEntry &) = default;
  DcmEntry &operator=(const DcmEntry &) = default;

private:
  bool isElement_;
};

} // namespace fw
