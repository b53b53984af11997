// Settings dialog of the capture device.
#include "acquisition/CaptureSettingsDialog.h"

#include "acquisition/TvStandard.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QTabWidget>
#include <QVBoxLayout>

namespace fw {
namespace {

QString Latin1(const std::string &text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// A page with one labelled chooser.
QComboBox *AddPage(QTabWidget *pages, const QString &title, const QString &label) {
  auto *page = new QWidget(pages);
  auto *form = new QFormLayout(page);
  auto *box = new QComboBox(page);
  form->addRow(label, box);
  pages->addTab(page, title);
  return box;
}

} // namespace

CaptureSettingsDialog::CaptureSettingsDialog(QWidget *owner, VideoDeviceControls &device, const CaptureConfig &config)
    : QDialog(owner) {
  setWindowTitle(QStringLiteral("Video Configuration"));
  pages_ = new QTabWidget(this);
  AddInputPage(device, config);
  AddStandardPage(device, config);
  AddSizePage(device, config);

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(pages_);
  layout->addWidget(buttons);

  // Placed at 200, 200 relative to the owner, like every settings page.
  if (owner != nullptr) {
    move(owner->mapToGlobal(QPoint(200, 200)));
  }
}

void CaptureSettingsDialog::AddInputPage(VideoDeviceControls &device, const CaptureConfig &config) {
  const auto inputs = device.Inputs();
  if (inputs.empty()) {
    return;
  }
  inputBox_ = AddPage(pages_, QStringLiteral("Video Input"), QStringLiteral("Input:"));
  for (const auto &input : inputs) {
    inputBox_->addItem(Latin1(input.name), input.index);
    if (input.index == config.crossbarInput) {
      inputBox_->setCurrentIndex(inputBox_->count() - 1);
    }
  }
}

void CaptureSettingsDialog::AddStandardPage(VideoDeviceControls &device, const CaptureConfig &config) {
  // Only standards that have a stored code can be kept in the configuration.
  const auto wanted = V4l2StandardForTvFormat(config.tvFormat);
  std::vector<std::pair<std::string, std::int32_t>> standards;
  int preselect = -1;
  for (const auto &standard : device.Standards()) {
    const auto code = TvFormatForV4l2Standard(standard.v4l2Ids);
    if (!code) {
      continue;
    }
    if (preselect < 0 && wanted && (standard.v4l2Ids & *wanted) != 0) {
      preselect = static_cast<int>(standards.size());
    }
    standards.emplace_back(standard.name, *code);
  }
  if (standards.empty()) {
    return;
  }
  standardBox_ = AddPage(pages_, QStringLiteral("Video Standard"), QStringLiteral("Standard:"));
  for (const auto &[name, code] : standards) {
    standardBox_->addItem(Latin1(name), code);
  }
  if (preselect >= 0) {
    standardBox_->setCurrentIndex(preselect);
  }
}

void CaptureSettingsDialog::AddSizePage(VideoDeviceControls &device, const CaptureConfig &config) {
  const auto sizes = device.Sizes();
  if (sizes.empty()) {
    return;
  }
  sizeBox_ = AddPage(pages_, QStringLiteral("Video Format"), QStringLiteral("Frame size:"));
  for (const auto &size : sizes) {
    sizeBox_->addItem(QStringLiteral("%1 x %2").arg(size.width).arg(size.height), QSize(size.width, size.height));
    if (size.width == config.width && size.height == config.height) {
      sizeBox_->setCurrentIndex(sizeBox_->count() - 1);
    }
  }
}

int CaptureSettingsDialog::PageCount() const { return pages_->count(); }

void CaptureSettingsDialog::ApplyTo(CaptureConfig &config) const {
  if (inputBox_ != nullptr && inputBox_->currentIndex() >= 0) {
    config.crossbarInput = inputBox_->currentData().toInt();
  }
  if (standardBox_ != nullptr && standardBox_->currentIndex() >= 0) {
    config.tvFormat = standardBox_->currentData().toInt();
  }
  if (sizeBox_ != nullptr && sizeBox_->currentIndex() >= 0) {
    const QSize size = sizeBox_->currentData().toSize();
    config.width = size.width();
    config.height = size.height();
  }
}

} // namespace fw
