// ImageInfo: image keys and the reading of image responses.
#include "net/query/ImageInfo.h"

#include "dicom/Tags.h"
#include "net/query/CharacterSet.h"
#include "net/query/QueryKeys.h"

namespace fw {

namespace {

using Key = QueryKey<ImageInfo>;

constexpr Key IMAGE_KEYS[] = {
    {tag::ImageType, &ImageInfo::imageType},
    {tag::SOPClassUID, &ImageInfo::sopClassUID},
    {tag::SOPInstanceUID, &ImageInfo::sopInstanceUID},
    {tag::AcquisitionDate, &ImageInfo::acquisitionDate},
    {tag::ContentDate, &ImageInfo::contentDate},
    {tag::AcquisitionTime, &ImageInfo::acquisitionTime},
    {tag::ContentTime, &ImageInfo::contentTime},
    {tag::QueryRetrieveLevel, nullptr},
    {tag::StudyInstanceUID, &ImageInfo::studyInstanceUID},
    {tag::SeriesInstanceUID, &ImageInfo::seriesInstanceUID},
    {tag::AcquisitionNumber, &ImageInfo::acquisitionNumber},
    {tag::InstanceNumber, &ImageInfo::instanceNumber},
    {tag::ImagePositionPatient, &ImageInfo::imagePosition},
    {tag::ImageOrientationPatient, &ImageInfo::imageOrientation},
    {tag::SliceLocation, &ImageInfo::sliceLocation},
    {tag::NumberOfFrames, &ImageInfo::numberOfFrames},
};

constexpr Key IMAGE_EXTRA_SOURCES[] = {
    {tag::PhotometricInterpretation, &ImageInfo::photometricInterpretation},
    {tag::ConvolutionKernel, &ImageInfo::convolutionKernel},
};

struct NumberSource {
  Tag tag;
  std::uint16_t ImageInfo::*field;
};

constexpr NumberSource IMAGE_NUMBERS[] = {
    {tag::SamplesPerPixel, &ImageInfo::samplesPerPixel},
    {tag::Rows, &ImageInfo::rows},
    {tag::Columns, &ImageInfo::columns},
    {tag::BitsStored, &ImageInfo::bitsStored},
};

bool IsSequenceDelimiter(const DcmTag &t) { return t.Is(tag::SequenceDelimitationItem); }

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
      if (t->Is(number.tag)) {
        image.*number.field = t->GetUS();
      }
    }
  }
}

} // namespace fw
