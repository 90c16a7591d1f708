// quorvel-panel's window: the host's device dialog on the desktop.  It plays
// the host: names the driver, sets its status to 1 and opens the device
// dialog of type 4; the pages the driver hands over become tabs, the
// service functions frame opens from the menu.  Beyond the form: a plot of
// the last burst search's trace, a CSV export of the burst list, and a
// history of the continuous RMS readings.
#pragma once

#include <QMainWindow>
#include <memory>
#include <ostream>
#include <string>

#include "dialog/frmQuorvelUnitTest.h"
#include "quorvel/Options.h"
#include "quorvel/Session.h"

class QTabWidget;
class QChartView;
class QLineSeries;
class QSettings;
class QScatterSeries;

namespace panel {

class PanelWindow : public QMainWindow {
 public:
  PanelWindow(const quorvel::Options& options, std::ostream& out, std::ostream& err);
  ~PanelWindow() override;

  // Opens the host, connects the unit and shows the device dialog; the exit
  // status of a failure (the message written), else 0.
  int Start();
  dialog::frmQuorvelUnitTest& Form() const { return *form_; }
  clsQuorvelUnit& Unit() { return session_.unit(); }
  QTabWidget& Tabs() const { return *tabs_; }
  // The last burst search's trace as plotted (empty before one).
  const QLineSeries* TracePlot() const { return trace_; }
  const QLineSeries* HistoryPlot() const { return history_; }
  // The service functions frame, in a window of its own.
  void ShowServiceFunctions();
  // The window's size and place as the user left them (the default size the first time).
  void RestoreSize(QSettings& settings);
  void RememberSize(QSettings& settings) const;
  static constexpr int kDefaultWidth = 1000, kDefaultHeight = 980;

 protected:
  void closeEvent(class QCloseEvent* event) override;

 private:
  class HostDialog;
  friend class HostDialog;
  void SetTabs(const std::vector<host::TabEntry>& tabs);
  void AddBurstPlot(QWidget* page);
  void AddUnitInfo(QWidget* page);
  void AddHistoryPlot(QWidget* page);
  void PlotLastSearch();
  void SaveBurstList();

  quorvel::Session session_;
  std::shared_ptr<HostDialog> hostDialog_;
  dialog::frmQuorvelUnitTest* form_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  QWidget* serviceWindow_ = nullptr;
  QLineSeries* trace_ = nullptr;
  QLineSeries* threshold_ = nullptr;
  QScatterSeries* bursts_ = nullptr;
  QChartView* traceView_ = nullptr;
  QLineSeries* history_ = nullptr;
  QChartView* historyView_ = nullptr;
  int historyCount_ = 0;
  bool unloaded_ = false;
};

}  // namespace panel
