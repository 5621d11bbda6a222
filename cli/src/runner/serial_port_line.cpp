#include <type_traits>

#include "console/console.h"
#include "runner/adapter_latency.h"
#include "runner/port_line.h"
#include "serial/port_names.h"
#include "serial/serial_loop_line.h"
#include "serial/serial_port.h"
#include "serial/serial_wnd.h"

namespace vexel::cli {
namespace {

template <typename Serial>
class SerialPortLine final : public PortLine {
 public:
  ISerialLine& Line() override { return m_serial; }
  int LastOsError() const override { return m_serial.LastOsError(); }
  std::string DevicePath(const std::string& portName) const override {
    return ResolvePortName(portName);
  }
  std::string Refusal(const std::string& portName) const override {
    return OwnTerminalRefusal(ResolvePortName(portName));
  }
  std::string AdapterWarning(const std::string& portName) const override {
    return LatencyWarning(ResolvePortName(portName));
  }
  std::string DescribeResult(int32_t result) const override {
    return vexel::DescribeResult(result);
  }
  void AttachEventLoop(LineEventLoop& lineLoop, EventLoop&) override {
    if constexpr (std::is_same_v<Serial, CSerialLoopLine>) m_serial.SetEventLoop(&lineLoop);
  }

 private:
  Serial m_serial;
};

}  // namespace

std::unique_ptr<PortLine> MakeSerialPortLine() {
  return std::make_unique<SerialPortLine<CSerialLoopLine>>();
}

std::unique_ptr<PortLine> MakeThreadedSerialPortLine() {
  return std::make_unique<SerialPortLine<CSerialCWnd>>();
}

}  // namespace vexel::cli
