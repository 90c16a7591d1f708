// Automation's own variants (UTF-16 strings, safe arrays, records known by
// their record information) as the member table's call frame.  Every type
// is checked here, whatever the caller's automation runtime let through: a
// lenient caller never makes the component read or write past an array or
// a record.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <vector>

#include "com/Frame.h"

namespace com::win32 {

class VariantFrame final : public Frame {
 public:
  // `args` in their natural order (first argument first), each the
  // caller's variant; `result` may be null; `self` is handed out by ReturnSelf.
  VariantFrame(std::vector<VARIANT*> args, VARIANT* result, IDispatch* self);

  std::size_t Count() const override { return args_.size(); }
  bool Given(std::size_t i) const override;
  void Read(std::size_t i, vb::Long& out) const override;
  void Read(std::size_t i, double& out) const override;
  void Read(std::size_t i, bool& out) const override;
  void Read(std::size_t i, std::string& out) const override;
  void Read(std::size_t i, std::vector<double>& out) const override;
  void Read(std::size_t i, std::vector<vb::Long>& out) const override;
  void Read(std::size_t i, AttTableProp& out) const override;
  void Read(std::size_t i, std::shared_ptr<host::ISettings>& out) const override;
  void WriteBack(std::size_t i, const std::string& value) override;
  void WriteBack(std::size_t i, const std::vector<double>& value) override;
  void WriteBack(std::size_t i, const std::vector<vb::Long>& value) override;
  void WriteBack(std::size_t i, const AttTableProp& value) override;
  void Return(vb::Long value) override;
  void Return(double value) override;
  void Return(bool value) override;
  void Return(const std::string& value) override;
  void Return(const std::vector<double>& value) override;
  void Return(const std::vector<vb::Long>& value) override;
  void Return(const AttTableProp& value) override;
  void Return(const DeviceInfo& value) override;
  void Return(const MeasuredValue& value) override;
  void ReturnSelf() override;

 private:
  // Argument i, a by-reference variant followed to the caller's variant.
  VARIANT& At(std::size_t i) const;
  void Out(VARIANT& made);

  std::vector<VARIANT*> args_;
  VARIANT* result_;
  IDispatch* self_;
};

}  // namespace com::win32
