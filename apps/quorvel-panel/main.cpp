// quorvel-panel: the Zentrix8 service dialog in a window, on the embedded
// simulator or on a unit given as quorvel takes it.
#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "PanelWindow.h"
#include "core/Vb.h"
#include "driver/clsQuorvelUnit.h"

namespace {

constexpr const char* kUsage =
    "usage: quorvel-panel [--config FILE] [--device NAME] [--address RESOURCE]\n"
    "                     [--page N] [--ports LIST] [--meas-time S] [--screenshot FILE [--burst-search]]\n"
    "  --page N           the page to open on (1 measurement, 2 burst search, 3 firmware)\n"
    "  --ports LIST       the burst search's ports checked (e.g. 2,3), Start ready (the space bar)\n"
    "  --meas-time S      the burst search's measuring time in seconds\n"
    "  --screenshot FILE  render the window (no display needed) and write it as PNG, then exit\n"
    "  --burst-search     run a burst search on the sum of DUT2 and DUT3 before the screenshot\n";

struct Arguments {
  quorvel::Options options;
  std::string screenshot;
  int page = 1;
  std::vector<int> ports;
  double measTime = 0;  // 0: the form's own
  bool burstSearch = false;
};

// "2,3": burst search ports 1 to 11; false for anything else.
bool ParsePorts(const std::string& text, std::vector<int>& ports) {
  ports.clear();
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string part = text.substr(start, comma - start);
    if (part.empty() || part.size() > 2 || part.find_first_not_of("0123456789") != std::string::npos) return false;
    const int p = std::stoi(part);
    if (p < 1 || p > 11) return false;
    ports.push_back(p);
    start = comma + 1;
  }
  return !ports.empty();
}

bool Parse(int argc, char** argv, Arguments& a) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    std::string page, ports, measTime;
    if (arg == "--config" ? !value(a.options.config)
        : arg == "--device" ? !value(a.options.device)
        : arg == "--address" ? !value(a.options.address)
        : arg == "--screenshot" ? !value(a.screenshot)
        : arg == "--page" ? !value(page) || page.size() != 1 || page[0] < '1' || page[0] > '3'
        : arg == "--ports" ? !value(ports) || !ParsePorts(ports, a.ports)
        : arg == "--meas-time" ? !value(measTime) || !(a.measTime = vb::ParseNumber(measTime).value_or(0), a.measTime >= 0.001 && a.measTime <= 1000)
        : arg == "--burst-search" ? (a.burstSearch = true, false)
                                  : true) {
      std::cerr << "quorvel-panel: " << (arg.rfind("--", 0) == 0 ? "bad or incomplete option " : "unknown argument ")
                << arg << "\n"
                << kUsage;
      return false;
    }
    if (!page.empty()) a.page = page[0] - '0';
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
      std::cout << kUsage;
      return 0;
    }
  Arguments a;
  a.options.program = "quorvel-panel";
  if (!Parse(argc, argv, a)) return quorvel::kUsage;
  // A screenshot needs no window system: drawn offscreen unless the user chose a platform.
  if (!a.screenshot.empty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  panel::PanelWindow window(a.options, std::cout, std::cerr);
  const int status = window.Start();
  if (status != quorvel::kOk && status != quorvel::kNoUnit) return status;
  window.Tabs().setCurrentIndex(a.page - 1);
  if (a.measTime > 0) window.Form().tb_BurstMeastime.Value(a.measTime);
  if (!a.ports.empty()) {
    for (const int p : a.ports) window.Form().cb_port(p).SetValue(1);
    if (auto* start = window.findChild<QPushButton*>("cb_Burstsearch_start")) start->setFocus();
  }
  if (a.screenshot.empty()) {
    // The user's size and place of the last session (~/.config/quorvel/quorvel-panel.conf).
    QSettings settings("quorvel", "quorvel-panel");
    window.RestoreSize(settings);
    window.show();
    const int result = app.exec();
    window.RememberSize(settings);
    return result;
  }
  window.resize(panel::PanelWindow::kDefaultWidth, panel::PanelWindow::kDefaultHeight);
  if (a.burstSearch) {
    auto& f = window.Form();
    f.cb_port(2).SetValue(1);
    f.cb_port(3).SetValue(1);
    if (a.measTime == 0) f.tb_BurstMeastime.Value(0.05);
    window.Tabs().setCurrentIndex(1);
    if (auto* start = window.findChild<QPushButton*>("cb_Burstsearch_start")) start->click();
  }
  window.show();
  QCoreApplication::processEvents();
  if (!window.grab().save(QString::fromStdString(a.screenshot), "PNG")) {
    std::cerr << "quorvel-panel: cannot write " << a.screenshot << "\n";
    return quorvel::kFailed;
  }
  std::cout << "quorvel-panel: wrote " << a.screenshot << "\n";
  return status;
}
