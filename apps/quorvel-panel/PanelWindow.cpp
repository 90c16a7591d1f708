#include "PanelWindow.h"

#include <QAction>
#include <QChart>
#include <QChartView>
#include <QCloseEvent>
#include <QDialog>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <cmath>

#include <QLineSeries>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScatterSeries>
#include <QScrollArea>
#include <QSettings>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <cmath>
#include <fstream>

#include "QtPlatform.h"
#include "Renderer.h"
#include "driver/clsQuorvelUnit.h"

namespace panel {

namespace {

// The host's device list with this window as the device dialog.
class DeviceListWithWindow : public host::IDeviceList {
 public:
  DeviceListWithWindow(std::shared_ptr<host::IDeviceList> inner, std::shared_ptr<host::IDeviceDialog> dialog)
      : inner_(std::move(inner)), dialog_(std::move(dialog)) {}
  std::shared_ptr<host::IDeviceListConnection> Connection() override { return inner_->Connection(); }
  std::shared_ptr<host::IDeviceDialog> DeviceDialog(const std::string&) override { return dialog_; }
  std::string Description(const std::string& n) override { return inner_->Description(n); }
  long Interface(const std::string& n) override { return inner_->Interface(n); }
  std::string Address(const std::string& n) override { return inner_->Address(n); }
  host::DeviceRecord GetDeviceRecord(const std::string& n) override { return inner_->GetDeviceRecord(n); }
  std::string DeviceType(const std::string& n) override { return inner_->DeviceType(n); }
  bool IsAvailable(const std::string& n) override { return inner_->IsAvailable(n); }
  long Timeout(const std::string& n) override { return inner_->Timeout(n); }

 private:
  std::shared_ptr<host::IDeviceList> inner_;
  std::shared_ptr<host::IDeviceDialog> dialog_;
};

// Axes titled, with their ticks on round values.
void TitleAxes(QChart* chart, const QString& x, const QString& y) {
  const auto axes = chart->axes();
  if (axes.size() != 2) return;
  axes[0]->setTitleText(x);
  axes[1]->setTitleText(y);
}

void NiceAxes(QChart* chart) {
  for (QAbstractAxis* a : chart->axes())
    if (auto* v = qobject_cast<QValueAxis*>(a)) {
      v->setTickType(QValueAxis::TicksDynamic);
      v->applyNiceNumbers();
      const double span = v->max() - v->min();
      // About five intervals of 1, 2 or 5 times a power of ten.
      const double raw = span / 5, unit = std::pow(10.0, std::floor(std::log10(raw > 0 ? raw : 1)));
      const double step = raw / unit < 1.5 ? unit : raw / unit < 3.5 ? 2 * unit : raw / unit < 7.5 ? 5 * unit : 10 * unit;
      v->setTickAnchor(std::floor(v->min() / step) * step);
      v->setTickInterval(step);
      v->setLabelFormat(step >= 1 ? "%.0f" : step >= 0.1 ? "%.1f" : "%.2f");
    }
}

QChartView* ChartView(QChart* chart, QWidget* parent, int height, bool legend) {
  chart->legend()->setVisible(legend);
  chart->legend()->setAlignment(Qt::AlignBottom);
  chart->setMargins(QMargins(2, 2, 2, 2));
  auto* view = new QChartView(chart, parent);
  view->setRenderHint(QPainter::Antialiasing);
  view->setMinimumHeight(height);
  return view;
}

}  // namespace

// The host's dialog object as the driver sees it: its pages become tabs.
class PanelWindow::HostDialog : public host::IDeviceDialog {
 public:
  explicit HostDialog(PanelWindow& window) : window_(window) {}
  host::Subscription OnNewParameter(std::function<void()> handler) override { return event_.Connect(std::move(handler)); }
  void SetTabs(const std::vector<host::TabEntry>& tabs) override { window_.SetTabs(tabs); }
  void SetContext(long) override {}
  void SetCaption(const std::string& caption) override { window_.setWindowTitle(QString::fromStdString(caption)); }
  void ShowDialog(long) override { window_.show(); }

