// The portable boundary's variants as a call frame: numbers convert among
// themselves as an automation host coerces them (a Double rounds half to
// even into a Long, overflow is an error), Empty is 0, "" or an empty list,
// a text is never a number.
#pragma once

#include <string>

#include "com/ComTypes.h"
#include "com/Frame.h"

namespace com {

class VariantFrame final : public Frame {
 public:
  // `result` may be null (the caller wants none); `self` is the object's
  // dispatch interface, handed out by ReturnSelf.
  VariantFrame(const DISPPARAMS& params, VARIANT* result, IDispatch* self);

  std::size_t Count() const override { return count_; }
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
  // The value of argument i (behind a by-reference variant).
  const VARIANT& At(std::size_t i) const;
  // The caller's variant behind a by-reference argument i, or nullptr.
  VARIANT* ByRef(std::size_t i) const;
  template <class T>
  void Out(const T& value);
  template <class T>
  void Back(std::size_t i, const T& value);

  const DISPPARAMS& params_;
  std::size_t count_;
  VARIANT* result_;
  IDispatch* self_;
};

// The exception a failed call hands back: source, description, scode.
void FillException(EXCEPINFO* e, long number, const std::string& source, const std::string& description);

}  // namespace com
