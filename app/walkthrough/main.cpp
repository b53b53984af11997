// fwwalkthrough: walks the station's windows through one acquisition on the
// offscreen platform and reports each step.
#include "app/FramewellApplication.h"
#include "app/walkthrough/Walkthrough.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

const char kUsage[] = "usage: fwwalkthrough --screenshots <folder> [--orthanc-url http://127.0.0.1:PORT]\n"
                      "  FRAMEWELL_HOME names the station folder, FRAMEWELL_VIDEO_SOURCE the video source.\n";

// GET of a JSON document; nullopt when the request fails or takes too long.
std::optional<QJsonDocument> GetJson(QNetworkAccessManager &network, const QString &url) {
  QNetworkReply *reply = network.get(QNetworkRequest(QUrl(url)));
  QEventLoop loop;
  QTimer timeout;
  timeout.setSingleShot(true);
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
  timeout.start(10000);
  loop.exec();
  std::optional<QJsonDocument> result;
  if (reply->isFinished() && reply->error() == QNetworkReply::NoError) {
    result = QJsonDocument::fromJson(reply->readAll());
  }
  reply->abort();
  reply->deleteLater();
  return result;
}

// Prints what the PACS holds; false when it cannot be asked.
bool ReportOrthanc(const QString &base) {
  QNetworkAccessManager network;
  const std::optional<QJsonDocument> instances = GetJson(network, base + "/instances");
  if (!instances || !instances->isArray()) {
    std::printf("PACS: no answer from %s\n", qPrintable(base));
    return false;
  }
  std::printf("PACS holds %lld instance(s):\n", static_cast<long long>(instances->array().size()));
  for (const QJsonValue &id : instances->array()) {
    const std::optional<QJsonDocument> tags =
        GetJson(network, base + "/instances/" + id.toString() + "/simplified-tags");
    if (!tags) {
      continue;
    }
    const QJsonObject object = tags->object();
    std::printf("  %s  SOP class %s  patient %s (%s)  frames %s\n", qPrintable(id.toString()),
                qPrintable(object.value("SOPClassUID").toString()), qPrintable(object.value("PatientName").toString()),
                qPrintable(object.value("PatientID").toString()),
                qPrintable(object.value("NumberOfFrames").toString("1")));
  }
  std::printf("See them in Orthanc Explorer: %s/app/explorer.html\n", qPrintable(base));
  return true;
}

} // namespace

int main(int argc, char **argv) {
  std::string screenshots;
  std::string orthancUrl;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return EXIT_SUCCESS;
    }
    if ((arg == "--screenshots" || arg == "--orthanc-url") && i + 1 < argc) {
      (arg == "--screenshots" ? screenshots : orthancUrl) = argv[++i];
      continue;
    }
    std::fprintf(stderr, "fwwalkthrough: bad option %s\n%s", arg.c_str(), kUsage);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  fw::FramewellApplication app(argc, argv);
  fw::WalkOptions options;
  options.screenshotFolder = QString::fromStdString(screenshots);
  fw::Walkthrough walk(options);
  const bool ok = walk.Run();
  for (const fw::WalkStep &step : walk.Steps()) {
    std::printf("%-26s %s%s%s\n", step.name.c_str(), step.ok ? "ok" : "FAILED", step.detail.empty() ? "" : "  ",
                step.detail.c_str());
  }
  for (const std::string &box : walk.Boxes()) {
    std::printf("box: %s\n", box.c_str());
  }
  std::printf("Objects made: %d\n", walk.ObjectsMade());
  bool pacsAnswered = true;
  if (!orthancUrl.empty()) {
    QString base = QString::fromStdString(orthancUrl);
    while (base.endsWith('/')) {
      base.chop(1);
    }
    pacsAnswered = ReportOrthanc(base);
  }
  if (!screenshots.empty()) {
    std::printf("Screenshots in %s\n", screenshots.c_str());
  }
  return ok && pacsAnswered ? EXIT_SUCCESS : EXIT_FAILURE;
}