 private:
  PanelWindow& window_;
  host::NewParameterEvent event_;
};

PanelWindow::PanelWindow(const quorvel::Options& options, std::ostream& out, std::ostream& err)
    : session_(options, out, err,
               {QtPlatform(this),
                [this](host::Services s) {  // the host's services, with this window as the device dialog
                  s.deviceList = std::make_shared<DeviceListWithWindow>(s.deviceList, hostDialog_);
                  return s;
                }}),
      hostDialog_(std::make_shared<HostDialog>(*this)) {
  tabs_ = new QTabWidget(this);
  setCentralWidget(tabs_);
  // Smaller, and the pages scroll rather than squeeze their controls.
  setMinimumSize(640, 480);
  QMenu* service = menuBar()->addMenu("&Service");
  service->addAction("Service functions ...", [this] { ShowServiceFunctions(); });
  service->addSeparator();
  service->addAction("&Close", [this] { close(); });
}

PanelWindow::~PanelWindow() {
  if (!unloaded_ && form_) form_->Form_Unload();
}

int PanelWindow::Start() {
  int status = quorvel::kOk;
  if (!session_.Open(status)) return status;
  const bool connected = session_.Connect();
  session_.unit().clsDevice_ShowDeviceDialog(4, nullptr, "");
  return form_ ? (connected ? quorvel::kOk : quorvel::kNoUnit) : quorvel::kFailed;
}

void PanelWindow::SetTabs(const std::vector<host::TabEntry>& tabs) {
  form_ = dynamic_cast<dialog::frmQuorvelUnitTest*>(session_.unit().TestForm());
  if (!form_) return;
  while (tabs_->count() > 0) delete tabs_->widget(0);
  const std::pair<ServiceFrame, dialog::Control*> frames[] = {{ServiceFrame::fraTest, &form_->fraTest},
                                                             {ServiceFrame::fraBurstsearch, &form_->fraBurstsearch},
                                                             {ServiceFrame::fraFWUpdate, &form_->fraFWUpdate}};
  for (const host::TabEntry& tab : tabs) {
    for (const auto& [which, frame] : frames) {
      if (form_->FrameHandle(which) != tab.Handle) continue;
      auto* page = new QWidget;
      auto* layout = new QVBoxLayout(page);
      if (which == ServiceFrame::fraFWUpdate) AddUnitInfo(page);
      layout->addWidget(Render(*frame, page));
      // A frame is 8175 x 5055 twips: 545 x 337 pixels at least.
      page->setMinimumSize(545, 337);
      if (which == ServiceFrame::fraBurstsearch) AddBurstPlot(page);
      if (which == ServiceFrame::fraTest) AddHistoryPlot(page);
      // A page with a plot gives the plot the room that is left; the others keep their controls together.
      if (which == ServiceFrame::fraFWUpdate) layout->addStretch(1);
      auto* scroll = new QScrollArea;
      scroll->setWidgetResizable(true);
      scroll->setWidget(page);
      tabs_->addTab(scroll, QString::fromStdString(tab.Caption));
    }
  }
}

void PanelWindow::AddUnitInfo(QWidget* page) {
  // Before an upload the engineer wants to know which unit takes it, and what happens.
  const DeviceInfo info = session_.unit().clsDevice_Info();
  auto* box = new QGroupBox("Unit", page);
  auto* grid = new QGridLayout(box);
  const std::pair<QString, QString> rows[] = {
      {"Device:", QString::fromStdString(session_.unit().clsDevice_Name())},
      {"Address:", QString::fromStdString(session_.unit().AddressText())},
      {"Serial number:", QString::fromStdString(quorvel::Shown(info.SerialNumber))},
      {"Upload:", "a firmware file begins with the unit's upload command (\"SYSTEM:FWUPDATE #\"); it is sent as it "
                  "is, in 16 KiB pieces, and the unit restarts with the new firmware: keep it powered until it "
                  "answers again."}};
  int row = 0;
  for (const auto& [caption, value] : rows) {
    grid->addWidget(new QLabel(caption, box), row, 0, Qt::AlignTop);
    auto* v = new QLabel(value, box);
    v->setWordWrap(true);
    v->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(v, row++, 1);
  }
  grid->setColumnStretch(1, 1);
  page->layout()->addWidget(box);
}

void PanelWindow::AddBurstPlot(QWidget* page) {
  auto* chart = new QChart;
  trace_ = new QLineSeries(chart);
  threshold_ = new QLineSeries(chart);
  bursts_ = new QScatterSeries(chart);
  bursts_->setMarkerSize(8);
  for (QAbstractSeries* s : std::initializer_list<QAbstractSeries*>{trace_, threshold_, bursts_}) chart->addSeries(s);
  trace_->setName("Trace");
  threshold_->setName("Threshold");
  bursts_->setName("Bursts found");
  chart->createDefaultAxes();
  TitleAxes(chart, "Time [ms]", "Level [dBm]");
  chart->setTitle("Last trace");
  traceView_ = ChartView(chart, page, 260, true);
  static_cast<QVBoxLayout*>(page->layout())->addWidget(traceView_, 1);
  auto* save = new QPushButton("Save list as CSV...", page);
  save->setObjectName("saveBurstList");
  page->layout()->addWidget(save);
  connect(save, &QPushButton::clicked, this, [this] { SaveBurstList(); });
  // After the form's handler has run the search: plot what it found.
  if (auto* start = page->findChild<QPushButton*>("cb_Burstsearch_start"))
    connect(start, &QPushButton::clicked, this, [this] { PlotLastSearch(); });
}

void PanelWindow::AddHistoryPlot(QWidget* page) {
  // The form's "Measurement Speed" caption labels nothing of its own; the
  // readings plotted below take its place.
  if (auto* speed = page->findChild<QWidget*>("lblSpeed")) speed->hide();
  auto* chart = new QChart;
  history_ = new QLineSeries(chart);
  chart->addSeries(history_);
  history_->setName("RMS");
  chart->createDefaultAxes();
  TitleAxes(chart, "Reading", "RMS [dBm]");
  if (const auto axes = chart->axes(); axes.size() == 2) {  // before the first reading: the unit's usual span
    axes[0]->setRange(0, 10);
    axes[1]->setRange(-80, 0);
    NiceAxes(chart);
  }
  chart->setTitle("RMS readings");
  historyView_ = ChartView(chart, page, 240, false);
  static_cast<QVBoxLayout*>(page->layout())->addWidget(historyView_, 1);
  form_->txtMeasValue(0).Observe([this](const dialog::Control& c, std::string_view property) {
    bool ok = false;
    const double v = QString::fromStdString(c.Text()).toDouble(&ok);
    if (property != "Caption" || !ok || !history_) return;
    history_->append(historyCount_++, v);
    if (history_->count() > 200) history_->remove(0);
    auto axes = history_->chart()->axes();
    if (axes.size() == 2) {
      axes[0]->setRange(std::max(0, historyCount_ - 200), std::max(10, historyCount_));
      double lo = v, hi = v;
      for (const QPointF& p : history_->points()) lo = std::min(lo, p.y()), hi = std::max(hi, p.y());
      axes[1]->setRange(lo - 1, hi + 1);
      NiceAxes(history_->chart());
    }
  });
}

void PanelWindow::PlotLastSearch() {
  if (!form_ || !trace_ || form_->Simulation() || form_->lb_bursts.ListCount() < 3) return;
  const auto plan = form_->PlanBurstSearch();
  const vb::Long channel = plan.channel;
  if (channel == 0) return;
  std::vector<double> values;
  Unit().GetTrace(channel, values);
  const double rate = plan.sampleRate;
  QList<QPointF> points;
  double lo = 1e300, hi = -1e300;
  for (std::size_t i = 0; i < values.size(); ++i) {
    points.append(QPointF(static_cast<double>(i) / rate * 1000, values[i]));
    lo = std::min(lo, values[i]);
    hi = std::max(hi, values[i]);
  }
  trace_->replace(points);
  const double level = hi - plan.threshold;
  const double end = values.empty() ? 1 : static_cast<double>(values.size() - 1) / rate * 1000;
  threshold_->replace(QList<QPointF>{{0, level}, {end, level}});
  QList<QPointF> found;
  for (const auto& e : form_->lb_bursts.Entries()) {
    const QStringList f = QString::fromStdString(e.text).split('\t');
    bool a = false, b = false;
    const double start = f.size() >= 4 ? f[1].toDouble(&a) : 0, dbm = f.size() >= 4 ? f[3].split(' ').first().toDouble(&b) : 0;
    if (a && b) found.append(QPointF(start, dbm));
  }
  bursts_->replace(found);
  auto axes = trace_->chart()->axes();
  if (axes.size() == 2 && !values.empty()) {
    axes[0]->setRange(0, end);
    axes[1]->setRange(std::min(lo, level) - 3, hi + 3);
    NiceAxes(trace_->chart());
  }
  threshold_->setName(QString("Threshold, %1 dB below the peak").arg(plan.threshold));
}

void PanelWindow::SaveBurstList() {
  const QString file = QFileDialog::getSaveFileName(this, "Save list as CSV", "bursts.csv", "CSV files (*.csv)");
  if (file.isEmpty() || !form_) return;
  std::ofstream out(file.toStdString());
  for (const auto& e : form_->lb_bursts.Entries()) {
    std::string line = e.text;
    for (char& c : line)
      if (c == '\t') c = ',';
    out << line << "\n";
  }
  if (!out) QMessageBox::critical(this, "Save list as CSV", "Cannot write " + file);
}

void PanelWindow::ShowServiceFunctions() {
  if (!form_) return;
  if (!serviceWindow_) {
    serviceWindow_ = new QDialog(this);
    serviceWindow_->setWindowTitle("Service functions");
    auto* layout = new QVBoxLayout(serviceWindow_);
    layout->addWidget(Render(form_->fraDebug, serviceWindow_));
  }
  serviceWindow_->show();
}

void PanelWindow::RestoreSize(QSettings& settings) {
  if (!restoreGeometry(settings.value("window/geometry").toByteArray())) resize(kDefaultWidth, kDefaultHeight);
}

void PanelWindow::RememberSize(QSettings& settings) const { settings.setValue("window/geometry", saveGeometry()); }

void PanelWindow::closeEvent(QCloseEvent* event) {
  // Closing the dialog unloads the form: the driver's test stops.
  if (!unloaded_ && form_) form_->Form_Unload();
  unloaded_ = true;
  event->accept();
}

}  // namespace panel
