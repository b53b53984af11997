// PrepareDisplayImage copies what drawing needs from an uncompressed data set
// into a TImages; ConvertTransferSyntax (ConvertTransferSyntax.h) brings a
// compressed one there first.
#pragma once

#include "conversion/ConvertTransferSyntax.h"
#include "dicom/DcmObj.h"
#include "presentation/TImages.h"

namespace fw {

// Fills a fresh TImages from an uncompressed data set: identifying texts,
// geometry, colour model and the native pixels (colour interleaved to R, G, B
// triples). Encapsulated pixel data is not taken: convert it first. For
// Modality "SR" the frames are the report's pages (RenderReport, ReportPages.h).
void PrepareDisplayImage(TImages &images, const DcmObj &ds);

} // namespace fw
