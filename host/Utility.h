// The host's utility service: settings objects, the stop request, the
// message list, folders and data sets.
#pragma once

#include <memory>
#include <string>

#include "host/DataSet.h"
#include "host/Settings.h"
#include "core/Export.h"

namespace host {

class QUORVEL_API IUtility {
 public:
  virtual ~IUtility() = default;
  // The driver always asks for (1, 10, "dummy", 0, 0).
  virtual std::shared_ptr<ISettings> CreateSettings(long a, long b, const std::string& name, long c, long d) = 0;
  virtual bool StopRequested() = 0;
  // Host message list: the driver passes 0, a text, and True for a text
  // line or False for a line break.
  virtual void MessageList(long kind, const std::string& text, bool isText) = 0;
  virtual std::shared_ptr<IPaths> Paths() = 0;  // may be empty
  virtual bool DataSetExists(const std::string& fullName, long kind, long subKind) = 0;
  virtual std::shared_ptr<IDataSet> CreateDataSet(long kind, long columnsKind, const std::string& fullName,
                                                  long subKind, bool flag) = 0;
};

}  // namespace host
