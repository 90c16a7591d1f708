// A simulated Zentrix8 unit: it takes the SCPI messages the driver sends and
// answers them as the unit would, with settings, operations that complete
// after the measuring time, an error queue, calibration rows and a firmware
// update.  One instance is one unit; the in-process VISA and the servers
// share instances by name.
#pragma once

#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Export.h"
#include "sim/Scenario.h"

namespace sim {

class QUORVEL_API Zentrix8 {
 public:
  using Clock = std::chrono::steady_clock;

  struct Identity {
    std::string maker = "Tavlor";
    std::string model = "Zentrix8";
    std::string serial = "Z8-000123";
    std::string firmware = "2.4.1";
  };

  // The settings of one sensor (index 0 is the summing path).
  struct Sensor {
    double frequency = 10e6;
    double attenuation = 0;
    double gain = 0;
    double burstSearchLevel = 30;  // dB below the trace's peak
    long sampleCount = 1;
    long dividerFast = 250;
    long dividerSlow = 0;
    std::string sampleMode = "SAMP";
    double triggerOffset = 0;  // samples
    std::string operation = "ONCE";
    std::array<double, 2> trigger{0, 0};  // external trigger window
    std::string mode = "PDET";            // PDET, PEAK, COMP, VID
    std::string meas = "OFF";             // SUM, SING, OFF
    double videoMin = 0, videoMax = 0;
  };

  // What one measurement left for a channel (0 = the sum).
  struct Result {
    std::vector<long> trace;  // hundredths of dBm
    std::string traceText;    // the trace as answered, made at the first query
    double rmsDbm = -100;
    double minDbm = -100, maxDbm = -100;
    std::vector<double> burstStart, burstOnTime, burstLevel;
    bool searched = false;
    double dutyCycle = 0, mediumUtilization = 0;
  };

  explicit Zentrix8(Scenario scenario = {});

  // Instances by name ("Zentrix8" is the default unit).
  static std::shared_ptr<Zentrix8> Instance(const std::string& name = "Zentrix8");
  // A new unit under that name, replacing the one there was (for tests).
  static std::shared_ptr<Zentrix8> Replace(const std::string& name, Scenario scenario = {});

  // One client's way in, with its own input and answers (sim/Port.h).
  class Port;

  // The unit's own port, for tests and single-client use.
  void Write(std::string_view bytes, bool end = true);
  std::string Read(std::size_t max);
  std::string ReadAnswer(std::size_t max);
  std::size_t ReadInto(std::string& out, std::size_t max, bool oneAnswer);
  std::optional<Clock::time_point> AnswerReadyAt() const;
  void Clear();
  // The unit does not answer while it restarts after a firmware update.
  bool Rebooting() const;
  // After the drop-after fault fired, until the controller reconnects.
  bool ConnectionDropped() const;
  // A new connection: the drop-after fault counts afresh.  Nobody's answers are touched.
  void Reconnect();
  // The IEEE 488.2 status byte as `port`'s client reads it without a query
  // (a serial poll, VXI-11 device_readstb): MAV is that client's; an
  // operation whose time has passed completes first.
  long SerialPoll(const Port& port);

  // Simulated seconds take this many real seconds (0: operations are instant).
  void SetTimeScale(double scale);
  double TimeScale() const;
  // Seconds the restart after a firmware update takes (before the time scale).
  void SetRebootSeconds(double seconds);

  // --- for tests and demos ---------------------------------------------------
  Scenario& scenario() { return scenario_; }
  Faults& faults() { return faults_; }
  Identity identity() const;
  Sensor sensor(int index) const;  // 0 = sum, 1..8
  double attenuator(int index) const;  // 1..8, 9 companion, 10 bypass
  std::string clockWord() const;
  std::string pathState(const std::string& node) const;  // e.g. "PORT5" -> "SUM"
  long commandCount() const;
  static constexpr std::size_t kLoggedMessages = 10000;
  static constexpr std::size_t kLoggedBytes = 512;
  static constexpr std::size_t kMaxParts = 256;
  static constexpr std::size_t kErrorQueueLength = 32;
  // Bits of the event status register.
  static constexpr long kEsrOperationComplete = 1, kEsrQueryError = 4, kEsrDeviceError = 8, kEsrExecutionError = 16,
                        kEsrCommandError = 32;
  std::vector<std::string> commandLog() const;
  long firmwareUploads() const;

 private:
  struct Command;
  struct Operation {
    enum Kind { kNone, kMeasure, kBurstSearch, kRms, kReset } kind = kNone;
    Clock::time_point due{};
    int channel = 0;
  };
  using Handler = std::function<void(Zentrix8&, Command&)>;

  static const std::map<std::string, Handler>& Handlers();
  void ProcessMessage(std::string_view message, Port& port);
  void ProcessCommand(std::string_view text, bool& opcRequested);
  // A program header (":SENS1:FREQ 1e9") as the handler table knows it;
  // throws the unit's error when it cannot be one.
  static Command ParseHeader(std::string_view text);
  // Whether the table has a handler for the header.
  static bool KnownHeader(const std::string& text);
  void FinishFirmware(Port& port);
  void Answer(std::string text);
  // An empty string to make a long answer in: the room of this port's last one.
  std::string AnswerBuffer();
  void AnswerAt(std::string text, Clock::time_point readyAt);
  void CommonCommand(const std::string& command, bool& opcRequested);
  std::string NextError();
  long StatusByte() const;
  void QueueError(long code, const std::string& text);
  void StartOperation(Operation::Kind kind, int channel, double seconds);
  void CompleteIfDue();
  void Measure(const std::vector<int>& channels);
  void SearchBursts(int channel);
  double SampleRate(const Sensor& s) const;
  std::vector<int> SumMembers() const;
  void ResetSettings();

  mutable std::recursive_mutex mutex_;
  Scenario scenario_;
  Faults faults_;
  Identity identity_;
  double timeScale_ = 1.0;
  double rebootSeconds_ = 3.0;

  // Settings.
  std::array<Sensor, 9> sensors_{};
  std::array<double, 11> attenuators_{};
  std::string clock_ = "C250";
  double beamformingGain_ = 0;
  long triggerOut_ = 0, triggerMeasure_ = 0;
  std::map<long, long> parts_;
  std::map<std::string, std::string> paths_;

  // Status and results.
  long esr_ = 0;
  long ese_ = 0;  // event status enable
  long sre_ = 0;  // service request enable
  bool opcArmed_ = false;
  Operation op_;
  std::vector<std::pair<long, std::string>> errors_;
  std::array<Result, 9> results_{};
  // The benchmark list (SYST:TEST:LIST?), formatted once per length as a trace is once per measurement.
  std::string testList_;
  long testListLength_ = 0;
  unsigned measurements_ = 0;

  // The port whose command runs (set while the lock is held).
  Port* current_ = nullptr;
  std::unique_ptr<Port> port_;
  long commands_ = 0;
  std::deque<std::string> log_;  // the last kLoggedMessages messages, each cut at kLoggedBytes
  bool dropped_ = false;
  Clock::time_point rebootUntil_{};
  long firmwareUploads_ = 0;
};

}  // namespace sim

#include "sim/Port.h"  // the unit comes with its ports
