// The host's data library: path attenuation rows are stored as data sets of
// two columns (0 = frequency in Hz, 1 = attenuation in dB).
#pragma once

#include <string>

#include "core/Export.h"

namespace host {

class QUORVEL_API IDataSet {
 public:
  virtual ~IDataSet() = default;
  virtual void SetRowCount(long rows) = 0;
  virtual void SetCell(long column, long row, double value) = 0;
  virtual void Store(bool flag) = 0;
};

// The host's folder object (utility `Paths`).
class QUORVEL_API IPaths {
 public:
  virtual ~IPaths() = default;
  // Base folder, ending in a separator; the driver appends "Setups\Zentrix8".
  virtual std::string BaseFolder() = 0;
  // State of the host's data handling; 9 lets a newly read row be saved.
  virtual long StateOf(std::string& what) = 0;
};

}  // namespace host
