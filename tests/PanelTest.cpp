// The desktop panel's wiring, offscreen: widgets follow the form model and
// clicks reach its handlers; the burst search runs and plots from the window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QChart>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QValueAxis>
#include <cmath>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTimer>
#include <sstream>

#include "PanelWindow.h"
#include "Renderer.h"
#include "TempDir.h"

namespace {

struct Window {
  TempDir dir;
  quorvel::Options options;
  std::ostringstream out, err;
  std::unique_ptr<panel::PanelWindow> window;
  int status = -1;

  explicit Window(const std::string& address = {}) {
    TempDir::Write(dir / "none.ini", "");
    options.config = dir / "none.ini";
    options.address = address;
    options.program = "quorvel-panel";  // as its main() names it
    window = std::make_unique<panel::PanelWindow>(options, out, err);
    status = window->Start();
  }
  template <class W>
  W& Find(const char* name) {
    W* w = window->findChild<W*>(name);
    if (!w) throw std::runtime_error(std::string("no widget ") + name);
    return *w;
  }
};

// Every line the panel writes to its log says it came from the panel.
TEST(Panel, LogLinesNameThePanel) {
  Window w("TCPIP::127.0.0.1::1::SOCKET");  // nothing listens there
  EXPECT_EQ(w.status, quorvel::kNoUnit);
  std::istringstream lines(w.err.str());
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) EXPECT_EQ(line.rfind("quorvel-panel: ", 0), 0u) << line;
  EXPECT_GT(count, 0);
}

// Captions beside their fields stay on one line; a label with nothing to
// say takes no room, and shows when it has something.
TEST(Panel, LabelsOnOneLineAndNoEmptyBars) {
  Window w;
  ASSERT_EQ(w.status, 0) << w.err.str();
  w.window->show();
  EXPECT_FALSE(w.Find<QLabel>("lb_burst(1)").wordWrap());  // "Samplerate (per secs.):"
  auto& status = w.Find<QLabel>("lb_ErrStatus");
  w.window->Tabs().setCurrentIndex(1);
  EXPECT_FALSE(status.isVisibleTo(w.window.get()));
  w.window->Form().lb_ErrStatus.Caption("Overflow");
  EXPECT_TRUE(status.isVisibleTo(w.window.get()));
  EXPECT_EQ(status.text(), "Overflow");
  EXPECT_FALSE(w.Find<QLabel>("lblSpeed").isVisibleTo(w.window.get()));  // a caption over nothing
  // A caption and its value (two labels of one array) share a row; the unit's line feed is not shown.
  auto& caption = w.Find<QLabel>("lb_fw_version(0)");
  auto& version = w.Find<QLabel>("lb_fw_version(1)");
  w.window->Tabs().setCurrentIndex(2);
  EXPECT_EQ(version.text(), "2.4.1");
  EXPECT_EQ(version.mapTo(w.window.get(), QPoint()).y(), caption.mapTo(w.window.get(), QPoint()).y());
  EXPECT_GT(version.mapTo(w.window.get(), QPoint()).x(), caption.mapTo(w.window.get(), QPoint()).x());
  // ... but a label of an input keeps its row: "RMS" sits beside its box, not beside "Measurement Values:".
  w.window->Tabs().setCurrentIndex(0);
  const auto row = [&](const char* name) { return w.Find<QWidget>(name).mapTo(w.window.get(), QPoint()).y(); };
  EXPECT_NEAR(row("lblMeasValue(1)"), row("txtMeasValue(0)"), 8);
}

// The window comes back in the size the user left it; the first time in its default size.
TEST(Panel, RemembersItsSize) {
  TempDir dir;
  QSettings settings(QString::fromStdString(dir / "panel.conf"), QSettings::IniFormat);
  {
    Window first;
    first.window->RestoreSize(settings);
    EXPECT_EQ(first.window->size(), QSize(panel::PanelWindow::kDefaultWidth, panel::PanelWindow::kDefaultHeight));
    first.window->resize(900, 700);
    first.window->RememberSize(settings);
  }
  Window second;
  second.window->RestoreSize(settings);
  EXPECT_EQ(second.window->size(), QSize(900, 700));
  second.window->resize(200, 150);  // not below what keeps the pages usable
  EXPECT_EQ(second.window->size(), second.window->minimumSize());
  EXPECT_GE(second.window->minimumWidth(), 640);
}

