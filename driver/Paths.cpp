// Path switching and path attenuation tables.
#include <cmath>

#include "driver/clsQuorvelUnit.h"
#include "driver/modMain.h"

namespace {
constexpr double kRowStart = 10e6;  // Hz, the first point of every row
constexpr double kRowStep = 10e6;   // Hz between points
constexpr double kNotDelivered = -137;  // dB, fills a row the unit did not deliver
constexpr double kNoAttenuation = 1000; // no value can be given
constexpr const char* kTableFolder = "Setups\\Zentrix8";

double& At(std::vector<double>& a, vb::Long i) {
  if (i < 0 || static_cast<std::size_t>(i) >= a.size()) vb::Raise(vb::err::SubscriptOutOfRange);
  return a[static_cast<std::size_t>(i)];
}
}  // namespace

void clsQuorvelUnit::SetPath(vb::Long path) {
  if (m_Link.Interface() == kInterfaceVisa) WriteCmd(modMain::PathCommand(path));
}

platform::IMessageBox& clsQuorvelUnit::MessageBox() const {
  if (!m_Platform.messageBox) vb::Raise(vb::err::ObjectNotSet);
  return *m_Platform.messageBox;
}

// --- the cache ----------------------------------------------------------------------

vb::Long clsQuorvelUnit::AttTableKey(const AttTableProp& p) {
  vb::Long key = (p.ByPass ? 1 : 0) + (p.Rx18 ? 2 : 0) + (p.Sum ? 4 : 0);
  key = vb::AddLong(key, vb::MulLong(p.Attenuator, 256));
  key = vb::AddLong(key, vb::MulLong(p.FromPort, 4096));
  return vb::AddLong(key, vb::MulLong(p.ToPort, 65536));
}

std::vector<AttTable>& clsQuorvelUnit::AttTables() const {
  if (!m_AttTables) vb::Raise(vb::err::ObjectNotSet);  // before the device is named
  return *m_AttTables;
}

// The key alone is not unique (a large attenuator shares bits with the port),
// so entries are matched by the whole path record.
bool clsQuorvelUnit::HasAttTable(const AttTableProp& prop) const {
  for (const AttTable& t : AttTables())
    if (t.TableProp == prop) return true;
  return false;
}

AttTable clsQuorvelUnit::GetAttTable(const AttTableProp& prop) const {
  for (const AttTable& t : AttTables())
    if (t.TableProp == prop) return t;
  vb::Raise(vb::err::InvalidCall);
}

void clsQuorvelUnit::AddAttTable(const AttTableProp& prop, AttTable table) {
  if (HasAttTable(prop)) vb::Raise(vb::err::DuplicateKey);
  table.TableProp = prop;
  table.key = AttTableKey(prop);
  AttTables().push_back(std::move(table));
}

void clsQuorvelUnit::RemoveAttTable(const AttTableProp& prop) {
  std::vector<AttTable>& tables = AttTables();
  for (auto it = tables.begin(); it != tables.end(); ++it)
    if (it->TableProp == prop) {
      tables.erase(it);
      return;
    }
  vb::Raise(vb::err::InvalidCall);
}

// --- reading and saving rows ----------------------------------------------------------

bool clsQuorvelUnit::ReadPathRow(const AttTableProp& prop, AttTable& table) {
  const vb::Long pathNr = GetPathNr(prop);
  if (pathNr == 0) {
    MessageBox().Show("The Path from " + modMain::PortShortName(prop.FromPort) + " to " +
                          modMain::PortShortName(prop.ToPort) + " does not exist!",
                      platform::vbOKOnly, "Quorvel Unit");
    return false;
  }
  table.TableProp = prop;
  table.StartFrq = kRowStart;
  table.step = kRowStep;
  table.count = prop.Rx18 ? 1800 : 600;  // 10 MHz to 18 GHz, or to 6 GHz
  vb::Long port = 1, row = 1;
  if (prop.Rx18) {
    port = prop.FromPort;
  } else if (prop.FromPort <= 8) {
    port = prop.FromPort;
    row = GetAttNr(pathNr, prop.Attenuator);
  } else if (prop.ToPort != pAntenna) {
    row = GetAttNr(pathNr, prop.Attenuator);
  }
  // The unit sends hundredths of a dB.
  RequestCmdValueList(modMain::CalRowQuery(pathNr, port, row), table.AttValues, 0.1, 100);
  if (table.AttValues.size() <= 1) table.AttValues.assign(static_cast<std::size_t>(table.count) + 1, kNotDelivered);
  return true;
}

void clsQuorvelUnit::SaveDataSet(const std::string& name, std::string& savepath, const AttTable& table) {
  if (!savepath.empty() && savepath.back() != '\\') savepath += '\\';
  const std::string fullName = savepath + name;
  host::IUtility& utility = host::Require(m_Host.utility);
  if (utility.DataSetExists(fullName, 41, 9)) return;  // an existing data set is never overwritten
  std::shared_ptr<host::IDataSet> ds = utility.CreateDataSet(41, 10, fullName, 9, true);
  host::Require(ds).SetRowCount(table.count);
  std::vector<double> values = table.AttValues;
  for (vb::Long i = 0; i < table.count; ++i) {
    ds->SetCell(0, i, table.StartFrq + i * table.step);
    ds->SetCell(1, i, At(values, i));
  }
  ds->Store(false);
}

