// The commands the simulated unit knows, by header.  Settings answer their
// queries with what was set; a setting without its value queues -109.
#include <algorithm>
#include <cmath>
#include <set>

#include "sim/Zentrix8.h"

#include "sim/Command.h"
#include "sim/ModelChoices.h"
#include "sim/ScpiParsing.h"

namespace sim {

using namespace detail;

namespace {

std::string List(const std::vector<double>& values) {
  // The unit answers a list with no entries as the single value 0.
  if (values.empty()) return "0\n";
  std::string out;
  for (std::size_t i = 0; i < values.size(); ++i) out += (i ? "," : "") + Fmt(values[i]);
  return out + "\n";
}

int SensorIndex(long n) {
  if (n < 0 || n > 8) throw ScpiError{-114, "Header suffix out of range"};
  return static_cast<int>(n);
}

int MeasuredSensor(long n) {
  if (n < 1 || n > 8) throw ScpiError{-114, "Header suffix out of range"};
  return static_cast<int>(n);
}

// The calibration paths the unit has, and how many rows each holds.
int RowsOfPath(long path) {
  switch (path) {
    case 1: case 16: case 17: return 1;
    case 2: case 3: case 4: case 5: case 6: case 7: return 11;  // 0 to 100 dB in 10 dB steps
    case 9: case 11: case 13: case 14: case 15: case 23: case 24: return 31;  // 0 to 30 dB in 1 dB steps
    default: return 0;
  }
}

}  // namespace

const std::map<std::string, Zentrix8::Handler>& Zentrix8::Handlers() {
  using Z = Zentrix8;
  using C = Command;
  // A number setting of a sensor (0 = the sum) with its query.
  auto sensorNumber = [](double Sensor::*field, double lo, double hi) {
    return [field, lo, hi](Z& z, C& c) {
      Sensor& s = z.sensors_[static_cast<std::size_t>(SensorIndex(c.Num(0)))];
      if (c.query) return z.Answer(Fmt(s.*field) + "\n");
      const double v = c.Value();
      if (v < lo || v > hi) throw ScpiError{-222, "Data out of range"};
      s.*field = v;
    };
  };
  auto sensorLong = [](long Sensor::*field, long lo, long hi) {
    return [field, lo, hi](Z& z, C& c) {
      Sensor& s = z.sensors_[static_cast<std::size_t>(SensorIndex(c.Num(0)))];
      if (c.query) return z.Answer(std::to_string(s.*field) + "\n");
      const double v = c.Value();
      if (v < lo || v > hi || v != std::floor(v)) throw ScpiError{-222, "Data out of range"};
      s.*field = static_cast<long>(v);
    };
  };
  auto sensorWord = [](std::string Sensor::*field, std::initializer_list<const char*> allowed) {
    std::vector<std::string> words(allowed.begin(), allowed.end());
    return [field, words](Z& z, C& c) {
      Sensor& s = z.sensors_[static_cast<std::size_t>(SensorIndex(c.Num(0)))];
      if (c.query) return z.Answer(s.*field + "\n");
      const std::string w = c.Word();
      if (std::find(words.begin(), words.end(), w) == words.end()) throw ScpiError{-224, "Illegal parameter value"};
      s.*field = w;
    };
  };
  // A switch of the matrix: a word setting kept under its node, answered as set.
  auto pathWord = [](std::string node, std::vector<std::string> words, bool perPort) {
    return [node, words, perPort](Z& z, C& c) {
      const std::string key = perPort ? node + std::to_string(c.Num(0)) : node;
      if (c.query) {
        const auto it = z.paths_.find(key);
        return z.Answer((it == z.paths_.end() ? std::string("OFF") : it->second) + "\n");
      }
      const std::string w = c.Word();
      if (std::find(words.begin(), words.end(), w) == words.end()) throw ScpiError{-224, "Illegal parameter value"};
      z.paths_[key] = w;
    };
  };
  // A result query of a measured channel.
  auto result = [](std::function<std::string(const Result&)> answer) {
    return [answer](Z& z, C& c) {
      if (!c.query) throw ScpiError{-113, "Undefined header"};
      z.Answer(answer(z.results_[static_cast<std::size_t>(SensorIndex(c.Num(0)))]));
    };
  };
  // An attenuator of the switch matrix.
  auto attenuator = [](int fixed) {
    return [fixed](Z& z, C& c) {
      const long index = fixed ? fixed : c.Num(0);
      if (index < 1 || index > 10) throw ScpiError{-114, "Header suffix out of range"};
      double& a = z.attenuators_[static_cast<std::size_t>(index)];
      if (c.query) return z.Answer(Fmt(a) + "\n");
      const double v = c.Value();
      if (v < 0 || v > 100) throw ScpiError{-222, "Data out of range"};
      a = v;
    };
  };

  static const std::map<std::string, Handler> handlers = {
      {"SENS#:FREQ", sensorNumber(&Sensor::frequency, kMinFrequency, kMaxFrequency)},
      {"SENS#:CORR:ATT", sensorNumber(&Sensor::attenuation, -100, 100)},
      {"SENS#:CORR:GAIN", sensorNumber(&Sensor::gain, -100, 100)},
      {"SENS#:CORR:BFG",
       [](Z& z, C& c) {
         if (c.query) return z.Answer(Fmt(z.beamformingGain_) + "\n");
         const double v = c.Value();
         if (v < -50 || v > 50) throw ScpiError{-222, "Data out of range"};
         z.beamformingGain_ = v;
       }},
      {"SENS#:BURS:SEAR", sensorNumber(&Sensor::burstSearchLevel, -100, 100)},
      {"SENS#:VID:MIN", sensorNumber(&Sensor::videoMin, -100, 100)},
      {"SENS#:VID:MAX", sensorNumber(&Sensor::videoMax, -100, 100)},
      {"SENS#:SAMP:COUN", sensorLong(&Sensor::sampleCount, 1, kMaxSamples)},
      {"SENS#:SAMP:DIVF", sensorLong(&Sensor::dividerFast, 1, 1000000)},
      {"SENS#:SAMP:DIVS", sensorLong(&Sensor::dividerSlow, 0, 1000000)},
      {"SENS#:SAMP:PREC", sensorNumber(&Sensor::triggerOffset, -1e9, 1e9)},
      {"SENS#:SAMP:MODE", sensorWord(&Sensor::sampleMode, {"SAMP", "MAX"})},
      {"SENS#:SAMP:OPER", sensorWord(&Sensor::operation, {"ONCE", "LOOP"})},
      {"SENS#:MODE", sensorWord(&Sensor::mode, {"PDET", "PEAK", "COMP", "VID"})},
      {"SENS#:MEAS",
       [](Z& z, C& c) {
         Sensor& s = z.sensors_[static_cast<std::size_t>(MeasuredSensor(c.Num(0)))];
         // Asked, the unit says whether the sensor is in the sum (1) or not (0).
         if (c.query) return z.Answer(std::string(s.meas == "SUM" ? "1" : "0") + "\n");
         const std::string w = c.Word();
         c.OneOf(w, {"SUM", "SING", "OFF"});
         s.meas = w;
       }},
      {"SENS#:SAMP:RATE",
       [](Z& z, C& c) {
         if (!c.query) throw ScpiError{-113, "Undefined header"};
         z.Answer(Fmt(std::round(z.SampleRate(z.sensors_[static_cast<std::size_t>(SensorIndex(c.Num(0)))]))) + "\n");
       }},
      {"SENS#:SAMP:TIME",
       [](Z& z, C& c) {
         if (!c.query) throw ScpiError{-113, "Undefined header"};
         const Sensor& s = z.sensors_[static_cast<std::size_t>(SensorIndex(c.Num(0)))];
         z.Answer(Fmt(s.sampleCount / z.SampleRate(s)) + "\n");
       }},
      {"SENS#:TRIG#:SET",
       [](Z& z, C& c) {
         Sensor& s = z.sensors_[static_cast<std::size_t>(SensorIndex(c.Num(0)))];
         if (c.query) return z.Answer(Fmt(s.trigger[0]) + "\n");
         const std::string a = c.Word();
         const std::size_t comma = a.find(',');
         if (comma == std::string::npos) throw ScpiError{-109, "Missing parameter"};
         C first = c, second = c;
         first.args = a.substr(0, comma);
         second.args = a.substr(comma + 1, a.find(',', comma + 1) - comma - 1);
         s.trigger = {first.Value(), second.Value()};
       }},
      {"CONF:CLOC",
       [](Z& z, C& c) {
         if (c.query) return z.Answer(z.clock_ + "\n");
         const std::string w = c.Word();
         c.OneOf(w, {"C250", "C252", "CEXTERNAL"});
         z.clock_ = w;
       }},
      {"CONF:PORT#:ATT", attenuator(0)},
      {"CONF:COMP:ATT", attenuator(9)},
      {"CONF:BYP:ATT", attenuator(10)},
      {"CONF:TRIG:OUTP#",
       [](Z& z, C& c) {
         if (c.query) return z.Answer(std::to_string(z.triggerOut_) + "\n");
         z.triggerOut_ = c.LongValue();
       }},
      {"CONF:TRIG:MEAS#",
       [](Z& z, C& c) {
         if (c.query) return z.Answer(std::to_string(z.triggerMeasure_) + "\n");
         z.triggerMeasure_ = c.LongValue();
       }},
      {"CONF:PART#",
       [](Z& z, C& c) {
         const auto it = z.parts_.find(c.Num(0));
         if (c.query) return z.Answer(std::to_string(it == z.parts_.end() ? 0 : it->second) + "\n");
         if (it == z.parts_.end() && z.parts_.size() >= Z::kMaxParts) throw ScpiError{-225, "Out of memory"};
         z.parts_[c.Num(0)] = c.LongValue();
       }},
      {"CONF:PORT#:MODE", pathWord("PORT", {"ANA", "SUM", "ADI", "PDI"}, true)},
      {"CONF:GEN", pathWord("GEN", {"ON", "OFF"}, false)},
      {"CONF:GENS:MODE", pathWord("GENS", {"ABY", "ANA"}, false)},
      {"CONF:VGEN", pathWord("VGEN", {"ON", "OFF"}, false)},
      {"CONF:BYP:MODE", pathWord("BYP", {"ANA", "GEN", "OFF"}, false)},
      {"CONF:COMP:MODE", pathWord("COMP", {"ON", "SELF"}, false)},
      {"CONF:EXTC", pathWord("EXTC", {"EXT", "OFF", "DUT4"}, false)},
      {"INIT:IMM",
       [](Z& z, C&) {
         // A measurement records every sensor (and the sum) for its sample count.
         std::vector<int> channels = {1, 2, 3, 4, 5, 6, 7, 8};
         if (!z.SumMembers().empty()) channels.push_back(0);
         z.Measure(channels);
         double seconds = 0;
         for (int s = 1; s <= 8; ++s) {
           const Sensor& set = z.sensors_[static_cast<std::size_t>(s)];
           seconds = std::max(seconds, std::clamp(set.sampleCount, 1L, kMaxSamples) / z.SampleRate(set));
         }
         z.StartOperation(Operation::kMeasure, 0, seconds);
       }},
      {"SENS#:BURS:INIT",
       [](Z& z, C& c) {
         const int ch = SensorIndex(c.Num(0));
         z.SearchBursts(ch);
         z.StartOperation(Operation::kBurstSearch, ch, kBurstSearchSeconds);
       }},
      {"SENS#:RMS:INIT",
       [](Z& z, C& c) {
         const int ch = SensorIndex(c.Num(0));
         // An RMS measurement of its own; the last burst search's results stay.
         const Result before = z.results_[static_cast<std::size_t>(ch)];
         z.Measure({ch});
         Result& after = z.results_[static_cast<std::size_t>(ch)];
         after.burstStart = before.burstStart;
         after.burstOnTime = before.burstOnTime;
         after.burstLevel = before.burstLevel;
         after.searched = before.searched;
         after.dutyCycle = before.dutyCycle;
         after.mediumUtilization = before.mediumUtilization;
         const Sensor& set = z.sensors_[static_cast<std::size_t>(ch == 0 && !z.SumMembers().empty() ? z.SumMembers().front() : std::max(ch, 1))];
         z.StartOperation(Operation::kRms, ch, std::clamp(set.sampleCount, 1L, kMaxSamples) / z.SampleRate(set));
       }},
      {"ABOR",
       [](Z& z, C&) {
         z.op_ = {};
         z.opcArmed_ = false;
       }},
      {"SENS#:TRAC:DATA",
       [](Z& z, C& c) {
         if (!c.query) throw ScpiError{-113, "Undefined header"};
         Result& r = z.results_[static_cast<std::size_t>(SensorIndex(c.Num(0)))];
         if (r.trace.empty()) return z.Answer("0\n");
         if (r.traceText.empty()) {  // formatted once per measurement
           std::string& out = r.traceText;
           out.reserve(r.trace.size() * 7);
           for (std::size_t i = 0; i < r.trace.size(); ++i) {
             if (i) out += ',';
             char buf[24];
             out.append(buf, std::to_chars(buf, buf + sizeof buf, r.trace[i]).ptr);
           }
           out += '\n';
         }
         std::string out = z.AnswerBuffer();
         out.assign(r.traceText);
         z.Answer(std::move(out));
       }},
      {"SENS#:TRAC:MIN", result([](const Result& r) { return Fmt(r.minDbm) + "\n"; })},
      {"SENS#:TRAC:MAX", result([](const Result& r) { return Fmt(r.maxDbm) + "\n"; })},
      {"SENS#:RMS", result([](const Result& r) { return Fmt(std::round(r.rmsDbm * 1000) / 1000) + "\n"; })},
      {"SENS#:MU", result([](const Result& r) { return Fmt(std::round(r.mediumUtilization * 1000) / 1000) + "\n"; })},
      {"SENS#:DCYC", result([](const Result& r) { return Fmt(std::round(r.dutyCycle * 1000) / 1000) + "\n"; })},
      {"SENS#:BURS:COUN", result([](const Result& r) { return std::to_string(r.burstStart.size()) + "\n"; })},
      {"SENS#:BURS:STAR", result([](const Result& r) { return List(r.burstStart); })},
      {"SENS#:BURS:ONT", result([](const Result& r) { return List(r.burstOnTime); })},
      {"SENS#:BURS:LEV", result([](const Result& r) {
         std::vector<double> rounded;
         for (double v : r.burstLevel) rounded.push_back(std::round(v * 1000) / 1000);
         return List(rounded);
       })},
      {"SENS#:BURS:MAX", result([](const Result& r) {
         if (r.burstLevel.empty()) return std::string("0\n");
         // The strongest burst, counted from 1.
         const auto it = std::max_element(r.burstLevel.begin(), r.burstLevel.end());
         return std::to_string(it - r.burstLevel.begin() + 1) + "\n";
       })},
      {"SYST:ERR:ALL",
       [](Z& z, C& c) {
         if (!c.query) throw ScpiError{-113, "Undefined header"};
         std::string out;
         for (const auto& [code, text] : z.errors_) out += (out.empty() ? "" : ",") + std::to_string(code) + ",\"" + text + "\"";
         z.errors_.clear();
         z.Answer((out.empty() ? std::string("0,\"No error\"") : out) + "\n");
       }},
      {"SYST:ERR",
       [](Z& z, C& c) {
         if (!c.query) throw ScpiError{-113, "Undefined header"};
         z.Answer(z.NextError() + "\n");
       }},
      {"SYST:ERR:NEXT",
       [](Z& z, C& c) {
         if (!c.query) throw ScpiError{-113, "Undefined header"};
         z.Answer(z.NextError() + "\n");
       }},
      {"SYST:ERR:COUN",
       [](Z& z, C& c) {
         if (!c.query) throw ScpiError{-113, "Undefined header"};
         z.Answer(std::to_string(z.errors_.size()) + "\n");
       }},
      // The simulator's own, for benchmarks: N list values as a trace answers them.
      {"SYST:TEST:LIST",
       [](Z& z, C& c) {
         if (!c.query) throw ScpiError{-113, "Undefined header"};
         const std::string_view a = detail::Trim(std::string_view(c.text).substr(c.text.find('?') + 1));
         long n = 0;
         std::from_chars(a.data(), a.data() + a.size(), n);
         if (n < 1 || n > 2000000) throw ScpiError{-222, "Data out of range"};
         if (z.testListLength_ != n) {
           std::string& list = z.testList_;
           list.clear();
           list.reserve(static_cast<std::size_t>(n) * 7);
           char buf[16];
           for (long i = 0; i < n; ++i) {
             if (i) list += ',';
             const auto r = std::to_chars(buf, buf + sizeof buf, (i % 2 ? -1 : 1) * (1234 + (i * 37) % 9000));
             list.append(buf, r.ptr);
           }
           list += '\n';
           z.testListLength_ = n;
         }
         std::string out = z.AnswerBuffer();
         out.assign(z.testList_);
         z.Answer(std::move(out));
       }},
      {"SYST:VERS",
       [](Z& z, C& c) {
         if (!c.query) throw ScpiError{-113, "Undefined header"};
         z.Answer("1999.0\n");  // the SCPI version the unit follows
       }},
      {"SYST:DEV:HFB",
       [](Z& z, C& c) {
         if (!c.query) throw ScpiError{-113, "Undefined header"};
         z.Answer("1,0,2512,0\n");  // the board value 25.12 stands in the next-to-last field
       }},
      {"CAL:PATH#:PORT#:ROW#",
       [](Z& z, C& c) {
         if (!c.query) throw ScpiError{-113, "Undefined header"};
         const long path = c.Num(0), port = c.Num(1), row = c.Num(2);
         const int rows = RowsOfPath(path);
         if (rows == 0 || port < 1 || port > 8 || row < 1 || row > rows) {
           z.Answer("0\n");
           throw ScpiError{-222, "Data out of range"};
         }
         // A plausible loss: grows with the square root of the frequency, plus the attenuator step.
         const double step = rows == 11 ? (row - 1) * 10.0 : rows == 31 ? (row - 1) * 1.0 : 0.0;
         const int points = path == 1 ? 1800 : 600;
         std::string out;
         out.reserve(static_cast<std::size_t>(points) * 7);
         for (int i = 0; i < points; ++i) {
           const double ghz = (i + 1) * 0.01;
           const double loss = 1.5 + 0.3 * path + 0.1 * port + 1.2 * std::sqrt(ghz) + step;
           if (i) out += ',';
           out += std::to_string(-std::lround(loss * 100));
         }
         z.Answer(out + "\n");
       }},
  };
  return handlers;
}

}  // namespace sim