TEST(Panel, TheBurstSearchRunsFromTheWidgetsAndPlotsItsTrace) {
  Window w;
  ASSERT_EQ(w.status, 0) << w.err.str();
  EXPECT_EQ(w.window->Tabs().count(), 3);
  EXPECT_EQ(w.window->Tabs().tabText(1), "Burstsearch");
  w.Find<QCheckBox>("cb_port(2)").click();
  w.Find<QCheckBox>("cb_port(3)").click();
  EXPECT_EQ(w.window->Form().cb_port(3).Value(), 1);
  w.window->Form().tb_BurstMeastime.Value(0.02);
  w.Find<QPushButton>("cb_Burstsearch_start").click();
  const auto& model = w.window->Form().lb_bursts.Entries();
  const auto& list = w.Find<QListWidget>("lb_bursts");
  ASSERT_EQ(list.count(), static_cast<int>(model.size()));
  ASSERT_GT(model.size(), 2u);
  EXPECT_EQ(list.item(2)->text(), QString::fromStdString(panel::ExpandTabs(model[2].text, w.window->Form().lb_bursts.TabStops())));
  // Heading, units and values line up: each field begins at the same column in every line.
  const auto& stops = w.window->Form().lb_bursts.TabStops();
  const auto starts = [&](const std::string& text) {
    std::vector<std::size_t> at;
    for (std::size_t t = text.find('\t'); t != std::string::npos; t = text.find('\t', t + 1))
      at.push_back(panel::ExpandTabs(text.substr(0, t + 1), stops).size());
    return at;
  };
  for (std::size_t k = 1; k < 3; ++k) EXPECT_EQ(starts(model[k].text), starts(model[0].text)) << model[k].text;
  EXPECT_EQ(starts(model[0].text).size(), 3u);
  ASSERT_NE(w.window->TracePlot(), nullptr);
  EXPECT_GT(w.window->TracePlot()->count(), 1000);
  // The plot reads at a glance: titled axes with units, ticks on round values, a legend.
  QChart* chart = w.window->TracePlot()->chart();
  const auto axes = chart->axes();
  ASSERT_EQ(axes.size(), 2);
  EXPECT_EQ(axes[0]->titleText(), "Time [ms]");
  EXPECT_EQ(axes[1]->titleText(), "Level [dBm]");
  for (QAbstractAxis* a : axes) {
    const auto* v = qobject_cast<QValueAxis*>(a);
    ASSERT_NE(v, nullptr);
    const double step = v->tickInterval(), unit = std::pow(10.0, std::floor(std::log10(step)));
    const double mantissa = step / unit;
    EXPECT_TRUE(std::abs(mantissa - 1) < 1e-9 || std::abs(mantissa - 2) < 1e-9 || std::abs(mantissa - 5) < 1e-9) << step;
    EXPECT_NEAR(std::remainder(v->tickAnchor(), step), 0, 1e-9) << v->tickAnchor();
    EXPECT_NEAR(std::remainder(v->min(), step), 0, 1e-9) << v->min();
  }
  EXPECT_TRUE(chart->legend()->isVisible());
  EXPECT_EQ(chart->legend()->markers().size(), 3);
  EXPECT_TRUE(chart->series()[1]->name().startsWith("Threshold, 30 dB below the peak"));
}

TEST(Panel, AbortDuringTheWaitCancelsTheSearch) {
  Window w;
  w.Find<QCheckBox>("cb_port(1)").click();
  w.window->Form().tb_BurstMeastime.Value(5);
  QPushButton& abort = w.Find<QPushButton>("cb_Burstsearch_Abort");
  QTimer::singleShot(200, &abort, [&abort] { abort.click(); });  // while the search waits
  w.Find<QPushButton>("cb_Burstsearch_start").click();
  EXPECT_EQ(w.Find<QListWidget>("lb_bursts").count(), 1);
  EXPECT_EQ(w.Find<QListWidget>("lb_bursts").item(0)->text(), "cancelled!");
  EXPECT_TRUE(w.Find<QPushButton>("cb_Burstsearch_start").isEnabled());
}

TEST(Panel, SimulationIsShownWhenNoUnitAnswers) {
  Window w("NOBODY::here");
  EXPECT_EQ(w.status, 3);
  EXPECT_FALSE(w.Find<QLabel>("lblSimulation(0)").isHidden());
  Window connected;
  EXPECT_TRUE(connected.Find<QLabel>("lblSimulation(0)").isHidden());
}

TEST(Panel, AScreenshotIsAPictureOfTheWindow) {
  Window w;
  w.window->resize(1000, 800);
  w.window->show();
  QCoreApplication::processEvents();
  const std::string file = w.dir / "panel.png";
  ASSERT_TRUE(w.window->grab().save(QString::fromStdString(file), "PNG"));
  const QImage image(QString::fromStdString(file));
  EXPECT_EQ(image.width(), 1000);
  EXPECT_EQ(image.height(), 800);
  QRgb first = image.pixel(0, 0);
  int differing = 0;
  for (int y = 0; y < image.height(); y += 7)
    for (int x = 0; x < image.width(); x += 7) differing += image.pixel(x, y) != first;
  EXPECT_GT(differing, 500);  // not blank
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
