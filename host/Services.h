// The host services a driver object uses, bundled.  The host creates each
// service once per process; tests hand a driver their own bundle.
#pragma once

#include <memory>

#include "host/DeviceList.h"
#include "host/TextService.h"
#include "host/TimeService.h"
#include "host/TraceLogger.h"
#include "host/UnitService.h"
#include "host/Utility.h"
#include "core/Export.h"
#include "core/Vb.h"

namespace host {

struct Services {
  std::shared_ptr<ITraceLogger> logger;
  std::shared_ptr<IDeviceList> deviceList;
  std::shared_ptr<IUtility> utility;
  std::shared_ptr<ITimeService> time;
  std::shared_ptr<ITextService> text;
  std::shared_ptr<IUnitService> units;
};

// A service that is missing is VB's "Object variable ... not set" (91).
template <class T>
T& Require(const std::shared_ptr<T>& service) {
  if (!service) vb::Raise(vb::err::ObjectNotSet);
  return *service;
}

}  // namespace host
