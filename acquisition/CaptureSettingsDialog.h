// The capture device's settings: one page per setting the device offers
// (video input, analog video standard, frame size), built from what the
// device reports. A device without a setting has no page for it. The dialog
// only chooses; ApplyTo writes the choice into a CaptureConfig, which the
// pipeline applies to the device when it is built again.
#pragma once

#include "acquisition/CaptureConfig.h"
#include "acquisition/VideoDeviceControls.h"

#include <QDialog>

class QComboBox;
class QTabWidget;

namespace fw {

class CaptureSettingsDialog : public QDialog {
public:
  CaptureSettingsDialog(QWidget *owner, VideoDeviceControls &device, const CaptureConfig &config);

  // Number of pages (0 when the device offers no setting).
  int PageCount() const;

  // The choosers of the pages; nullptr when the device has no such page.
  QComboBox *InputBox() const { return inputBox_; }
  QComboBox *StandardBox() const { return standardBox_; }
  QComboBox *SizeBox() const { return sizeBox_; }

  // Writes the choice of every page present into config; fields without a
  // page keep their values.
  void ApplyTo(CaptureConfig &config) const;

private:
  // One page each, left out when the device offers no choice.
  void AddInputPage(VideoDeviceControls &device, const CaptureConfig &config);
  void AddStandardPage(VideoDeviceControls &device, const CaptureConfig &config);
  void AddSizePage(VideoDeviceControls &device, const CaptureConfig &config);

  QTabWidget *pages_ = nullptr;
  QComboBox *inputBox_ = nullptr;
  QComboBox *standardBox_ = nullptr;
  QComboBox *sizeBox_ = nullptr;
};

} // namespace fw