std::string clsQuorvelUnit::GetPathAttenuationFilename(const AttTableProp& prop) const {
  std::string name = "Zentrix " + modMain::PortShortName(prop.FromPort) + " to " + modMain::PortShortName(prop.ToPort);
  if (prop.Rx18)
    name += " 18GHz";
  else if (prop.Sum)
    name += " SUM";
  else if (prop.ByPass)
    name += " BYP";
  if (prop.Attenuator >= 0) name += " " + std::to_string(prop.Attenuator) + "dB";
  return name;
}

void clsQuorvelUnit::SavePathAttenuationTabletoDriver(AttTableProp& prop) {
  Traced("SavePathAttenuationTabletoDriver", [&](io::ErrorFrame& f) {
    f.Step([&] { RoundAttenuatorStep(prop); });
    f.Step([&] {
      if (HasAttTable(prop)) RemoveAttTable(prop);
    });
    AttTable table;
    if (!f.Step([&] { return ReadPathRow(prop, table); })) return;
    f.Step([&] { AddAttTable(prop, std::move(table)); });
  });
}

void clsQuorvelUnit::SavePathAttenuationTable(AttTableProp& prop, std::string& savepath) {
  Traced("SavePathAttenuationTable", [&](io::ErrorFrame& f) {
    f.Step([&] { RoundAttenuatorStep(prop); });
    AttTable table;  // read for saving only; the cache is not touched
    if (!f.Step([&] { return ReadPathRow(prop, table); })) return;
    f.Step([&] { SaveDataSet(GetPathAttenuationFilename(prop), savepath, table); });
  });
}

void clsQuorvelUnit::SavePathAttFromDriver(AttTableProp& prop, std::string& savepath) {
  Traced("SavePathAttFromDriver", [&](io::ErrorFrame& f) {
    // The table first: a path that is not cached creates no data set.
    const AttTable table = f.Step([&] { return GetAttTable(prop); });
    if (table.count <= 0) return;
    f.Step([&] { SaveDataSet(GetPathAttenuationFilename(prop), savepath, table); });
  });
}

void clsQuorvelUnit::InitPathAttenuationSave() {
  Traced("InitPathAttenuationSave", [&](io::ErrorFrame& f) {
    std::string folder;
    f.Step([&] {
      if (auto paths = host::Require(m_Host.utility).Paths()) folder = paths->BaseFolder() + kTableFolder;
    });
    const std::vector<AttTable> tables = f.Step([&] { return AttTables(); });
    for (const AttTable& t : tables) {
      AttTableProp prop = t.TableProp;
      if (prop.FromPort >= 1 && prop.ToPort >= 1) f.Step([&] { SavePathAttFromDriver(prop, folder); });
    }
  });
}

double clsQuorvelUnit::GetPathAttenuation(double frq, AttTableProp& prop, vb::Long interpolation) {
  return Traced("GetPathAttenuation", [&](io::ErrorFrame& f) -> double {
    // Looked up by the record rounded to the attenuator's step, as it is cached.
    AttTableProp path = prop;
    RoundAttenuatorStep(path);
    if (!f.Step([&] { return HasAttTable(path); })) {
      f.Step([&] { SavePathAttenuationTabletoDriver(prop); });  // rounds the caller's record
      if (!HasAttTable(path)) return kNoAttenuation;
      f.Step([&] {
        auto paths = host::Require(m_Host.utility).Paths();
        std::string what;
        if (paths && paths->StateOf(what) == 9) {
          std::string folder = paths->BaseFolder() + kTableFolder;
          SavePathAttFromDriver(path, folder);
        }
      });
    }
    AttTable t = f.Step([&] { return GetAttTable(path); });
    const double last = t.StartFrq + t.step * (t.count - 1);
    if (frq < t.StartFrq || frq > last) return kNoAttenuation;
    return f.Step([&] {
      const vb::Long i = vb::CLng((frq - t.StartFrq) / t.step);
      const double fi = i * t.step + t.StartFrq;
      const long upper = static_cast<long>(t.AttValues.size()) - 1;
      const long j = host::Require(m_Host.time).Min(i + 1, upper);
      const double ai = At(t.AttValues, i), aj = At(t.AttValues, j);
      if (interpolation == 0) return ai + (aj - ai) * ((frq - fi) / t.step);
      // Logarithmic: A(i) * (A(j) / A(i)) ^ t, only between values of one sign.
      const double ratio = vb::Divide(aj, ai);
      if (ratio <= 0) vb::Raise(vb::err::InvalidCall);
      const double tl = std::log(frq / fi) / std::log((fi + t.step) / fi);
      return ai * std::exp(tl * std::log(ratio));
    });
  });
}
