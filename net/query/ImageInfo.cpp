// ImageInfo: image keys and the reading of image responses.
#include "net/query/ImageInfo.h"

#include "net/query/CharacterSet.h"
#include "net/query/QueryKeys.h"

namespace fw {

namespace {

using Key = QueryKey<ImageInfo>;

constexpr Key IMAGE_KEYS[] = {
    {0x0008, 0x0008, &ImageInfo::imageType},         {0x0008, 0x0016, &ImageInfo::sopClassUID},
    {0x0008, 0x0018, &ImageInfo::sopInstanceUID},    {0x0008, 0x0022, &ImageInfo::acquisitionDate},
    {0x0008, 0x0023, &ImageInfo::contentDate},       {0x0008, 0x0032, &ImageInfo::acquisitionTime},
    {0x0008, 0x0033, &ImageInfo::contentTime},       {LEVEL_GROUP, LEVEL_ELEMENT, nullptr},
    {0x0020, 0x000D, &ImageInfo::studyInstanceUID},  {0x0020, 0x000E, &ImageInfo::seriesInstanceUID},
    {0x0020, 0x0012, &ImageInfo::acquisitionNumber}, {0x0020, 0x0013, &ImageInfo::instanceNumber},
    {0x0020, 0x0032, &ImageInfo::imagePosition},     {0x0020, 0x0037, &ImageInfo::imageOrientation},
    {0x0020, 0x1041, &ImageInfo::sliceLocation},     {0x0028, 0x0008, &ImageInfo::numberOfFrames},
};

constexpr Key IMAGE_EXTRA_SOURCES[] = {
    {0x0028, 0x0004, &ImageInfo::photometricInterpretation},
    {0x0018, 0x1210, &ImageInfo::convolutionKernel},
};

struct NumberSource {
  std::uint16_t group;
  std::uint16_t element;
  std::uint16_t ImageInfo::*field;
};

constexpr NumberSource IMAGE_NUMBERS[] = {
    {0x0028, 0x0002, &ImageInfo::samplesPerPixel},
    {0x0028, 0x0010, &ImageInfo::rows},
    {0x0028, 0x0011, &ImageInfo::columns},
    {0x0028, 0x0101, &ImageInfo::bitsStored},
};

bool IsSequenceDelimiter(const DcmTag &t) { return t.Is(0xFFFE, 0xE0DD); }

bool OpensFlatSequence(const DcmTag &t) { return t.length == UNDEFINED_LENGTH && t.HasVR("SQ"); }

} // namespace

std::vector<std::string> FieldTexts(const ImageInfo &i) {
  return {i.sopInstanceUID,
          i.sopClassUID,
          i.instanceNumber,
          i.contentDate,
          i.contentTime,
          i.numberOfFrames,
          i.acquisitionDate,
          i.acquisitionTime,
          i.acquisitionNumber,
          i.sliceLocation,
          std::to_string(i.samplesPerPixel),
          i.photometricInterpretation,
          std::to_string(i.rows),
          std::to_string(i.columns),
          std::to_string(i.bitsStored),
          i.imageType,
          i.imageOrientation,
          i.imagePosition,
          i.seriesInstanceUID,
          i.studyInstanceUID,
          i.convolutionKernel};
}

void BuildImageKeys(const ImageInfo &image, DcmObj &identifier) {
  AppendKeys(identifier, image, IMAGE_KEYS, LEVEL_IMAGE);
  DeclareCharacterSet(identifier);
}

void ReadImageInfo(ImageInfo &image, const DcmObj &identifier) {
  const TextCharset charset = DeclaredCharset(identifier);
  // Flat sequences may nest; each closes with its own delimiter.
  std::size_t depth = 0;
  for (std::size_t i = 0; i < identifier.Count(); ++i) {
    const DcmTag *t = identifier.ElementAt(i);
    if (t == nullptr) {
      continue;
    }
    if (OpensFlatSequence(*t)) {
      ++depth;
      continue;
    }
    if (depth > 0) {
      depth -= IsSequenceDelimiter(*t) ? 1 : 0;
      continue;
    }
    if (ReadKey(image, *t, IMAGE_KEYS, charset) || ReadKey(image, *t, IMAGE_EXTRA_SOURCES, charset)) {
      continue;
    }
    if (!t->HasVR("US") || !HasReadableValue(*t)) {
      continue;
    }
    for (const NumberSource &number : IMAGE_NUMBERS) {
      if (t->Is(number.group, number.element)) {
        image.*number.field = t->GetUS();
      }
    }
  }
}

} // namespace fw
